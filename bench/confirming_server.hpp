// A minimal local HTTP server for the benchmarks: it answers every request
// on every kept-alive connection with an empty 200, so a round trip measures
// the client side only.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace harnolfees::bench {

// Answers every request on every kept-alive connection with an empty 200.
class ConfirmingServer {
 public:
  ConfirmingServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      throw std::runtime_error("bench server: cannot listen");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ConfirmingServer() {
    stop_ = true;
    thread_.join();
    for (auto& c : clients_) ::close(c.fd);
    ::close(listenFd_);
  }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  int Connections() const { return connections_.load(); }
  long Requests() const { return requests_.load(); }

 private:
  struct Client {
    int fd;
    std::string in;
  };

  static std::size_t ContentLength(const std::string& head) {
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto at = lower.find("content-length:");
    return at == std::string::npos ? 0 : std::stoul(lower.substr(at + 15));
  }

  // Answers every complete request in the buffer; false when the peer is gone.
  bool Answer(Client& c) {
    static const std::string kReply =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n";
    for (;;) {
      auto end = c.in.find("\r\n\r\n");
      if (end == std::string::npos) return true;
      std::size_t total = end + 4 + ContentLength(c.in.substr(0, end));
      if (c.in.size() < total) return true;
      c.in.erase(0, total);
      ++requests_;
      if (::send(c.fd, kReply.data(), kReply.size(), MSG_NOSIGNAL) < 0) return false;
    }
  }

  void Serve() {
    char buf[65536];
    while (!stop_) {
      std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
      for (auto& c : clients_) fds.push_back({c.fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd >= 0) {
          int yes = 1;
          ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
          clients_.push_back({fd, {}});
          ++connections_;
        }
      }
      for (std::size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        Client& c = clients_[i - 1];
        ssize_t n = ::read(c.fd, buf, sizeof buf);
        if (n > 0) c.in.append(buf, static_cast<std::size_t>(n));
        if (n <= 0 || !Answer(c)) {
          ::close(c.fd);
          c.fd = -1;
        }
      }
      std::erase_if(clients_, [](const Client& c) { return c.fd < 0; });
    }
  }

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<long> requests_{0};
  std::vector<Client> clients_;
  std::thread thread_;
};

}  // namespace harnolfees::bench
