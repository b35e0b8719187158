// Faults of the fee server's storage: a file system that fills up, a file
// size the process may not exceed, and another process holding the database's
// write lock. In each case a statement that was not written is reported as
// failed, every confirmed statement is in the database afterwards, and the
// server goes on working once the fault is gone, without a restart.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "database.hpp"
#include "server_test_util.hpp"
#include "sqlite_database.hpp"
#include "statement.hpp"

namespace harnolfees::server::testing {
namespace {

using Clock = std::chrono::steady_clock;

// mm/dd/yyyy of day n counted from 1 January 1900 (the proleptic Gregorian
// calendar, by the usual days-to-civil arithmetic).
std::string DayText(int n) {
  const long z = n + 693901L;  // days from 0000-03-01 to 1900-01-01 is 693901
  const long era = z / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", m, d, y);
  return buf;
}

std::string IsoDay(const std::string& mmddyyyy) {
  return mmddyyyy.substr(6, 4) + "-" + mmddyyyy.substr(0, 2) + "-" + mmddyyyy.substr(3, 2);
}

// The control's INSERT of a renewal option fee, padded with a long amount so
// that each commit needs a few pages.
std::string InsertRenewalOption(int day) {
  return " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
         "RecordLastUpdated)  VALUES (1, '" +
         DayText(day) + "', " + std::to_string(100 + day % 900) + ".25,  GETDATE()) ";
}

// The built server, on center 1, ignoring SIGXFSZ so that a write beyond its
// file size limit fails instead of ending it, as on a full disk.
class ServerChild {
 public:
  ServerChild(const std::string& db, const std::string& log)
      : process_(HARNOLFEES_SERVER_PATH,
                 {"--db", db, "--listen", "127.0.0.1:0", "--center", "1", "--quiet"},
                 {log, /*ignoreFileSizeSignal=*/true}) {}

  pid_t pid() const { return process_.pid(); }
  // SIGTERM; true when the server ended in an orderly way.
  bool Stop() { return process_.Stop() == 0; }
  std::pair<int, std::string> Post(const std::string& statement) const {
    httplib::Client c("127.0.0.1", process_.port());
    c.set_read_timeout(30, 0);
    auto res = c.Post("/TermFeesAX.asp", "SQL=" + FormEncode(statement),
                      "application/x-www-form-urlencoded");
    if (!res) return {0, "no reply"};
    return {res->status, res->body};
  }
  std::string LoadDocument() const {
    httplib::Client c("127.0.0.1", process_.port());
    auto res = c.Get("/TermFeesAX.asp?Center=1");
    return res && res->status == 200 ? res->body : "";
  }

 private:
  ServerProcess process_;
};

// What the saves of a run came to.
struct SaveLog {
  std::set<int> confirmed;
  std::set<int> refused;
  std::vector<std::string> refusals;
};

// Posts saves of consecutive days until `refusalsWanted` were refused; with
// none wanted, posts `limit` saves that must all be confirmed.
void SaveUntilRefused(const ServerChild& server, int& day, SaveLog& log, int refusalsWanted,
                      int limit = 20000) {
  int refusals = 0;
  for (int i = 0; i < limit && (refusalsWanted == 0 || refusals < refusalsWanted); ++i, ++day) {
    auto [status, body] = server.Post(InsertRenewalOption(day));
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
      << (refusalsWanted ? "the storage never filled up" : "a save failed with room to spare");
}

// After a restart the database holds every confirmed day and no refused one.
void ExpectExactlyConfirmed(const std::string& db, const std::string& logFile, const SaveLog& log) {
  ServerChild restarted(db, logFile);
  const std::string doc = restarted.LoadDocument();
  ASSERT_FALSE(doc.empty());
  int missing = 0, ghosts = 0;
  for (int day : log.confirmed) {
    if (doc.find("<Effectivity>" + IsoDay(DayText(day))) == std::string::npos) ++missing;
  }
  for (int day : log.refused) {
    if (doc.find("<Effectivity>" + IsoDay(DayText(day))) != std::string::npos) ++ghosts;
  }
  EXPECT_EQ(missing, 0) << "confirmed saves lost, of " << log.confirmed.size();
  EXPECT_EQ(ghosts, 0) << "refused saves written anyway, of " << log.refused.size();
  EXPECT_EQ(Query(db, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_TRUE(restarted.Stop());
}

// A tmpfs of its own, mounted for the test and unmounted after it. Mounting
// needs the privilege to do so; without it the test is skipped.
class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::string& where) : where_(where) {
    mkdir(where_.c_str(), 0700);
    mounted_ = mount("tmpfs", where_.c_str(), "tmpfs", 0, "size=1536k") == 0;
    error_ = mounted_ ? "" : std::strerror(errno);
  }
  ~SmallTmpfs() {
    if (mounted_) umount2(where_.c_str(), MNT_DETACH);
    rmdir(where_.c_str());
  }
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  std::string where_;
  bool mounted_ = false;
  std::string error_;
};

// Fills the file system at `path` with one file, leaving about `leave` bytes.
void Fill(const std::string& path, std::size_t leave) {
  std::ofstream f(path, std::ios::binary);
  const std::string block(4096, 'x');
  for (;;) {
    std::error_code ec;
    const auto space = std::filesystem::space(std::filesystem::path(path).parent_path(), ec);
    if (ec || space.available <= leave) break;
    f.write(block.data(), static_cast<std::streamsize>(block.size()));
    f.flush();
    if (!f) break;
  }
}

TEST(StorageFaults, FullFileSystemRefusesSavesThenRecovers) {
  TempDir dir;
  SmallTmpfs fs(dir.File("disk"));
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << fs.error();
  const std::string db = dir.File("disk/fees.db");
  const std::string logFile = dir.File("server.log");
  SaveLog log;
  int day = 0;
  {
    ServerChild server(db, logFile);
    // The empty disk takes the first saves; then it is filled.
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 0, 5));
    Fill(dir.File("disk/filler"), 96 * 1024);
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 3));
    ASSERT_FALSE(log.confirmed.empty());
    for (const std::string& r : log.refusals) {
      EXPECT_EQ(r.rfind("failed: ", 0), 0u) << r;
      EXPECT_NE(r.find("full"), std::string::npos) << r;
    }
    // The space comes back: the very next save goes through.
    std::filesystem::remove(dir.File("disk/filler"));
    auto [status, body] = server.Post(InsertRenewalOption(day));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(body, "");
    if (status == 200 && body.empty()) log.confirmed.insert(day);
    ++day;
    EXPECT_TRUE(server.Stop());
  }
  ExpectExactlyConfirmed(db, logFile, log);
}

TEST(StorageFaults, FileSizeLimitRefusesSavesThenRecovers) {
  TempDir dir;
  const std::string db = dir.File("fees.db");
  const std::string logFile = dir.File("server.log");
  SaveLog log;
  int day = 0;
  {
    ServerChild server(db, logFile);
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 0, 20));
    // The write-ahead log grows with every commit; let it grow a little more.
    std::error_code ec;
    const auto walSize = std::filesystem::file_size(db + "-wal", ec);
    const auto dbSize = std::filesystem::file_size(db, ec);
    rlimit limit{static_cast<rlim_t>(std::max<std::uintmax_t>(walSize, dbSize) + 48 * 1024),
                 RLIM_INFINITY};
    ASSERT_EQ(prlimit(server.pid(), RLIMIT_FSIZE, &limit, nullptr), 0) << std::strerror(errno);
    ASSERT_NO_FATAL_FAILURE(SaveUntilRefused(server, day, log, 3));
    for (const std::string& r : log.refusals) EXPECT_EQ(r.rfind("failed: ", 0), 0u) << r;

    limit.rlim_cur = RLIM_INFINITY;
    ASSERT_EQ(prlimit(server.pid(), RLIMIT_FSIZE, &limit, nullptr), 0);
    for (int i = 0; i < 5; ++i, ++day) {
      auto [status, body] = server.Post(InsertRenewalOption(day));
      EXPECT_EQ(status, 200) << body;
      if (status == 200 && body.empty()) log.confirmed.insert(day);
    }
    EXPECT_TRUE(server.Stop());
  }
  ExpectExactlyConfirmed(db, logFile, log);
}

// Another process that holds the database's write lock until told to let go.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      sqlite3* db = nullptr;
      char ok = 'n';
      if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
          sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        ok = 'y';
      }
      (void)write(ready[1], &ok, 1);
      char go = 0;
      (void)read(release[0], &go, 1);
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = 0;
    locked_ = read(ready[0], &ok, 1) == 1 && ok == 'y';
    close(ready[0]);
  }
  ~LockHolder() { Release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  bool locked() const { return locked_; }
  void Release() {
    if (pid_ <= 0) return;
    (void)write(release_, "g", 1);
    close(release_);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

std::vector<ParsedStatement> Parsed(const std::string& text) {
  ParseOutcome parsed = ParseStatementText(text);
  if (!parsed.ok()) throw std::runtime_error(parsed.error);
  return std::move(parsed.statements);
}

TEST(StorageFaults, WriteLockOfAnotherProcessReportsBusyThenRecovers) {
  TempDir dir;
  const std::string path = dir.File("fees.db");
  DatabaseOptions options{path};
  options.busyTimeoutMs = 300;
  SqliteDatabase db(options);
  db.EnsureCenter(1, "center 1", false);

  {
    LockHolder holder(path);
    ASSERT_TRUE(holder.locked());
    const auto start = Clock::now();
    const ExecOutcome busy = db.Execute(Parsed(InsertRenewalOption(1)));
    const auto waited = Clock::now() - start;
    EXPECT_EQ(busy.status, ExecOutcome::Status::Failed);
    EXPECT_EQ(busy.message.rfind("failed: ", 0), 0u) << busy.message;
    EXPECT_NE(busy.message.find("locked"), std::string::npos) << busy.message;
    // The server waited out its busy time-out, and not much longer.
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(5));
    // Readers are not held up by a writer.
    EXPECT_NE(db.LoadDocument(1).find("<TermFees"), std::string::npos);
  }
  // Once the lock is gone the same save goes through, once.
  const ExecOutcome ok = db.Execute(Parsed(InsertRenewalOption(1)));
  EXPECT_TRUE(ok.ok()) << ok.message;
  EXPECT_EQ(Query(path, "SELECT COUNT(*) FROM RenewalOptionFee"), std::vector<std::string>{"1"});

  // A lock let go while a save waits: the save goes through when it can.
  DatabaseOptions patient{path};
  patient.busyTimeoutMs = 10000;
  SqliteDatabase db2(patient);
  LockHolder holder(path);
  ASSERT_TRUE(holder.locked());
  ExecOutcome later;
  std::thread saver([&] { later = db2.Execute(Parsed(InsertRenewalOption(2))); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  holder.Release();
  saver.join();
  EXPECT_TRUE(later.ok()) << later.message;
  EXPECT_EQ(Query(path, "SELECT COUNT(*) FROM RenewalOptionFee"), std::vector<std::string>{"2"});
}

}  // namespace
}  // namespace harnolfees::server::testing
