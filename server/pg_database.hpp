// The fee database on a PostgreSQL server, through libpq.
//
// A pool of connections (DatabaseOptions::pool) serves the request threads;
// several fee servers can share one database. Each posted text runs in one
// transaction of its own at READ COMMITTED: an UPDATE or DELETE waits for a
// concurrent change of its row and then evaluates its WHERE clause against
// the committed row, so that of two edits of one record that both locate it
// by its old key, the second finds nothing and is refused. Load documents
// read one REPEATABLE READ snapshot.
//
// Every statement is prepared once per connection and its values go as bound
// parameters. A connection that breaks is dropped and a new one made on the
// next request; a save whose commit was not acknowledged is reported as
// failed, never as confirmed.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database.hpp"

namespace harnolfees::server {

class PgConnection;

class PgDatabase final : public Database {
 public:
  // Connects, creates or upgrades the schema and fills the lookup lists of a
  // new database. Throws DatabaseError.
  explicit PgDatabase(DatabaseOptions options);
  ~PgDatabase() override;

  using Database::Execute;
  ExecOutcome Execute(std::vector<ParsedStatement> statements,
                      const std::function<bool()>& wanted) override;
  bool Answers(std::string& why) override;
  void InTransaction(bool write, const std::function<void(Session&)>& work) override;

 private:
  std::unique_ptr<PgConnection> Acquire();
  void Release(std::unique_ptr<PgConnection> connection);
  ExecOutcome RunOnce(PgConnection& connection, const std::vector<ParsedStatement>& statements,
                      bool& retry);

  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<PgConnection>> idle_;
  int open_ = 0;  // connections made and not yet dropped
};

}  // namespace harnolfees::server
