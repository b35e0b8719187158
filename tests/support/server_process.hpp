// A program run as a child process that announces its port on its first
// line of output, "listening on 127.0.0.1:PORT", as harnolfees-server does.
// It is started as RunProgram starts one (both in run_program.cpp).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace harnolfees::testing {

class ServerProcess {
 public:
  struct Options {
    std::string stderrFile = "/dev/null";  // the child's error output, appended
    // A write beyond the file size limit then fails, as on a full disk,
    // instead of ending the child with SIGXFSZ.
    bool ignoreFileSizeSignal = false;
  };

  // Starts `program` with `args` and waits for its port; throws
  // std::runtime_error, with what it said, when it does not announce one.
  ServerProcess(const std::string& program, const std::vector<std::string>& args,
                const Options& options);
  ServerProcess(const std::string& program, const std::vector<std::string>& args)
      : ServerProcess(program, args, Options{}) {}
  ~ServerProcess() { Kill(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // SIGKILL: the end a crash would make.
  void Kill();
  // SIGTERM, then its exit status; -1 when it did not exit on its own.
  int Stop();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace harnolfees::testing
