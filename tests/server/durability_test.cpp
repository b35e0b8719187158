// Durability and concurrency: the built server binary is killed with SIGKILL
// in the middle of a stream of saves and must hold every confirmed statement
// after a restart; many clients at once lose and interleave nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "database_session.hpp"
#include "server_test_util.hpp"
#include "support/test_http_server.hpp"

namespace harnolfees::server::testing {
namespace {

TEST(Durability, SigkillLosesNoConfirmedStatement) {
  TempDir dir;
  const std::string db = dir.File("fees.db");
  const std::string log = dir.File("server.log");
  const std::vector<std::string> args = {"--db", db, "--listen", "127.0.0.1:0", "--center", "1"};
  ServerProcess server(HARNOLFEES_SERVER_PATH, args, {log});
  // SIGKILL in the middle of the stream.
  const std::set<int> confirmed = StreamOfSaves(
      server.port(), 300, [&] { server.Kill(); }, 0, 1);
  ASSERT_GE(confirmed.size(), 300u);

  ServerProcess restarted(HARNOLFEES_SERVER_PATH, args, {log});
  const auto [status, document] = GetFrom(restarted.port(), "/TermFeesAX.asp?Center=1");
  ASSERT_EQ(status, 200);
  EXPECT_EQ(MissingDays(document, confirmed), 0u) << "of " << confirmed.size() << " confirmed";
  EXPECT_EQ(Query(db, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_EQ(restarted.Stop(), 0);
  // Without --users the server says that it listens on loopback only.
  EXPECT_NE(harnolfees::testing::ReadFile(log).find("loopback"), std::string::npos);
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
      for (int i = 0; i < kSaves; ++i) {
        auto [status, body] =
            server.Post(AddRenewalFee(t + 1, DayText(70000 + i * 31), 2, 0, std::to_string(i)));
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
  // Each center's history: fee i, expired a second before fee i + 1 took effect.
  std::vector<std::string> history;
  for (int i = 0; i < kSaves; ++i) {
    const auto next = Timestamp::Parse(DayText(70000 + (i + 1) * 31))->AddSeconds(-1);
    history.push_back(std::to_string(i * 10000) + "|" +
                      (i + 1 < kSaves ? next->ToStorage() : "NULL"));
  }
  for (int t = 1; t <= 8; ++t) {
    EXPECT_EQ(db.Query("SELECT MembershipRenewalFee, ExpirationDate FROM MembershipRenewalFee "
                       "WHERE CenterID = " +
                       std::to_string(t) + " ORDER BY EffectivityDate"),
              history)
        << "center " << t;
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
