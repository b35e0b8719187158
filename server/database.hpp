// The fee database behind the page: SQLite in WAL mode.
//
// Writes go through the only writing connection. Statement texts that arrive
// together are committed together (group commit): the request thread that
// finds the connection idle runs every text waiting at that moment, each
// inside its own savepoint so that a failing text is undone alone, and no
// text is confirmed before the COMMIT that holds it has returned. With
// synchronous FULL that COMMIT has reached the disk.
// Reads (load documents) use a small pool of read-only connections, each
// reading one consistent snapshot.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "statement.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace harnolfees::server {

class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Synchronous { Full, Normal };

struct DatabaseOptions {
  std::string path;
  Synchronous synchronous = Synchronous::Full;
  int busyTimeoutMs = 10000;
  int readers = 4;
  // Most statement texts committed by one COMMIT.
  std::size_t maxBatch = 64;
};

struct ExecOutcome {
  enum class Status { Ok, Refused, NotFound, Conflict, Failed };
  Status status = Status::Ok;
  std::string message;  // empty when Ok
  bool ok() const { return status == Status::Ok; }
};

class Database {
 public:
  // Opens (creating when needed) the database, its schema and lookup lists.
  // Throws DatabaseError.
  explicit Database(DatabaseOptions options);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Adds the center, or sets the travel option of a center that exists.
  void EnsureCenter(std::int64_t center, const std::string& name, bool showTravelOption);
  // Fills the demonstration centers 1 to 3 with a history on every tab, once.
  // Center 1 shows the travel option, center 2 does not, center 3 does.
  void FillDemo();

  // Runs the statements of one posted text, all or nothing. Thread safe.
  ExecOutcome Execute(std::vector<ParsedStatement> statements);

  // The load document of a center; an unknown center gives the lookup lists
  // and no records. Thread safe.
  std::string LoadDocument(std::int64_t center);

  const DatabaseOptions& options() const { return options_; }

 private:
  struct Job {
    std::vector<ParsedStatement> statements;
    ExecOutcome outcome;
    bool done = false;  // guarded by queueMutex_
  };
  struct Reader;

  void RunBatch(std::vector<Job*>& batch);
  ExecOutcome RunJob(const std::vector<ParsedStatement>& statements, const std::string& now);
  sqlite3_stmt* WriterStatement(int shape);
  // Runs one of the writer's transaction statements (BEGIN IMMEDIATE,
  // SAVEPOINT, ...), prepared once: each save runs several of them, and
  // compiling them every time would cost more than the save itself.
  bool RunControl(const char* sql);
  std::unique_ptr<Reader> AcquireReader();
  void ReleaseReader(std::unique_ptr<Reader> reader);

  DatabaseOptions options_;
  // The writing connection is opened without SQLite's own mutex; this one
  // keeps the writer thread and the start-up work (centers, demo) apart.
  std::mutex connectionMutex_;
  sqlite3* writer_ = nullptr;
  std::vector<sqlite3_stmt*> shapeStatements_;
  sqlite3_stmt* centerExists_ = nullptr;
  std::vector<std::pair<std::string, sqlite3_stmt*>> controlStatements_;

  std::mutex queueMutex_;
  std::condition_variable batchDone_;
  std::deque<Job*> queue_;
  bool writing_ = false;  // a request thread is running a batch

  std::mutex readersMutex_;
  std::vector<std::unique_ptr<Reader>> readers_;
};

}  // namespace harnolfees::server
