// Who may use the page: HTTP Basic credentials against the users file, and
// the centers each user may read and change.
#include "access.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "server_test_util.hpp"

namespace harnolfees::server::testing {
namespace {

std::string Basic(const std::string& user, const std::string& password) {
  return httplib::make_basic_authentication_header(user, password).second;
}

const std::string kInsert12 = InsertRenewalOption(12, 0);
const std::string kInsert20 = InsertRenewalOption(20, 0);

// The users come from a users file on SQLite and from the database's table
// Users (--users db) on PostgreSQL, where several servers share them.
class AccessTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const std::vector<std::string> entries = {
        UserDirectory::MakeEntry("alice", "s3cret", "12", "12", 1000),
        UserDirectory::MakeEntry("bob", "pa:ss word", "*", "", 1000),
        UserDirectory::MakeEntry("carol", "x", "", "20,21", 1000)};
    ServerOptions o = OptionsFor(db_.target(), {{12, false}, {20, true}});
    if (GetParam() == Backend::SQLite) {
      o.usersFile = db_.dir().File("users");
      std::ofstream(o.usersFile) << "# fee page users\n\n"
                                 << entries[0] << "\n"
                                 << entries[1] << "\r\n"
                                 << entries[2] << "\n";
    } else {
      OpenDatabase(DatabaseOptionsFor(o));  // the schema, with its table Users
      for (const std::string& e : entries) {
        db_.Exec("INSERT INTO Users (Name, Entry) VALUES ('" + e.substr(0, e.find(':')) + "', '" +
                 e + "')");
      }
      o.usersFile = "db";
    }
    server_ = std::make_unique<RunningServer>(o);
  }
  TestDatabase db_{GetParam()};
  std::unique_ptr<RunningServer> server_;
};

TEST_P(AccessTest, CredentialsDecideWhoReachesWhichCenters) {
  const httplib::Headers alice{{"Authorization", Basic("alice", "s3cret")}};
  const httplib::Headers bob{{"Authorization", Basic("bob", "pa:ss word")}};
  const httplib::Headers carol{{"Authorization", Basic("carol", "x")}};
  auto res = server_->Client()->Get("/TermFeesAX.asp?Center=12");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 401);
  EXPECT_NE(res->get_header_value("WWW-Authenticate").find("Basic"), std::string::npos);
  for (const std::string& header :
       {Basic("alice", "wrong"), Basic("mallory", "s3cret"), Basic("alice", ""),
        std::string("Basic !!!!"), std::string("Bearer abc"), Basic("alice", "s3cret") + "x"}) {
    EXPECT_EQ(server_->Get("/TermFeesAX.asp?Center=12", {{"Authorization", header}}).first, 401)
        << header;
  }
  const std::string before = db_.Dump();
  EXPECT_EQ(server_->Post(kInsert12).first, 401);
  EXPECT_EQ(server_->Post(kInsert12, {{"Authorization", Basic("alice", "S3CRET")}}).first, 401);
  // The right password works, twice (the second time from the remembered check).
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(server_->Get("/TermFeesAX.asp?Center=12", alice).first, 200);
  EXPECT_EQ(server_->Get("/TermFeesAX.asp?Center=99", bob).first, 200);

  // Each user reaches only the centers the users file gives.
  auto [status, body] = server_->Get("/TermFeesAX.asp?Center=20", alice);
  EXPECT_EQ(status, 403);
  EXPECT_NE(body.find("may not read center 20"), std::string::npos) << body;
  auto forbidden = server_->Post(kInsert20, alice);
  EXPECT_EQ(forbidden.first, 403);
  EXPECT_NE(forbidden.second.find("may not change center 20"), std::string::npos);
  EXPECT_EQ(server_->Post(kInsert12, bob).first, 403);  // bob reads only
  // A text whose second statement names another center is refused whole.
  EXPECT_EQ(server_->Post(kInsert12 + "\r\n" + kInsert20, alice).first, 403);
  EXPECT_EQ(db_.Dump(), before);

  EXPECT_EQ(server_->Post(kInsert12, alice).first, 200);
  EXPECT_EQ(server_->Post(kInsert20, carol).first, 200);
  // Writing implies reading.
  EXPECT_EQ(server_->Get("/TermFeesAX.asp?Center=20", carol).first, 200);
  EXPECT_EQ(db_.Query("SELECT CenterID FROM RenewalOptionFee ORDER BY 1"),
            (std::vector<std::string>{"12", "20"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, AccessTest, AllBackends(), BackendName);

TEST(Access, AnUnknownNameCostsTheHashOfAWrongPassword) {
  auto users =
      UserDirectory::Parse(UserDirectory::MakeEntry("ann", "pw", "*", "*", 1000) + "\n" +
                               UserDirectory::MakeEntry("ben", "pw", "*", "*", 3000) + "\n",
                           "users");
  EXPECT_EQ(users->Authenticate(Basic("ann", "wrong")), nullptr);
  EXPECT_EQ(users->hashesComputed(), 1u);
  EXPECT_EQ(users->Authenticate(Basic("nobody", "wrong")), nullptr);
  EXPECT_EQ(users->hashesComputed(), 2u);
  EXPECT_NE(users->Authenticate(Basic("ann", "pw")), nullptr);
  EXPECT_NE(users->Authenticate(Basic("ann", "pw")), nullptr);  // remembered
  EXPECT_EQ(users->hashesComputed(), 3u);
}

TEST(Access, FailedLoginsBeyondTheLimitBrakeTheirAddressForAWhile) {
  using namespace std::chrono_literals;
  LoginBrake brake(3, 60s);
  const auto t = LoginBrake::Clock::now();
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(brake.Failed("10.0.0.1", t + i * 1s)) << i;
  EXPECT_FALSE(brake.Refuses("10.0.0.1", t + 3s));
  EXPECT_TRUE(brake.Failed("10.0.0.1", t + 4s));  // the fourth within the minute
  EXPECT_TRUE(brake.Refuses("10.0.0.1", t + 5s));
  EXPECT_FALSE(brake.Refuses("10.0.0.2", t + 5s));
  EXPECT_FALSE(brake.Refuses("10.0.0.1", t + 64s));
  // Failures spread over more than a minute do not add up.
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(brake.Failed("10.0.0.3", t + i * 25s)) << i;

  // On the page: 429 for everyone from the address, the right password
  // included, and one line in the log.
  TempDir dir;
  const std::string users = dir.File("users");
  std::ofstream(users) << UserDirectory::MakeEntry("ann", "pw", "*", "*", 1000) << "\n";
  std::ostringstream log;
  {
    ServerOptions o = OptionsFor(dir.File("fees.db"), {{12, false}});
    o.usersFile = users;
    o.maxFailedLogins = 2;
    o.log = &log;
    RunningServer server(o);
    const std::string page = "/TermFeesAX.asp?Center=12";
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(server.Get(page, {{"Authorization", Basic("ann", "no")}}).first, 401) << i;
    }
    // The refusal is held back, so a braked address asks at most once a
    // second per connection.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(server.Get(page, {{"Authorization", Basic("ann", "no")}}).first, 429);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 900ms);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(server.Get(page, {{"Authorization", Basic("ann", "pw")}}).first, 429) << i;
      EXPECT_EQ(server.Post(kInsert12, {{"Authorization", Basic("ann", "pw")}}).first, 429) << i;
    }
  }
  const std::string text = log.str();
  const std::string braked = "127.0.0.1 refused for 60 s after more than 2 failed logins";
  EXPECT_NE(text.find(braked), std::string::npos) << text;
  EXPECT_EQ(text.find(braked), text.rfind(braked)) << text;
}

TEST(Access, UsersFileCommandLineAndLoopback) {
  const std::string good = UserDirectory::MakeEntry("dave", "pw", "*", "1,2", 1000);
  EXPECT_EQ(UserDirectory::Parse("# c\n" + good + "\n", "users")->size(), 1u);
  const std::string hash = std::string(64, '0');
  for (const auto& [text, says] : std::vector<std::pair<std::string, std::string>>{
           {"\n" + good + "\n" + good, "line 3: user dave appears twice"},
           {"dave:md5:1000:0011223344556677:" + hash + ":*:*", "unknown hash scheme"},
           {"dave:pbkdf2-sha256:10:0011223344556677:" + hash + ":*:*", "iteration count"},
           {"dave:pbkdf2-sha256:1000:0011223344556677:00:*:*", "bad hash"},
           {"dave:pbkdf2-sha256:1000:0011223344556677:" + hash + ":1;2:*", "centers to read"}}) {
    try {
      UserDirectory::Parse(text, "users");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  }

  auto parsed = ParseCommandLine({"--db", "f.db", "--listen", "127.0.0.1:0", "--users", "u",
                                  "--demo", "--center", "7:travel", "--synchronous", "NORMAL",
                                  "--max-failed-logins", "25"});
  ASSERT_TRUE(std::holds_alternative<ServerOptions>(parsed)) << std::get<std::string>(parsed);
  const auto& o = std::get<ServerOptions>(parsed);
  EXPECT_EQ(o.port, 0);
  EXPECT_TRUE(o.demo && o.centers.at(0).showTravelOption && o.usersFile == "u");
  EXPECT_EQ(o.synchronous, Synchronous::Normal);
  EXPECT_EQ(o.maxFailedLogins, 25);
  for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                              {"--db", "f", "--max-failed-logins", "0"},
                                              {"--db", "f", "--listen", "127.0.0.1:70000"},
                                              {"--db", "f", "--synchronous", "off"},
                                              {"--db", "f", "--bogus"}}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(ParseCommandLine(bad)));
  }

  // Without a users file the server listens on loopback addresses only.
  TempDir dir;
  ServerOptions open = OptionsFor(dir.File("fees.db"));
  open.host = "0.0.0.0";
  open.port = 0;
  FeeServer everywhere(open);
  EXPECT_THROW(everywhere.Bind(), std::runtime_error);
  open.host = "127.0.0.2";
  FeeServer loopback(open);
  EXPECT_GT(loopback.Bind(), 0);
}

}  // namespace
}  // namespace harnolfees::server::testing
