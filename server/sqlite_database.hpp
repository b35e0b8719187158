// The fee database in a SQLite file, in WAL mode.
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
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "database.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace harnolfees::server {

class SqliteSession;

class SqliteDatabase final : public Database {
 public:
  // Opens (creating when needed) the database, its schema and lookup lists.
  // Throws DatabaseError.
  explicit SqliteDatabase(DatabaseOptions options);
  ~SqliteDatabase() override;

  using Database::Execute;
  ExecOutcome Execute(std::vector<ParsedStatement> statements,
                      const std::function<bool()>& wanted) override;
  bool Answers(std::string& why) override;
  void InTransaction(bool write, const std::function<void(Session&)>& work) override;

 private:
  struct Job {
    std::vector<ParsedStatement> statements;
    const std::function<bool()>* wanted = nullptr;
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

  // The writing connection is opened without SQLite's own mutex; this one
  // keeps the writer thread and the other writing work (centers, demo) apart.
  std::mutex connectionMutex_;
  sqlite3* writer_ = nullptr;
  std::unique_ptr<SqliteSession> writerSession_;
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
