#include "support/run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace harnolfees::testing {

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, std::chrono::seconds limit) {
  // A program that ends before reading all its input makes the write fail
  // instead of ending the test.
  signal(SIGPIPE, SIG_IGN);
  // Everything the child needs is prepared before fork: another thread of
  // the test may hold the allocator's lock at that moment.
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    for (int fd : {in[1], out[0], err[0]}) close(fd);
    throw std::runtime_error("fork failed");
  }
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
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
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

}  // namespace harnolfees::testing
