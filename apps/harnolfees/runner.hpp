// Runs an operator script against one headless control and writes what
// happens as JSON Lines.
#pragma once

#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "harnolfees/control.hpp"
#include "headless_host.hpp"
#include "script.hpp"

namespace harnolfees::driver {

inline constexpr int kExitOk = 0;
inline constexpr int kExitInternal = 1;
inline constexpr int kExitScript = 2;

// The network components behind the logging decorators; libcurl unless a
// test supplies its own.
struct NetworkFactories {
  std::function<std::unique_ptr<DocumentFetcher>()> fetcher;
  std::function<std::unique_ptr<Transfer>(HostServices&)> transfer;
};

class ScriptRunner {
 public:
  explicit ScriptRunner(std::ostream& out, NetworkFactories network = {});
  ~ScriptRunner();
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  // Creates the control (its start-up runs). False when it could not be
  // created; the error event is written.
  bool Start();
  // Parses and runs one line (numbered from 1). False when the script must
  // stop: the line could not be parsed or named something that does not exist.
  bool RunLine(int number, std::string_view line);
  // Tears the control down; returns the exit status.
  int Finish();

  int status() const { return status_; }
  HarnolFeesCtlCenter* control() { return control_.get(); }
  HeadlessHost& host() { return host_; }

 private:
  void Execute(int line, const Command& command);
  void ReportError(int line, const std::string& message);

  EventOutput events_;
  HeadlessHost host_;
  NetworkFactories network_;
  std::unique_ptr<HarnolFeesCtlCenter> control_;
  int status_ = kExitOk;
};

// Runs every line of `in` (the lines after one in error are not run) and
// returns the exit status: 0, 1 on an internal failure, 2 on a script error.
int RunScript(std::istream& in, std::ostream& out, NetworkFactories network = {});

}  // namespace harnolfees::driver
