// What only a shared database server brings: two fee servers on one
// database, an outage of PostgreSQL in the middle of a stream of saves,
// statement time-outs; and the schema steps and the move of a SQLite
// database's rows to PostgreSQL.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <chrono>
#include <latch>

#include "server_test_util.hpp"
#include "support/run_program.hpp"

namespace harnolfees::server::testing {
namespace {

using harnolfees::testing::PgCluster;
using harnolfees::testing::RunProgram;

TEST(TwoServers, OfTwoEditsOfOneRecordAtOnceExactlyOneIsConfirmed) {
  const TestDatabase db(Backend::PostgreSQL);
  const std::vector<std::string> args = {"--db",     db.target(), "--listen", "127.0.0.1:0",
                                         "--center", "5",         "--quiet"};
  ServerProcess first(HARNOLFEES_SERVER_PATH, args);
  ServerProcess second(HARNOLFEES_SERVER_PATH, args);
  ASSERT_EQ(PostTo(first.port(), InsertRenewalOption(5, 0)).first, 200);
  int current = 0;
  for (int round = 1; round <= 10; ++round) {
    // Both operators hold the record with its date of now and move it to a
    // date of their own, each through another server.
    const std::array<int, 2> ports{first.port(), second.port()};
    std::array<std::pair<int, std::string>, 2> replies;
    std::latch start(2);
    std::vector<std::thread> operators;
    for (int k = 0; k < 2; ++k) {
      operators.emplace_back([&, k] {
        const std::string update = " UPDATE RENEWALOPTIONFEE SET EffectivityDate = '" +
                                   DayText(round * 2 + k) +
                                   "', RenewalOptionFee = " + std::to_string(round * 2 + k) +
                                   ", RecordLastUpdated = GETDATE()   WHERE  EffectivityDate = '" +
                                   DayText(current) + "' AND CenterID = 5";
        start.arrive_and_wait();
        replies[k] = PostTo(ports[k], update);
      });
    }
    for (auto& t : operators) t.join();
    // Exactly one is confirmed; the other finds its record gone.
    const int confirmed = replies[0].first == 200 ? 0 : 1;
    ASSERT_EQ(replies[confirmed], std::make_pair(200, std::string())) << "round " << round;
    EXPECT_EQ(replies[1 - confirmed].first, 409) << "round " << round;
    EXPECT_EQ(replies[1 - confirmed].second.rfind("record not found", 0), 0u)
        << replies[1 - confirmed].second;
    current = round * 2 + confirmed;
    EXPECT_EQ(db.Query("SELECT EffectivityDate, RenewalOptionFee FROM RenewalOptionFee"),
              std::vector<std::string>{Timestamp::Parse(DayText(current))->ToStorage() + "|" +
                                       std::to_string(current * 10000)});
  }
  // Each server loads what the other saved.
  for (int port : {first.port(), second.port()}) {
    EXPECT_EQ(MissingDays(GetFrom(port, "/TermFeesAX.asp?Center=5").second, {current}), 0u);
  }
}

TEST(PostgresOutage, ImmediateStopLosesNoConfirmedSaveAndTheServerReconnects) {
  auto cluster = PgCluster::Create();  // its own: this test stops it
  const std::string uri = cluster->Uri(cluster->NewDatabase());
  ServerProcess server(HARNOLFEES_SERVER_PATH, {"--db", uri, "--listen", "127.0.0.1:0", "--center",
                                                "1", "--quiet", "--connect-timeout", "2"});
  // An immediate stop in the middle of the stream: each client sees five
  // saves fail.
  const std::set<int> confirmed = StreamOfSaves(
      server.port(), 200, [&] { cluster->StopImmediately(); }, 500, 5);
  ASSERT_GE(confirmed.size(), 200u);

  // During the outage /health says so.
  EXPECT_EQ(GetFrom(server.port(), "/health").first, 503);

  cluster->Start();
  // The same server process reconnects by itself: the next save is confirmed.
  EXPECT_EQ(PostTo(server.port(), InsertRenewalOption(1, 20000)),
            std::make_pair(200, std::string()));
  EXPECT_EQ(GetFrom(server.port(), "/health"),
            std::make_pair(200, std::string("ok: the database answers")));
  // A restart while the server's connections lie idle: they are found
  // closed and replaced, and the next save is confirmed as well.
  cluster->StopImmediately();
  cluster->Start();
  EXPECT_EQ(PostTo(server.port(), InsertRenewalOption(1, 20001)),
            std::make_pair(200, std::string()));
  const std::string document = GetFrom(server.port(), "/TermFeesAX.asp?Center=1").second;
  EXPECT_EQ(MissingDays(document, confirmed), 0u) << "of " << confirmed.size() << " confirmed";
}

TEST(PostgresTimeouts, AStatementWaitingPastItsTimeOutFailsAndConnectingFailsFast) {
  const TestDatabase db(Backend::PostgreSQL);
  ServerOptions options = OptionsFor(db.target(), {{1, false}});
  options.statementTimeoutMs = 300;
  RunningServer server(options);
  // Another session holds the table.
  PGconn* holder = PQconnectdb(db.target().c_str());
  ASSERT_EQ(PQstatus(holder), CONNECTION_OK);
  PQclear(PQexec(holder, "BEGIN; LOCK TABLE RenewalOptionFee IN ACCESS EXCLUSIVE MODE"));
  auto [status, body] = server.Post(InsertRenewalOption(1, 1));
  EXPECT_EQ(status, 500);
  EXPECT_NE(body.find("time-out"), std::string::npos) << body;
  PQclear(PQexec(holder, "ROLLBACK"));
  PQfinish(holder);
  EXPECT_EQ(server.Post(InsertRenewalOption(1, 1)), std::make_pair(200, std::string()));
  EXPECT_EQ(db.Query("SELECT count(*) FROM RenewalOptionFee"), std::vector<std::string>{"1"});

  // Nothing listens on port 1.
  DatabaseOptions unreachable{"postgresql://postgres@127.0.0.1:1/fees"};
  unreachable.connectTimeoutS = 2;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(OpenDatabase(unreachable), DatabaseError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

class Schema : public ::testing::TestWithParam<Backend> {};

TEST_P(Schema, InitIsIdempotentRecordsItsVersionAndUpgradesAnOlderDatabase) {
  const TestDatabase db(GetParam());
  auto init = [&] {
    return RunProgram(HARNOLFEES_SERVER_PATH, {"--db", db.target(), "--init", "--demo"});
  };
  auto run = init();
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("schema version 2"), std::string::npos) << run.out;
  const std::string filled = db.Dump();
  EXPECT_NE(filled.find("Harnol Airport"), std::string::npos);
  run = init();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(db.Dump(), filled);
  EXPECT_EQ(db.Query("SELECT Version FROM SchemaVersion"), std::vector<std::string>{"2"});

  // Version 1 had no table Users.
  db.Exec("DROP TABLE Users");
  db.Exec("UPDATE SchemaVersion SET Version = 1");
  run = init();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(db.Query("SELECT count(*) FROM Users"), std::vector<std::string>{"0"});
  EXPECT_EQ(db.Query("SELECT Version FROM SchemaVersion"), std::vector<std::string>{"2"});

  // A database of a later version than this server knows is left alone.
  db.Exec("UPDATE SchemaVersion SET Version = 3");
  run = init();
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("schema version 3"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Backends, Schema, AllBackends(), BackendName);

TEST(CopyFrom, ASqliteDatabaseMovesToPostgresWhole) {
  TempDir dir;
  const std::string file = dir.File("fees.db");
  auto run = RunProgram(HARNOLFEES_SERVER_PATH,
                        {"--db", file, "--init", "--demo", "--center", "12:travel"});
  ASSERT_EQ(run.status, 0) << run.err;
  ServerProcess before(HARNOLFEES_SERVER_PATH,
                       {"--db", file, "--listen", "127.0.0.1:0", "--quiet"});
  ASSERT_EQ(PostTo(before.port(), InsertRenewalOption(12, 3)).first, 200);

  const TestDatabase db(Backend::PostgreSQL);
  run = RunProgram(HARNOLFEES_SERVER_PATH, {"--db", db.target(), "--copy-from", file});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("copied "), std::string::npos) << run.out;
  ServerProcess after(HARNOLFEES_SERVER_PATH,
                      {"--db", db.target(), "--listen", "127.0.0.1:0", "--quiet"});
  for (int center : {1, 2, 3, 12}) {
    const std::string target = "/TermFeesAX.asp?Center=" + std::to_string(center);
    EXPECT_EQ(GetFrom(after.port(), target), GetFrom(before.port(), target)) << center;
  }
  // Copying again would mix two databases: refused, nothing changed.
  const std::string copied = db.Dump();
  run = RunProgram(HARNOLFEES_SERVER_PATH, {"--db", db.target(), "--copy-from", file});
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("already holds rows"), std::string::npos) << run.err;
  EXPECT_EQ(db.Dump(), copied);
}

}  // namespace
}  // namespace harnolfees::server::testing
