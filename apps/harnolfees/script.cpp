#include "script.hpp"

#include <array>
#include <limits>

namespace harnolfees::driver {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Column(std::size_t index) { return "column " + std::to_string(index + 1); }

// Reads the quoted word whose opening quote is at `pos`; leaves `pos` after
// the closing quote. Returns an error text, empty on success.
std::string ReadQuotedWord(std::string_view line, std::size_t& pos, std::string& word) {
  const std::size_t start = pos;
  ++pos;
  while (pos < line.size()) {
    const char c = line[pos];
    if (c == '"') {
      ++pos;
      return {};
    }
    if (c != '\\') {
      word += c;
      ++pos;
      continue;
    }
    if (pos + 1 >= line.size()) break;
    const char e = line[pos + 1];
    switch (e) {
      case '"':
      case '\\':
        word += e;
        pos += 2;
        continue;
      case 'n':
        word += '\n';
        pos += 2;
        continue;
      case 'r':
        word += '\r';
        pos += 2;
        continue;
      case 't':
        word += '\t';
        pos += 2;
        continue;
      case 'x': {
        const int high = pos + 2 < line.size() ? HexDigit(line[pos + 2]) : -1;
        const int low = pos + 3 < line.size() ? HexDigit(line[pos + 3]) : -1;
        if (high < 0 || low < 0) {
          return "\\x must be followed by two hexadecimal digits (" + Column(pos) + ")";
        }
        word += static_cast<char>(high * 16 + low);
        pos += 4;
        continue;
      }
      default:
        return std::string("unknown escape \\") + e + " in a quoted word (" + Column(pos) +
               "); the escapes are \\\" \\\\ \\n \\r \\t \\xHH";
    }
  }
  return "quoted word opened at " + Column(start) + " has no closing quote";
}

}  // namespace

LineWords SplitScriptLine(std::string_view line) {
  LineWords result;
  std::size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos == line.size() || line[pos] == '#') return result;
  while (pos < line.size()) {
    if (IsBlank(line[pos])) {
      ++pos;
      continue;
    }
    std::string word;
    if (line[pos] == '"') {
      std::string error = ReadQuotedWord(line, pos, word);
      if (error.empty() && pos < line.size() && !IsBlank(line[pos])) {
        error = "a quoted word must be followed by a blank (" + Column(pos) + ")";
      }
      if (!error.empty()) {
        result.words.clear();
        result.error = std::move(error);
        return result;
      }
    } else {
      while (pos < line.size() && !IsBlank(line[pos])) {
        if (line[pos] == '"') {
          result.words.clear();
          result.error = "a double quote may only open a word (" + Column(pos) + ")";
          return result;
        }
        word += line[pos++];
      }
    }
    result.words.push_back(std::move(word));
  }
  return result;
}

std::optional<std::int64_t> ParseScriptNumber(std::string_view word) {
  std::size_t pos = 0;
  const bool negative = !word.empty() && word[0] == '-';
  if (negative) pos = 1;
  if (pos == word.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; pos < word.size(); ++pos) {
    const char c = word[pos];
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

namespace {

struct Syntax {
  const char* name;
  CommandKind kind;
  const char* usage;
  std::size_t minArgs, maxArgs;
};

constexpr std::array<Syntax, 16> kCommands{{
    {"load", CommandKind::kLoad, "load URL CENTER SERVERDATE", 3, 3},
    {"viewmode", CommandKind::kViewMode, "viewmode true|false", 1, 1},
    {"clubid", CommandKind::kClubId, "clubid N", 1, 1},
    {"stringparameter", CommandKind::kStringParameter, "stringparameter FS RS TS ND", 4, 4},
    {"populate", CommandKind::kPopulate, "populate TEXT", 1, 1},
    {"urlencode", CommandKind::kUrlEncode, "urlencode TEXT", 1, 1},
    {"tab", CommandKind::kTab, "tab N", 1, 1},
    {"cell", CommandKind::kCell, "cell ROW [COL]", 1, 2},
    {"click", CommandKind::kClick, "click cmdAdd|cmdEdit|cmdDelete", 1, 1},
    {"type", CommandKind::kType, "type I TEXT", 2, 2},
    {"select", CommandKind::kSelect, "select NAME I", 2, 2},
    {"selecttext", CommandKind::kSelectText, "selecttext NAME TEXT", 2, 2},
    {"check", CommandKind::kCheck, "check chkTravel|chkDT 0|1", 2, 2},
    {"date", CommandKind::kDate, "date I DATE", 2, 2},
    {"answer", CommandKind::kAnswer, "answer yes|no", 1, 1},
    {"dump", CommandKind::kDump, "dump", 0, 0},
}};

constexpr std::array<const char*, 6> kComboBoxes{"cboTerm",    "cboType",        "cboBitwise",
                                                 "cboAPRType", "cboAccessLevel", "cboBanckAccType"};

template <std::size_t N>
bool OneOf(const std::string& word, const std::array<const char*, N>& names) {
  for (const char* n : names) {
    if (word == n) return true;
  }
  return false;
}

// A number argument within [low, high]; otherwise an error naming the argument.
// Indexes name something that may not exist ("there is no tab 15"); other
// numbers are values out of range.
bool NumberArg(const std::string& word, const char* what, std::int64_t low, std::int64_t high,
               int& out, std::string& error, bool isIndex = true) {
  const auto n = ParseScriptNumber(word);
  if (!n) {
    error = std::string(what) + " must be a decimal number, not \"" + word + "\"";
    return false;
  }
  if (*n < low || *n > high) {
    const std::string range = "(" + std::to_string(low) + " to " + std::to_string(high) + ")";
    error = isIndex ? std::string("there is no ") + what + " " + word + " " + range
                    : std::string(what) + " " + word + " is out of range " + range;
    return false;
  }
  out = static_cast<int>(*n);
  return true;
}

constexpr std::int64_t kInt16Min = std::numeric_limits<std::int16_t>::min();
constexpr std::int64_t kInt16Max = std::numeric_limits<std::int16_t>::max();
constexpr std::int64_t kIntMin = std::numeric_limits<int>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();

}  // namespace

ParsedLine ParseScriptLine(std::string_view line) {
  ParsedLine result;
  LineWords split = SplitScriptLine(line);
  if (!split.error.empty()) {
    result.status = ParsedLine::Status::kError;
    result.error = std::move(split.error);
    return result;
  }
  if (split.words.empty()) return result;

  const std::string& verb = split.words[0];
  const Syntax* syntax = nullptr;
  for (const Syntax& s : kCommands) {
    if (verb == s.name) syntax = &s;
  }
  auto fail = [&](std::string message) {
    result.status = ParsedLine::Status::kError;
    result.error = std::move(message);
    return result;
  };
  if (syntax == nullptr) return fail("unknown command \"" + verb + "\"");
  const std::vector<std::string> args(split.words.begin() + 1, split.words.end());
  if (args.size() < syntax->minArgs || args.size() > syntax->maxArgs) {
    return fail(std::string(args.size() < syntax->minArgs ? "too few" : "too many") +
                " arguments; usage: " + syntax->usage);
  }

  Command& c = result.command;
  c.kind = syntax->kind;
  std::string error;
  switch (c.kind) {
    case CommandKind::kLoad:
      if (!NumberArg(args[1], "center", kInt16Min, kInt16Max, c.number, error, false)) {
        return fail(error);
      }
      c.texts = {args[0], args[2]};
      break;
    case CommandKind::kViewMode:
    case CommandKind::kAnswer: {
      const bool viewMode = c.kind == CommandKind::kViewMode;
      const char* yes = viewMode ? "true" : "yes";
      const char* no = viewMode ? "false" : "no";
      if (args[0] == yes) {
        c.flag = true;
      } else if (args[0] != no) {
        return fail("\"" + args[0] + "\" is neither " + yes + " nor " + no +
                    "; usage: " + syntax->usage);
      }
      break;
    }
    case CommandKind::kClubId:
      if (!NumberArg(args[0], "ClubID", kInt16Min, kInt16Max, c.number, error, false)) {
        return fail(error);
      }
      break;
    case CommandKind::kStringParameter:
    case CommandKind::kPopulate:
    case CommandKind::kUrlEncode:
      c.texts = args;
      break;
    case CommandKind::kTab:
      if (!NumberArg(args[0], "tab", 1, 14, c.number, error)) return fail(error);
      break;
    case CommandKind::kCell:
      if (!NumberArg(args[0], "grid row", kIntMin, kIntMax, c.number, error)) return fail(error);
      if (args.size() > 1 &&
          !NumberArg(args[1], "grid column", kIntMin, kIntMax, c.number2, error)) {
        return fail(error);
      }
      break;
    case CommandKind::kClick:
      if (args[0] != "cmdAdd" && args[0] != "cmdEdit" && args[0] != "cmdDelete") {
        return fail("there is no button \"" + args[0] + "\" (cmdAdd, cmdEdit or cmdDelete)");
      }
      c.name = args[0];
      break;
    case CommandKind::kType:
      if (!NumberArg(args[0], "txtField", 1, 7, c.number, error)) return fail(error);
      c.texts = {args[1]};
      break;
    case CommandKind::kSelect:
    case CommandKind::kSelectText:
      if (!OneOf(args[0], kComboBoxes)) {
        return fail("there is no combo box \"" + args[0] +
                    "\" (cboTerm, cboType, cboBitwise, cboAPRType, cboAccessLevel or "
                    "cboBanckAccType)");
      }
      c.name = args[0];
      if (c.kind == CommandKind::kSelect) {
        if (!NumberArg(args[1], "list item", -1, kIntMax, c.number, error)) return fail(error);
      } else {
        c.texts = {args[1]};
      }
      break;
    case CommandKind::kCheck:
      if (args[0] != "chkTravel" && args[0] != "chkDT") {
        return fail("there is no check box \"" + args[0] + "\" (chkTravel or chkDT)");
      }
      c.name = args[0];
      if (!NumberArg(args[1], "check box value", 0, 1, c.number, error, false)) {
        return fail(error);
      }
      break;
    case CommandKind::kDate:
      if (!NumberArg(args[0], "DTPicker1", 0, 2, c.number, error)) return fail(error);
      c.texts = {args[1]};
      break;
    case CommandKind::kDump:
      break;
  }
  result.status = ParsedLine::Status::kCommand;
  return result;
}

ParsedScript ParseScript(std::string_view text) {
  ParsedScript result;
  int number = 0;
  while (!text.empty() || number == 0) {
    ++number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ParsedLine parsed = ParseScriptLine(line);
    if (parsed.status == ParsedLine::Status::kError) {
      result.errorLine = number;
      result.error = std::move(parsed.error);
      return result;
    }
    if (parsed.status == ParsedLine::Status::kCommand) {
      result.commands.push_back({number, std::move(parsed.command)});
    }
  }
  return result;
}

}  // namespace harnolfees::driver
