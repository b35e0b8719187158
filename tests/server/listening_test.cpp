// The listening socket of the fee server: how it takes a burst of
// connections, and that a port is never shared by two servers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "server_test_util.hpp"

namespace harnolfees::server::testing {
namespace {

// Starts a non-blocking connect to 127.0.0.1:port; -1 when it failed at once.
int StartConnect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether the connection's handshake completed within the wait.
bool Established(int fd, int waitMs) {
  pollfd p{fd, POLLOUT, 0};
  if (poll(&p, 1, waitMs) != 1) return false;
  int error = 0;
  socklen_t size = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

TEST(Listening, ABurstOfClientsIsQueuedWhileNoneIsAcceptedYet) {
  TempDir dir;
  ServerOptions options = OptionsFor(dir.File("fees.db"));
  options.port = 0;
  FeeServer server(std::move(options));
  const int port = server.Bind();  // bound and listening, nothing accepted yet

  // The kernel completes a handshake only while the queue of pending
  // connections has room; a client beyond it has its SYN dropped and waits a
  // second or more to try again. A short queue would leave most of these
  // clients waiting.
  constexpr int kClients = 24;
  std::vector<int> fds;
  for (int i = 0; i < kClients; ++i) fds.push_back(StartConnect(port));
  int established = 0;
  for (int fd : fds) {
    if (fd >= 0 && Established(fd, 300)) ++established;
  }
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  EXPECT_EQ(established, kClients);
}

TEST(Listening, ASecondServerCannotTakeAPortInUse) {
  TempDir dir;
  ServerOptions first = OptionsFor(dir.File("a.db"));
  first.port = 0;
  FeeServer a(std::move(first));
  const int port = a.Bind();

  ServerOptions second = OptionsFor(dir.File("b.db"));
  second.port = port;
  FeeServer b(std::move(second));
  EXPECT_THROW(b.Bind(), std::runtime_error);
}

}  // namespace
}  // namespace harnolfees::server::testing
