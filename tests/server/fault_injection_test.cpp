// Faults of the fee server's storage: a file system that fills up, a file
// size the process may not exceed, and another connection holding the
// database's write lock. In each case a statement that was not written is reported as
// failed, every confirmed statement is in the database afterwards, and the
// server goes on working once the fault is gone, without a restart.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

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

// The days of a run's saves that were confirmed, and of those refused.
struct SaveLog {
  std::set<int> confirmed, refused;
};

// Posts saves of consecutive days until `refusalsWanted` were refused (each
// as "failed: ..." that names `says`); with none wanted, posts `limit` saves
// that must all be confirmed.
void SaveUntilRefused(const ServerProcess& server, int& day, SaveLog& log, int refusalsWanted,
                      const std::string& says, int limit = 20000) {
  int refusals = 0;
  for (int i = 0; i < limit && (refusalsWanted == 0 || refusals < refusalsWanted); ++i, ++day) {
    auto [status, body] = PostTo(server.port(), InsertRenewalOption(1, day));
    ASSERT_NE(status, 0) << "the server stopped answering";
    if (status == 200 && body.empty()) {
      log.confirmed.insert(day);
    } else {
      EXPECT_TRUE(status == 500 && body.rfind("failed: ", 0) == 0 &&
                  body.find(says) != std::string::npos)
          << status << " " << body;
      log.refused.insert(day);
      ++refusals;
    }
  }
  ASSERT_EQ(refusals, refusalsWanted)
      << (refusalsWanted ? "the fault never struck" : "a save failed with room to spare");
}

// Saves on the intact storage, then under the fault until three are refused,
// then with the fault lifted, when all are confirmed. After a restart the
// database holds every confirmed day and no refused one.
void SavesAroundAFault(const std::string& db, const std::string& logFile,
                       const std::function<void(pid_t)>& inject,
                       const std::function<void(pid_t)>& lift, const std::string& says) {
  SaveLog log;
  int day = 0;
  {
    ServerProcess server = StartServer(db, logFile);
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 0, says, 20));
    inject(server.pid());
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 3, says));
    lift(server.pid());
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 0, says, 5));
    EXPECT_EQ(server.Stop(), 0);
  }
  ServerProcess restarted = StartServer(db, logFile);
  const std::string doc = GetFrom(restarted.port(), "/TermFeesAX.asp?Center=1").second;
  ASSERT_NE(doc.find("<TermFees"), std::string::npos) << doc;
  EXPECT_EQ(MissingDays(doc, log.confirmed), 0u) << "confirmed saves lost";
  EXPECT_EQ(MissingDays(doc, log.refused), log.refused.size()) << "refused saves written anyway";
  EXPECT_EQ(Query(db, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_EQ(restarted.Stop(), 0);
}

// Fills the file system at `path` with one file, leaving about `leave` bytes.
void Fill(const std::string& path, std::size_t leave) {
  std::ofstream f(path, std::ios::binary);
  const std::string block(4096, 'x');
  const auto folder = std::filesystem::path(path).parent_path();
  for (std::error_code ec; f && std::filesystem::space(folder, ec).available > leave && !ec;) {
    f.write(block.data(), static_cast<std::streamsize>(block.size())).flush();
  }
}

TEST(StorageFaults, FullFileSystemRefusesSavesThenRecovers) {
  TempDir dir;
  // A tmpfs of its own, unmounted at the end. Mounting needs the privilege to
  // do so; without it the test is skipped.
  const std::string disk = dir.File("disk");
  mkdir(disk.c_str(), 0700);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1536k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  const std::unique_ptr<const char, void (*)(const char*)> unmount(
      disk.c_str(), [](const char* where) { umount2(where, MNT_DETACH); });
  const std::string filler = dir.File("disk/filler");
  SavesAroundAFault(
      dir.File("disk/fees.db"), dir.File("server.log"), [&](pid_t) { Fill(filler, 96 * 1024); },
      [&](pid_t) { std::filesystem::remove(filler); }, "full");
}

TEST(StorageFaults, FileSizeLimitRefusesSavesThenRecovers) {
  TempDir dir;
  const std::string db = dir.File("fees.db");
  auto setLimit = [](pid_t pid, rlim_t size) {
    const rlimit limit{size, RLIM_INFINITY};
    ASSERT_EQ(prlimit(pid, RLIMIT_FSIZE, &limit, nullptr), 0) << std::strerror(errno);
  };
  // The write-ahead log grows with every commit; let it grow a little more.
  auto inject = [&](pid_t pid) {
    std::error_code ec;
    const auto size =
        std::max(std::filesystem::file_size(db + "-wal", ec), std::filesystem::file_size(db, ec));
    setLimit(pid, static_cast<rlim_t>(size + 48 * 1024));
  };
  SavesAroundAFault(
      db, dir.File("server.log"), inject, [&](pid_t pid) { setLimit(pid, RLIM_INFINITY); },
      "disk I/O error");
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
