#include "support/server_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace harnolfees::testing {

ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& args,
                             const Options& options) {
  // Everything the child needs is prepared before fork: another thread of
  // the test may hold the allocator's lock at that moment.
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int err = open(options.stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    if (err >= 0) close(err);
    throw std::runtime_error("pipe failed");
  }
  pid_ = fork();
  if (pid_ == 0) {
    if (options.ignoreFileSizeSignal) signal(SIGXFSZ, SIG_IGN);
    dup2(out[1], 1);
    if (err >= 0) dup2(err, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  if (err >= 0) close(err);
  if (pid_ < 0) {
    close(out[0]);
    throw std::runtime_error("fork failed");
  }
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&p, 1, 30000) > 0) {
    char buf[256];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
  close(out[0]);
  const std::string prefix = "listening on 127.0.0.1:";
  if (line.rfind(prefix, 0) != 0) {
    Kill();
    throw std::runtime_error(program + " did not start: " + line);
  }
  port_ = std::stoi(line.substr(prefix.size()));
}

void ServerProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int ServerProcess::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace harnolfees::testing
