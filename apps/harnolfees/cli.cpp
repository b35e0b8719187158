#include "cli.hpp"

#include <fstream>

#include "json.hpp"
#include "runner.hpp"
#include "script.hpp"
#include "show.hpp"

namespace harnolfees::driver {

std::string UsageText() {
  return R"(usage:
  harnolfees script [FILE]
      Runs the fee control without a window: creates it, runs the operator
      script in FILE (standard input when FILE is absent or "-") and writes
      what happens as JSON Lines on standard output.
  harnolfees show URL CENTER [--tab N] [--server-date DATE] [--csv]
      Loads CENTER's fee schedule from the server pages at URL (the address
      prefix, e.g. http://127.0.0.1:8080/) and prints tab N's grid, or every
      tab's grid under its caption, as a text table. DATE defaults to today.
      Message boxes the control shows go to standard error.
      With --csv the grids come as CSV (RFC 4180, UTF-8, CR LF): tab N's
      alone, or every tab's after a line "# N CAPTION" and before an empty
      line.
  harnolfees --help
      Shows this text.

Script lines (one command per line; blank lines and lines starting with #
are skipped; "quoted words" may hold blanks and \" \\ \n \r \t \xHH):
  load URL CENTER SERVERDATE     viewmode true|false     clubid N
  stringparameter FS RS TS ND    populate TEXT           urlencode TEXT
  tab N            cell ROW [COL]         click cmdAdd|cmdEdit|cmdDelete
  type I TEXT      select NAME I          selecttext NAME TEXT
  check chkTravel|chkDT 0|1      date I DATE             answer yes|no
  dump
Commands act on the form whatever its buttons and boxes show as enabled.

Events: msgbox, get, post, focus, pointer, urlencode, error, dump.

Exit status:
  0  every command ran (whatever message boxes the control showed);
     for show: the center loaded
  1  internal failure; for show: the load failed (message on standard error)
  2  a script line could not be parsed or named a command, control or index
     that does not exist (an error event gives its line; later lines are not
     run); or the command line itself is wrong
)";
}

namespace {

int UsageError(std::ostream& err, const std::string& message) {
  err << "harnolfees: " << message << "\n\n" << UsageText();
  return kExitScript;
}

int RunScriptCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err) {
  if (args.size() > 2) return UsageError(err, "script takes at most one FILE");
  if (args.size() == 1 || args[1] == "-") return RunScript(in, out);
  std::ifstream file(args[1], std::ios::binary);
  if (!file) {
    JsonBuilder j;
    j.BeginObject()
        .Field("event", "error")
        .Field("line", 0)
        .Field("message", "cannot read the script file \"" + args[1] + "\"")
        .EndObject();
    out << j.str() << '\n';
    out.flush();
    return kExitScript;
  }
  return RunScript(file, out);
}

int RunShowCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ShowOptions options;
  std::vector<std::string> positional;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string name = a, value;
    bool hasValue = false;
    if (a.rfind("--", 0) == 0) {
      const std::size_t eq = a.find('=');
      if (eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        hasValue = true;
      }
      if (name == "--csv") {
        if (hasValue) return UsageError(err, "--csv takes no value");
        options.csv = true;
        continue;
      }
      if (name != "--tab" && name != "--server-date") {
        return UsageError(err, "show has no option " + name);
      }
      if (!hasValue) {
        if (i + 1 >= args.size()) return UsageError(err, name + " needs a value");
        value = args[++i];
      }
      if (name == "--tab") {
        const auto tab = ParseScriptNumber(value);
        if (!tab || *tab < 1 || *tab > 14) {
          return UsageError(err, "--tab must be a tab from 1 to 14, not \"" + value + "\"");
        }
        options.tab = static_cast<int>(*tab);
      } else {
        if (value.empty()) return UsageError(err, "--server-date needs a date");
        options.serverDate = value;
      }
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) return UsageError(err, "show needs URL and CENTER");
  options.url = positional[0];
  const auto center = ParseScriptNumber(positional[1]);
  if (!center || *center < -32768 || *center > 32767) {
    return UsageError(
        err, "CENTER must be a number from -32768 to 32767, not \"" + positional[1] + "\"");
  }
  options.center = static_cast<std::int16_t>(*center);
  return RunShow(options, out, err);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err) {
  if (args.empty()) return UsageError(err, "a command is needed");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    out << UsageText();
    return kExitOk;
  }
  if (command == "script") return RunScriptCommand(args, in, out, err);
  if (command == "show") return RunShowCommand(args, out, err);
  return UsageError(err, "unknown command \"" + command + "\"");
}

}  // namespace harnolfees::driver
