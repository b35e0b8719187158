// Faults of the fee server's storage: a file size the process may not exceed
// (a failed write, as on a full disk), and another connection holding the
// database's write lock. In each case a statement that was not written is reported as
// failed, every confirmed statement is in the database afterwards, and the
// server goes on working once the fault is gone, without a restart.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "database.hpp"
#include "server_test_util.hpp"
#include "sqlite_database.hpp"
#include "statement.hpp"

namespace harnolfees::server::testing {
namespace {

// The built server, on center 1, ignoring SIGXFSZ so that a write beyond its
// file size limit fails instead of ending it, as on a full disk.
ServerProcess StartServer(const std::string& db, const std::string& log) {
  return ServerProcess(HARNOLFEES_SERVER_PATH,
                       {"--db", db, "--listen", "127.0.0.1:0", "--center", "1", "--quiet"},
                       {log, /*ignoreFileSizeSignal=*/true});
}

// What the saves of a run came to.
struct SaveLog {
  std::set<int> confirmed;
  std::set<int> refused;
  std::vector<std::string> refusals;
};

// Posts saves of consecutive days until `refusalsWanted` were refused; with
// none wanted, posts `limit` saves that must all be confirmed.
void SaveUntilRefused(const ServerProcess& server, int& day, SaveLog& log, int refusalsWanted,
                      int limit = 20000) {
  int refusals = 0;
  for (int i = 0; i < limit && (refusalsWanted == 0 || refusals < refusalsWanted); ++i, ++day) {
    auto [status, body] = PostTo(server.port(), InsertRenewalOption(1, day));
    ASSERT_NE(status, 0) << "the server stopped answering";
    if (status == 200 && body.empty()) {
      log.confirmed.insert(day);
    } else {
      EXPECT_EQ(status, 500) << body;
      log.refused.insert(day);
      log.refusals.push_back(body);
      ++refusals;
    }
  }
  ASSERT_EQ(refusals, refusalsWanted)
      << (refusalsWanted ? "the limit was never reached" : "a save failed with room to spare");
}

// Saves on the intact storage, then beyond a file size limit until three are
// refused, then with the limit lifted, when all are confirmed. After a restart
// the database holds every confirmed day and no refused one.
TEST(StorageFaults, FileSizeLimitRefusesSavesThenRecovers) {
  TempDir dir;
  const std::string db = dir.File("fees.db");
  auto setLimit = [](pid_t pid, rlim_t size) {
    const rlimit limit{size, RLIM_INFINITY};
    ASSERT_EQ(prlimit(pid, RLIMIT_FSIZE, &limit, nullptr), 0) << std::strerror(errno);
  };
  SaveLog log;
  int day = 0;
  {
    ServerProcess server = StartServer(db, dir.File("server.log"));
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 0, 20));
    // The write-ahead log grows with every commit; let it grow a little more.
    std::error_code ec;
    const auto size =
        std::max(std::filesystem::file_size(db + "-wal", ec), std::filesystem::file_size(db, ec));
    setLimit(server.pid(), static_cast<rlim_t>(size + 48 * 1024));
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 3));
    for (const std::string& r : log.refusals) {
      EXPECT_TRUE(r.rfind("failed: ", 0) == 0 && r.find("disk I/O error") != std::string::npos)
          << r;
    }
    setLimit(server.pid(), RLIM_INFINITY);
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 0, 5));
    EXPECT_EQ(server.Stop(), 0);
  }
  ServerProcess restarted = StartServer(db, dir.File("server.log"));
  const std::string doc = GetFrom(restarted.port(), "/TermFeesAX.asp?Center=1").second;
  ASSERT_NE(doc.find("<TermFees"), std::string::npos) << doc;
  EXPECT_EQ(MissingDays(doc, log.confirmed), 0u) << "confirmed saves lost";
  EXPECT_EQ(MissingDays(doc, log.refused), log.refused.size()) << "refused saves written anyway";
  EXPECT_EQ(Query(db, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_EQ(restarted.Stop(), 0);
}

TEST(StorageFaults, WriteLockOfAnotherConnectionReportsBusyThenRecovers) {
  TempDir dir;
  const std::string path = dir.File("fees.db");
  DatabaseOptions options{path};
  options.busyTimeoutMs = 300;
  SqliteDatabase db(options);
  db.EnsureCenter(1, "center 1", false);

  const std::string insert = InsertRenewalOption(1, 1);
  {
    // Another connection holds the database's write lock.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    const ExecOutcome busy = db.Execute(ParseStatementText(insert).statements);
    const auto waited = std::chrono::steady_clock::now() - start;
    // Readers are not held up by a writer.
    EXPECT_NE(db.LoadDocument(1).find("<TermFees"), std::string::npos);
    sqlite3_close(holder);  // rolls its transaction back
    EXPECT_EQ(busy.status, ExecOutcome::Status::Failed);
    EXPECT_EQ(busy.message.rfind("failed: ", 0), 0u) << busy.message;
    EXPECT_NE(busy.message.find("locked"), std::string::npos) << busy.message;
    // The server waited out its busy time-out, and not much longer.
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(5));
  }
  // Once the lock is gone the same save goes through, once.
  const ExecOutcome ok = db.Execute(ParseStatementText(insert).statements);
  EXPECT_TRUE(ok.ok()) << ok.message;
  EXPECT_EQ(Query(path, "SELECT COUNT(*) FROM RenewalOptionFee"), std::vector<std::string>{"1"});
}

}  // namespace
}  // namespace harnolfees::server::testing
