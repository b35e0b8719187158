// Durability and concurrency: the built server binary is killed with SIGKILL
// in the middle of a stream of saves and must hold every confirmed statement
// after a restart; many clients at once lose and interleave nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>

#include "database_session.hpp"
#include "server_test_util.hpp"
#include "values.hpp"

namespace harnolfees::server::testing {
namespace {

std::string DayText(int day) {
  auto ts = Timestamp::FromParts(1800, 1, 1)->AddSeconds(std::int64_t{day} * 86400);
  const std::string s = ts->ToStorage();  // yyyy-mm-dd
  return s.substr(5, 2) + "/" + s.substr(8, 2) + "/" + s.substr(0, 4);
}

std::string InsertRenewalOption(int center, int day) {
  return " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
         "RecordLastUpdated)  VALUES (" +
         std::to_string(center) + ", '" + DayText(day) + "', " + std::to_string(day % 997) +
         ".25,  GETDATE()) ";
}

TEST(Durability, SigkillLosesNoConfirmedStatement) {
  TempDir dir;
  const std::string db = dir.File("fees.db");
  const std::string log = dir.File("server.log");
  const std::vector<std::string> args = {"--db", db, "--listen", "127.0.0.1:0", "--center", "1"};
  std::set<std::string> confirmed;
  {
    ServerProcess server(HARNOLFEES_SERVER_PATH, args, {log});
    std::mutex m;
    std::atomic<int> count{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
      clients.emplace_back([&, t] {
        httplib::Client c("127.0.0.1", server.port());
        c.set_read_timeout(10, 0);
        for (int i = 0; i < 5000; ++i) {
          const int day = t * 20000 + i;
          auto res = c.Post("/TermFeesAX.asp", "SQL=" + FormEncode(InsertRenewalOption(1, day)),
                            "application/x-www-form-urlencoded");
          if (!res) return;  // the server is gone
          if (res->status == 200 && res->body.empty()) {
            std::lock_guard lock(m);
            confirmed.insert(DayText(day));
            ++count;
          }
        }
      });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (count < 300 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    server.Kill();  // in the middle of the stream
    for (auto& c : clients) c.join();
  }
  ASSERT_GE(confirmed.size(), 300u);

  ServerProcess restarted(HARNOLFEES_SERVER_PATH, args, {log});
  httplib::Client c("127.0.0.1", restarted.port());
  auto res = c.Get("/TermFeesAX.asp?Center=1");
  ASSERT_TRUE(res);
  std::size_t missing = 0;
  for (const std::string& day : confirmed) {
    const std::string iso = day.substr(6, 4) + "-" + day.substr(0, 2) + "-" + day.substr(3, 2);
    if (res->body.find("<Effectivity>" + iso + "T00:00:00</Effectivity>") == std::string::npos) {
      ++missing;
    }
  }
  EXPECT_EQ(missing, 0u) << "of " << confirmed.size() << " confirmed statements";
  EXPECT_EQ(Query(db, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_EQ(restarted.Stop(), 0);
  // Without --users the server says that it listens on loopback only.
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("loopback"), std::string::npos);
}

class Concurrency : public ::testing::TestWithParam<Backend> {};

TEST_P(Concurrency, ManyClientsLoseAndInterleaveNothing) {
  const TestDatabase db(GetParam());
  std::vector<CenterOption> centers;
  for (int c = 1; c <= 8; ++c) centers.push_back({c, false});
  ServerOptions options = OptionsFor(db.target(), centers);
  options.pool = 3;  // PostgreSQL: fewer connections than clients; saves wait for one
  RunningServer server(options);
  constexpr int kSaves = 30;
  std::atomic<int> failures{0};
  std::vector<std::thread> clients;
  // Each client adds a renewal-fee history to its own center: every text
  // expires the record in force and inserts its successor.
  for (int t = 0; t < 8; ++t) {
    clients.emplace_back([&, t] {
      const std::string center = std::to_string(t + 1);
      for (int i = 0; i < kSaves; ++i) {
        const std::string date = DayText(70000 + i * 31);
        auto [status, body] = server.Post(
            " UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '" + date +
            "') WHERE CenterID = " + center +
            " AND MEmberAccessLevelID = 2 AND TravelMembership = 0 AND ExpirationDate IS "
            "NULL\r\n INSERT INTO MembershipRenewalFee ( CenterID, EffectivityDate, "
            "MembershipRenewalFee, CenterPortion, MemberAccessLevelID, TravelMembership, "
            "RecordLastUpdated)  VALUES (" +
            center + ", '" + date + "', " + std::to_string(i) + ", 0.5,2,0,  GETDATE()) ");
        if (status != 200 || !body.empty()) ++failures;
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(failures, 0);
  if (GetParam() == Backend::PostgreSQL) {
    const auto held = db.Query(
        "SELECT count(*) BETWEEN 1 AND 3 FROM pg_stat_activity WHERE application_name = "
        "'harnolfees-server' AND datname = current_database()");
    EXPECT_EQ(held, std::vector<std::string>{"t"});
  }
  for (int t = 1; t <= 8; ++t) {
    auto rows = db.Query(
        "SELECT EffectivityDate, ExpirationDate, MembershipRenewalFee FROM "
        "MembershipRenewalFee WHERE CenterID = " +
        std::to_string(t) + " ORDER BY EffectivityDate");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kSaves));
    for (int i = 0; i < kSaves; ++i) {
      const auto& r = rows[static_cast<std::size_t>(i)];
      const std::string fee = std::to_string(i * 10000);
      EXPECT_EQ(r.substr(r.rfind('|') + 1), fee);
      const std::string expiry = r.substr(r.find('|') + 1, r.rfind('|') - r.find('|') - 1);
      if (i + 1 < kSaves) {
        const auto next = Timestamp::Parse(DayText(70000 + (i + 1) * 31));
        EXPECT_EQ(expiry, next->AddSeconds(-1)->ToStorage()) << "center " << t << " row " << i;
      } else {
        EXPECT_EQ(expiry, "NULL");
      }
    }
  }
}

// A load document is read from one snapshot: a save committed while it is
// being read shows in the next document, not half in this one.
TEST_P(Concurrency, ALoadReadsOneSnapshot) {
  const TestDatabase db(GetParam());
  auto database = OpenDatabase(DatabaseOptions{db.target()});
  database->EnsureCenter(1, "center 1", false);
  auto count = [](Session& s) {
    std::int64_t n = -1;
    s.Run("SELECT count(*) FROM RenewalOptionFee", [&](const Row& r) { n = r.Int(0); });
    return n;
  };
  database->InTransaction(false, [&](Session& s) {
    EXPECT_EQ(count(s), 0);
    EXPECT_TRUE(database->Execute(ParseStatementText(InsertRenewalOption(1, 1)).statements).ok());
    EXPECT_EQ(count(s), 0);
  });
  database->InTransaction(false, [&](Session& s) { EXPECT_EQ(count(s), 1); });
}

INSTANTIATE_TEST_SUITE_P(Backends, Concurrency, AllBackends(), BackendName);

}  // namespace
}  // namespace harnolfees::server::testing
