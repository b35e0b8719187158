// Both ways the tests start a program: run to its end (RunProgram) and left
// running as a server (ServerProcess). They share the start.
#include "support/run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

#include "support/server_process.hpp"

namespace harnolfees::testing {
namespace {

// Starts `program` with `args` and `fds` as its standard input, output and
// error (-1: this process's own), which are closed here once the child has
// them.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::array<int, 3>& fds, bool ignoreFileSizeSignal = false) {
  // Everything the child needs is prepared before fork: another thread of
  // the test may hold the allocator's lock at that moment.
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (ignoreFileSizeSignal) signal(SIGXFSZ, SIG_IGN);
    for (int i = 0; i < 3; ++i) {
      if (fds[i] >= 0) dup2(fds[i], i);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  if (pid < 0) throw std::runtime_error("fork failed");
  return pid;
}

void KillAndWait(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, std::chrono::seconds limit) {
  // A program that ends before reading all its input makes the write fail
  // instead of ending the test.
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = Spawn(program, args, {in[0], out[1], err[1]});
  // The input goes in as the output comes out, so that neither side can
  // fill a pipe and wait for the other.
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  int inFd = in[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  ProgramRun run;
  std::size_t written = 0;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    if (std::chrono::steady_clock::now() > deadline) {
      KillAndWait(pid);
      for (int fd : {inFd, out[0], err[0]}) {
        if (fd >= 0) close(fd);
      }
      throw std::runtime_error(program + " did not end within " + std::to_string(limit.count()) +
                               " s; its output so far:\n" + run.out);
    }
    pollfd fds[3] = {
        {outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}, {inFd, POLLOUT, 0}};
    if (poll(fds, 3, 1000) < 0) continue;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[65536];
      const ssize_t n = read(fds[k].fd, buf, sizeof buf);
      if (n <= 0) {
        (k == 0 ? outOpen : errOpen) = false;
        continue;
      }
      (k == 0 ? run.out : run.err).append(buf, static_cast<std::size_t>(n));
    }
    if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = write(inFd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 || written == input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& args,
                             const Options& options) {
  const int err = open(options.stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    if (err >= 0) close(err);
    throw std::runtime_error("pipe failed");
  }
  pid_ = Spawn(program, args, {-1, out[1], err}, options.ignoreFileSizeSignal);
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
  KillAndWait(pid_);
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
