// What the database backends have in common below the Database interface: a
// connection that runs parameterised SQL and hands back rows. The load
// document, the demonstration data, the schema steps and the copy between
// databases are written once against it.
//
// SQL given to a session is written for both engines: parameters are ?1, ?2,
// ... (each backend turns them into its own form) and only syntax that SQLite
// and PostgreSQL read alike is used.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "statement.hpp"

namespace harnolfees::server {

using Cell = ParameterValue;

class Row {
 public:
  virtual ~Row() = default;
  virtual int Columns() const = 0;
  virtual bool IsNull(int column) const = 0;
  // The column's value as text; valid until the next row.
  virtual std::string_view Text(int column) const = 0;
  virtual std::int64_t Int(int column) const = 0;
};

class Session {
 public:
  using EachRow = std::function<void(const Row&)>;
  virtual ~Session() = default;
  // Runs one statement with its parameters and calls `each` for every row.
  // Throws DatabaseError. Statements are prepared once per connection.
  virtual void Run(const std::string& sql, const std::vector<Cell>& cells,
                   const EachRow& each = {}) = 0;
  void Run(const std::string& sql, const EachRow& each = {}) { Run(sql, {}, each); }
  // Runs a text of several statements without parameters. Throws DatabaseError.
  virtual void Script(const std::string& sql) = 0;
};

// Brings the schema up to date: steps[i] takes a database from version i to
// i + 1, and the version reached is recorded in SchemaVersion. A database made
// before versions were recorded holds the tables of step 1 and is taken as
// version 0: the steps create only what is missing. Throws DatabaseError for a
// database of a later version than this server knows. The caller holds the
// transaction.
void UpgradeSchema(Session& session, const std::vector<std::string>& steps);

// The load document of a center, read through the session (which the caller
// has put into one read transaction).
std::string BuildLoadDocument(Session& session, std::int64_t center);

// Inserts the demonstration centers 1 to 3 unless they exist.
void FillDemoRows(Session& session);

// Every table, parents before the tables that refer to them, and the columns
// that order its rows.
struct TableInfo {
  const char* name;
  const char* orderBy;
  bool lookup = false;  // a lookup list, filled when the schema is made
};
const std::vector<TableInfo>& Tables();

}  // namespace harnolfees::server
