// Who may use the page: HTTP Basic credentials against the users file, and
// the centers each user may read and change.
#include "access.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "server_test_util.hpp"

namespace harnolfees::server::testing {
namespace {

std::string Basic(const std::string& user, const std::string& password) {
  return httplib::make_basic_authentication_header(user, password).second;
}

const std::string kInsert12 =
    " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
    "RecordLastUpdated)  VALUES (12, '03/15/2004', 49,  GETDATE()) ";
const std::string kInsert20 =
    " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
    "RecordLastUpdated)  VALUES (20, '03/15/2004', 49,  GETDATE()) ";

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
      std::ofstream f(o.usersFile);
      f << "# fee page users\n\n"
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

TEST_P(AccessTest, RequestsNeedValidCredentials) {
  auto c = server_->Client();
  auto res = c->Get("/TermFeesAX.asp?Center=12");
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
  EXPECT_EQ(db_.Dump(), before);
  // The right password works, twice (the second time from the remembered check).
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(
        server_->Get("/TermFeesAX.asp?Center=12", {{"Authorization", Basic("alice", "s3cret")}})
            .first,
        200);
  }
  EXPECT_EQ(
      server_->Get("/TermFeesAX.asp?Center=99", {{"Authorization", Basic("bob", "pa:ss word")}})
          .first,
      200);
}

TEST_P(AccessTest, UsersReachOnlyTheirCenters) {
  const httplib::Headers alice{{"Authorization", Basic("alice", "s3cret")}};
  const httplib::Headers bob{{"Authorization", Basic("bob", "pa:ss word")}};
  const httplib::Headers carol{{"Authorization", Basic("carol", "x")}};
  auto [status, body] = server_->Get("/TermFeesAX.asp?Center=20", alice);
  EXPECT_EQ(status, 403);
  EXPECT_NE(body.find("may not read center 20"), std::string::npos) << body;

  const std::string before = db_.Dump();
  auto forbidden = server_->Post(kInsert20, alice);
  EXPECT_EQ(forbidden.first, 403);
  EXPECT_NE(forbidden.second.find("may not change center 20"), std::string::npos);
  EXPECT_EQ(server_->Post(kInsert12, bob).first, 403);  // bob reads only
  // A text whose second statement names another center is refused whole.
  EXPECT_EQ(server_->Post(kInsert12 + "\r\n" + kInsert20, alice).first, 403);
  EXPECT_EQ(db_.Dump(), before);

  EXPECT_EQ(server_->Post(kInsert12, alice).first, 200);
  EXPECT_EQ(server_->Post(kInsert20, carol).first, 200);
  EXPECT_EQ(server_->Get("/TermFeesAX.asp?Center=20", carol).first,
            200);  // writing implies reading
  EXPECT_EQ(db_.Query("SELECT CenterID FROM RenewalOptionFee ORDER BY 1"),
            (std::vector<std::string>{"12", "20"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, AccessTest, AllBackends(), BackendName);

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
                                  "--demo", "--center", "7:travel", "--synchronous", "NORMAL"});
  ASSERT_TRUE(std::holds_alternative<ServerOptions>(parsed)) << std::get<std::string>(parsed);
  const auto& o = std::get<ServerOptions>(parsed);
  EXPECT_EQ(o.port, 0);
  EXPECT_TRUE(o.demo && o.centers.at(0).showTravelOption && o.usersFile == "u");
  EXPECT_EQ(o.synchronous, Synchronous::Normal);
  for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                              {"--db", "f", "--listen", "127.0.0.1:70000"},
                                              {"--db", "f", "--synchronous", "off"},
                                              {"--db", "f", "--bogus"}}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(ParseCommandLine(bad)));
  }

  // Without a users file the server listens on loopback addresses only.
  TempDir dir;
  ServerOptions open = OptionsFor(dir.File("fees.db"));
  open.host = "0.0.0.0";
  EXPECT_THROW(FeeServer{open}, std::runtime_error);
  EXPECT_TRUE(IsLoopbackHost("::1"));
  EXPECT_FALSE(IsLoopbackHost("192.168.1.5"));
}

}  // namespace
}  // namespace harnolfees::server::testing
