// Runs one conformance scenario: an operator script run by the headless driver
// against a local test server, whose output must match the scenario's
// expected JSON Lines exactly.
//
//   conformance_runner DRIVER SERVER SCENARIO.script
//
// DRIVER is the headless driver, SERVER the fee server program.
//
// Directives in the script's comments (the driver skips comments):
//   # serve: FILE [STATUS]      the load document for every center, from
//                               tests/conformance/data (status 200 unless given)
//   # serve-center: N FILE      the load document of center N
//   # reply: STATUS [BODY]      queues the reply to the next statement posted;
//                               BODY is a word as in scripts ("  ", "x\r\n")
//   # default-reply: STATUS [BODY]   the reply once the queue is used up
//                               (otherwise 200 with an empty body: confirmed)
//   # mask: REGEX               replaces every match in the output by "<masked>",
//                               for texts that vary from run to run
//   # fee-server: [ARG...]      runs the real fee server on an empty database
//                               instead of the test server, with these extra
//                               arguments ("--center 12:travel"); the output
//                               then has no {"received":...} lines
//   # dump: PATH...             shows only these members of every dump, one
//                               key per path: "widgets.cmdAdd.Caption",
//                               "widgets.txtField.*.Text" (every element),
//                               "widgets.grdFees.TextMatrix.0:3" (rows 0 to 2)
// Placeholders in the script: ${BASE} is the test server's address prefix,
// ${DEAD} one on which nothing listens. The output shows them again in place of
// the addresses.
//
// The compared output is the driver's standard output, then one line
// {"received":STATEMENT} per statement the server received (decoded from the
// form encoding), then {"exit":STATUS}.
//
// With HARNOLFEES_REGENERATE=1 the expected file is rewritten from the actual
// output instead; every rewritten expectation must be checked by hand.
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "json.hpp"
#include "script.hpp"
#include "support/mini_json.hpp"
#include "support/run_program.hpp"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"
#include "support/test_http_server.hpp"

namespace fs = std::filesystem;

namespace {

using harnolfees::testing::Json;
using harnolfees::testing::JsonReader;

struct Scenario {
  std::string script;
  std::vector<std::string> dumpPaths;
  std::vector<std::regex> masks;
  bool feeServer = false;
  std::vector<std::string> feeServerArgs;
};

// A scenario that cannot run or whose output differs; main reports it.
using Failure = std::runtime_error;

using harnolfees::testing::ReadFile;

// The pieces of `text` between the separators; no piece after a last one.
std::vector<std::string> Split(const std::string& text, char separator = '\n') {
  std::vector<std::string> pieces;
  std::istringstream in(text);
  for (std::string piece; std::getline(in, piece, separator);) pieces.push_back(piece);
  return pieces;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (std::size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
}

int ParseInt(const std::string& word, const std::string& what) {
  auto n = harnolfees::driver::ParseScriptNumber(word);
  if (!n) throw Failure(what + " must be a number, not \"" + word + "\"");
  return static_cast<int>(*n);
}

harnolfees::testing::TestReply ParseReply(const std::vector<std::string>& words,
                                          const std::string& line) {
  if (words.empty() || words.size() > 2) throw Failure("usage: # reply: STATUS [BODY]: " + line);
  harnolfees::testing::TestReply reply;
  reply.status = ParseInt(words[0], "reply status");
  if (words.size() == 2) reply.body = words[1];
  return reply;
}

// Reads the directives and sets the server up accordingly.
Scenario Prepare(const std::string& text, const fs::path& dataDir,
                 harnolfees::testing::TestHttpServer& server) {
  Scenario s;
  s.script = text;
  for (const std::string& raw : Split(text)) {
    const std::size_t hash = raw.find_first_not_of(" \t");
    if (hash == std::string::npos || raw[hash] != '#') continue;
    std::string body = raw.substr(hash + 1);
    const std::size_t colon = body.find(':');
    if (colon == std::string::npos) continue;
    std::string name = body.substr(0, colon);
    name.erase(0, name.find_first_not_of(' '));
    static const std::vector<std::string> kNames{"serve", "serve-center", "reply", "default-reply",
                                                 "mask",  "fee-server",   "dump"};
    if (std::find(kNames.begin(), kNames.end(), name) == kNames.end()) continue;
    auto split = harnolfees::driver::SplitScriptLine(body.substr(colon + 1));
    if (!split.error.empty()) throw Failure(split.error + ": " + raw);
    const auto& w = split.words;
    if (name == "serve") {
      if (w.empty() || w.size() > 2) throw Failure("usage: # serve: FILE [STATUS]: " + raw);
      server.SetDocument(ReadFile(dataDir / w[0]),
                         w.size() == 2 ? ParseInt(w[1], "document status") : 200);
    } else if (name == "serve-center") {
      if (w.size() != 2) throw Failure("usage: # serve-center: CENTER FILE: " + raw);
      server.SetDocumentForCenter(ParseInt(w[0], "center"), ReadFile(dataDir / w[1]));
    } else if (name == "reply") {
      server.QueueReply(ParseReply(w, raw));
    } else if (name == "default-reply") {
      server.SetDefaultReply(ParseReply(w, raw));
    } else if (name == "fee-server") {
      s.feeServer = true;
      s.feeServerArgs.insert(s.feeServerArgs.end(), w.begin(), w.end());
    } else if (name == "mask") {
      if (w.size() != 1) throw Failure("usage: # mask: REGEX: " + raw);
      try {
        s.masks.emplace_back(w[0]);
      } catch (const std::regex_error& e) {
        throw Failure(std::string("invalid pattern (") + e.what() + "): " + raw);
      }
    } else {
      s.dumpPaths.insert(s.dumpPaths.end(), w.begin(), w.end());
    }
  }
  return s;
}

// The text of the value at segs[from...] of v; "*" maps over an array, "a:b"
// slices it.
std::string Select(const Json& v, const std::vector<std::string>& segs, std::size_t from,
                   const std::string& path) {
  if (from == segs.size()) return v.raw;
  const std::string& seg = segs[from];
  if (v.kind == Json::Kind::kNull) return v.raw;  // below a null element: null
  if (v.kind == Json::Kind::kObject) {
    for (std::size_t i = 0; i < v.keys.size(); ++i) {
      if (v.keys[i] == seg) return Select(v.values[i], segs, from + 1, path);
    }
    throw Failure("the dump has no member \"" + seg + "\" (path " + path + ")");
  }
  if (v.kind == Json::Kind::kArray) {
    if (seg == "*" || seg.find(':') != std::string::npos) {
      std::size_t lo = 0, hi = v.items.size();
      if (seg != "*") {
        lo = static_cast<std::size_t>(ParseInt(seg.substr(0, seg.find(':')), "slice start"));
        hi = std::min(
            hi, static_cast<std::size_t>(ParseInt(seg.substr(seg.find(':') + 1), "slice end")));
      }
      std::string out = "[";
      for (std::size_t i = lo; i < hi; ++i)
        out += (i > lo ? "," : "") + Select(v.items[i], segs, from + 1, path);
      return out + "]";
    }
    const int index = ParseInt(seg, "array index in " + path);
    if (index < 0 || static_cast<std::size_t>(index) >= v.items.size()) {
      throw Failure("index " + seg + " is outside the dump's array (path " + path + ")");
    }
    return Select(v.items[static_cast<std::size_t>(index)], segs, from + 1, path);
  }
  throw Failure("\"" + seg + "\" goes below a plain value (path " + path + ")");
}

std::string ProjectDump(const std::string& line, const std::vector<std::string>& paths) {
  auto v = JsonReader::Parse(line);
  if (!v) throw Failure("the driver printed a line that is not JSON: " + line);
  std::string out = "{\"event\":\"dump\"";
  for (const std::string& p : paths) {
    out += ',';
    harnolfees::driver::AppendJsonString(out, p);
    out += ':' + Select(*v, Split(p, '.'), 0, p);
  }
  out += '}';
  return out;
}

// Where two JSON values differ, as paths with both values, for a readable
// report of a long line such as a full dump.
void JsonDifferences(const Json& e, const Json& a, const std::string& path,
                     std::vector<std::string>& out) {
  if (out.size() >= 12 || e.raw == a.raw) return;
  if (e.kind == a.kind && e.kind == Json::Kind::kObject && e.keys == a.keys) {
    for (std::size_t i = 0; i < e.keys.size(); ++i) {
      JsonDifferences(e.values[i], a.values[i], path + (path.empty() ? "" : ".") + e.keys[i], out);
    }
    return;
  }
  if (e.kind == a.kind && e.kind == Json::Kind::kArray && e.items.size() == a.items.size()) {
    for (std::size_t i = 0; i < e.items.size(); ++i) {
      JsonDifferences(e.items[i], a.items[i], path + "." + std::to_string(i), out);
    }
    return;
  }
  out.push_back("    at " + (path.empty() ? std::string("(whole line)") : path) +
                ":\n      expected " + e.raw + "\n      actual   " + a.raw);
}

std::string Describe(const std::vector<std::string>& expected,
                     const std::vector<std::string>& actual) {
  std::ostringstream report;
  int shown = 0;
  const std::size_t n = std::max(expected.size(), actual.size());
  for (std::size_t i = 0; i < n && shown < 10; ++i) {
    const std::string* e = i < expected.size() ? &expected[i] : nullptr;
    const std::string* a = i < actual.size() ? &actual[i] : nullptr;
    if (e && a && *e == *a) continue;
    ++shown;
    report << "line " << i + 1 << ":\n";
    if (e && a && e->size() > 200) {
      auto ej = JsonReader::Parse(*e);
      auto aj = JsonReader::Parse(*a);
      if (ej && aj) {
        std::vector<std::string> diffs;
        JsonDifferences(*ej, *aj, "", diffs);
        for (const auto& d : diffs) report << d << "\n";
        continue;
      }
    }
    report << "  expected " << (e ? *e : "(nothing)") << "\n";
    report << "  actual   " << (a ? *a : "(nothing)") << "\n";
  }
  if (expected.size() != actual.size()) {
    report << "expected " << expected.size() << " lines, got " << actual.size() << "\n";
  }
  return report.str();
}

int Run(const std::string& driver, const std::string& serverProgram, const fs::path& scriptPath) {
  const fs::path dataDir = scriptPath.parent_path() / "data";
  fs::path expectedPath = scriptPath;
  expectedPath.replace_extension(".jsonl");

  harnolfees::testing::TestHttpServer server;
  const std::string dead =
      harnolfees::testing::LoopbackUrl(harnolfees::testing::UnusedLoopbackPort());
  Scenario scenario = Prepare(ReadFile(scriptPath), dataDir, server);
  // The fee server on a database of its own, for the scenarios that check the
  // control against the real server page; it ends before its folder goes.
  harnolfees::testing::TempDir folder;
  std::optional<harnolfees::testing::ServerProcess> feeServer;
  if (scenario.feeServer) {
    std::vector<std::string> args{"--db", folder.File("fees.db"), "--listen", "127.0.0.1:0",
                                  "--quiet"};
    args.insert(args.end(), scenario.feeServerArgs.begin(), scenario.feeServerArgs.end());
    feeServer.emplace(serverProgram, args);
  }
  const std::string base =
      feeServer ? harnolfees::testing::LoopbackUrl(feeServer->port()) : server.BaseUrl();
  ReplaceAll(scenario.script, "${BASE}", base);
  ReplaceAll(scenario.script, "${DEAD}", dead);

  const harnolfees::testing::ProgramRun run =
      harnolfees::testing::RunProgram(driver, {"script"}, scenario.script);

  std::vector<std::string> actual;
  for (std::string line : Split(run.out)) {
    ReplaceAll(line, base, "${BASE}");
    ReplaceAll(line, dead, "${DEAD}");
    for (const std::regex& mask : scenario.masks) line = std::regex_replace(line, mask, "<masked>");
    if (!scenario.dumpPaths.empty() && line.rfind("{\"event\":\"dump\"", 0) == 0) {
      line = ProjectDump(line, scenario.dumpPaths);
    }
    actual.push_back(line);
  }
  for (const std::string& statement : server.ReceivedStatements()) {
    std::string line = "{\"received\":";
    harnolfees::driver::AppendJsonString(line, statement);
    line += '}';
    actual.push_back(line);
  }
  actual.push_back("{\"exit\":" + std::to_string(run.status) + "}");

  if (const char* regen = std::getenv("HARNOLFEES_REGENERATE"); regen && *regen == '1') {
    std::ofstream o(expectedPath, std::ios::binary);
    for (const auto& l : actual) o << l << '\n';
    std::cout << "rewrote " << expectedPath.string() << ": check it by hand\n";
    return 0;
  }

  if (!fs::exists(expectedPath)) {
    throw Failure("no expected output " + expectedPath.filename().string() +
                  "; run with HARNOLFEES_REGENERATE=1 to write it, then check it by hand");
  }
  const std::vector<std::string> expected = Split(ReadFile(expectedPath));
  if (expected == actual) {
    std::cout << scriptPath.filename().string() << ": " << actual.size() << " lines as expected\n";
    return 0;
  }
  std::cout << scriptPath.filename().string() << " differs from "
            << expectedPath.filename().string() << ":\n"
            << Describe(expected, actual);
  if (!run.err.empty()) std::cout << "driver's standard error:\n" << run.err;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: conformance_runner DRIVER SERVER SCENARIO.script\n";
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  try {
    return Run(argv[1], argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::cout << argv[3] << ": " << e.what() << "\n";
    return 1;
  }
}
