// The fee database behind the page. Two backends share this interface:
//
//  - SQLite (a file path): one writing connection with group commit, a pool
//    of read-only connections; see sqlite_database.hpp.
//  - PostgreSQL (a postgresql:// or postgres:// URI, or a libpq key=value
//    text): a pool of connections, so that several servers can share one
//    database; see pg_database.hpp.
//
// The statement grammar, its bound parameters, the refusal of an UPDATE or
// DELETE that matches no row, access control and the load document are the
// same for both.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "statement.hpp"
#include "values.hpp"

namespace harnolfees::server {

class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Synchronous { Full, Normal };

struct DatabaseOptions {
  std::string path;  // SQLite file, or PostgreSQL connection text
  Synchronous synchronous = Synchronous::Full;
  int busyTimeoutMs = 10000;
  int readers = 4;
  // Most statement texts committed by one COMMIT (SQLite).
  std::size_t maxBatch = 64;
  // PostgreSQL: most connections held, seconds allowed to connect, and
  // milliseconds one statement may run (0: no limit).
  int pool = 8;
  int connectTimeoutS = 5;
  int statementTimeoutMs = 10000;
  // The local time that GETDATE() stands for; empty: the system clock.
  std::function<Timestamp()> clock{};
  Timestamp Now() const { return clock ? clock() : Timestamp::Now(); }
};

struct ExecOutcome {
  // Abandoned: not executed, since its client had gone.
  enum class Status { Ok, Refused, NotFound, Conflict, Failed, Abandoned };
  Status status = Status::Ok;
  std::string message;  // empty when Ok
  bool ok() const { return status == Status::Ok; }
};

// The schema version this server writes.
inline constexpr int kSchemaVersion = 2;

class Session;

class Database {
 public:
  virtual ~Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Adds the center, or sets the travel option of a center that exists.
  void EnsureCenter(std::int64_t center, const std::string& name, bool showTravelOption);
  // Fills the demonstration centers 1 to 3 with a history on every tab, once.
  // Center 1 shows the travel option, center 2 does not, center 3 does.
  void FillDemo();

  // Runs the statements of one posted text, all or nothing. Thread safe.
  // When `wanted` is given and says no once the statements' turn has come
  // (the database is theirs, just before they would run), they are not run
  // and the outcome is Abandoned.
  virtual ExecOutcome Execute(std::vector<ParsedStatement> statements,
                              const std::function<bool()>& wanted) = 0;
  ExecOutcome Execute(std::vector<ParsedStatement> statements) {
    return Execute(std::move(statements), {});
  }

  // The load document of a center, read from one consistent snapshot; an
  // unknown center gives the lookup lists and no records. Thread safe.
  std::string LoadDocument(std::int64_t center);

  // Whether the database answers now; `why` says what went wrong.
  virtual bool Answers(std::string& why) = 0;

  // The users-file lines kept in the table Users. Throws DatabaseError.
  std::vector<std::string> UserEntries();

  // Copies every row of `source` into this database in one transaction and
  // returns the number of rows copied. The centers and fee tables here must
  // be empty; the lookup lists are replaced by those of the source.
  std::int64_t CopyFrom(Database& source);

  const DatabaseOptions& options() const { return options_; }

  // Runs `work` on one connection inside one transaction: a consistent
  // read-only snapshot, or a writing transaction. Commits when `work`
  // returns, rolls back when it throws. Throws DatabaseError.
  virtual void InTransaction(bool write, const std::function<void(Session&)>& work) = 0;

 protected:
  explicit Database(DatabaseOptions options) : options_(std::move(options)) {}
  DatabaseOptions options_;
};

// Whether the text names a PostgreSQL database rather than a SQLite file.
bool IsPostgresTarget(const std::string& target);

// Opens the database that options.path names (creating or upgrading its
// schema and lookup lists). Throws DatabaseError.
std::unique_ptr<Database> OpenDatabase(const DatabaseOptions& options);

}  // namespace harnolfees::server
