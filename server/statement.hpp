// The allow-list grammar of the fee page.
//
// The control sends SQL Server statement texts. The page never executes them:
// it matches each text against the exact statement shapes the control builds
// (any letter case, any blanks between tokens, optional "dbo." before table
// names) and turns a match into one of its own prepared SQLite statements plus
// typed parameter values. Anything that does not match is refused with a text
// that names the reason, and nothing is executed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace harnolfees::server {

enum class StatementKind { Insert, Update, Delete, Expire, Reopen };

// "INSERT", "UPDATE", "DELETE", "EXPIRE" (the renewal-fee expiry) or "REOPEN"
// (the renewal-fee reopening after a deletion).
std::string_view KindName(StatementKind kind);

// A parameter value: NULL, a whole number (money in ten-thousandths) or text
// (dates in "yyyy-mm-dd hh:mm:ss", fractions as exact decimal text).
using ParameterValue = std::variant<std::monostate, std::int64_t, std::string>;

struct Parameter {
  std::string name;  // bound as ":" + name
  ParameterValue value;
};

struct ParsedStatement {
  int shape = -1;  // index of the accepted statement shape
  StatementKind kind = StatementKind::Insert;
  std::string table;
  // UPDATE and DELETE locate one record by its effectivity date: matching no
  // row is a failure ("record not found"). The expiry and the reopening may
  // match nothing.
  bool mustMatchRow = false;
  const std::string* sql = nullptr;  // the page's own SQLite text
  std::vector<Parameter> parameters;
  // Whether the SQLite text takes the time of execution (GETDATE()) as :Now.
  bool usesNow = false;
  std::int64_t center = 0;  // every shape names exactly one center
};

struct ParseOutcome {
  std::vector<ParsedStatement> statements;
  std::string error;  // empty when accepted; otherwise starts with "refused: "
  bool ok() const { return error.empty(); }
};

// Longest statement text accepted, in bytes.
inline constexpr std::size_t kMaxStatementText = 16 * 1024;

// Parses a posted statement text (UTF-8): one statement, or two separated by
// a line break (carriage return and line feed).
ParseOutcome ParseStatementText(std::string_view text);

// The accepted shapes, for the tests and the benchmarks.
std::size_t ShapeCount();
const std::string& ShapeSql(std::size_t shape);
std::string_view ShapeName(std::size_t shape);

}  // namespace harnolfees::server
