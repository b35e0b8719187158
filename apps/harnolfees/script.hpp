// The operator-script language of `harnolfees script`: one command per line,
// words separated by blanks, double-quoted words with escapes, decimal
// numbers. Parsing knows the commands, their arguments and every range that
// does not depend on the control's state; the runner checks the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harnolfees::driver {

// The words of one line. A line that is blank or whose first non-blank
// character is '#' has no words.
struct LineWords {
  std::vector<std::string> words;
  std::string error;  // empty when the line could be split
};
LineWords SplitScriptLine(std::string_view line);

// A decimal integer, optionally negative: "-12", "0", "007".
std::optional<std::int64_t> ParseScriptNumber(std::string_view word);

enum class CommandKind {
  kLoad,
  kViewMode,
  kClubId,
  kStringParameter,
  kPopulate,
  kUrlEncode,
  kTab,
  kCell,
  kClick,
  kType,
  kSelect,
  kSelectText,
  kCheck,
  kDate,
  kAnswer,
  kDump,
};

struct Command {
  CommandKind kind = CommandKind::kDump;
  std::string name;                // the component a command names ("cboTerm")
  std::vector<std::string> texts;  // text arguments, in their order
  int number = 0;                  // first numeric argument
  int number2 = 0;                 // second numeric argument
  bool flag = false;               // viewmode true / answer yes
};

struct ParsedLine {
  enum class Status { kEmpty, kCommand, kError };
  Status status = Status::kEmpty;
  Command command;
  std::string error;
};
ParsedLine ParseScriptLine(std::string_view line);

// A whole script, split at '\n' (a '\r' before it is dropped). Parsing stops
// at the first line in error; the commands before it are kept.
struct ParsedScript {
  struct Line {
    int number = 0;  // from 1
    Command command;
  };
  std::vector<Line> commands;
  int errorLine = 0;  // 0 when every line parsed
  std::string error;
};
ParsedScript ParseScript(std::string_view text);

}  // namespace harnolfees::driver
