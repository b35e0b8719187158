// The benchmarks' HTTP client of the fee server.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace harnolfees::bench {

// The load generator's client: one keep-alive connection to 127.0.0.1,
// blocking reads and writes, a request in one send. It spends as little of the
// machine as a client can, so that the rate measures the server; a general
// client library waits for readiness before every read and write, which on a
// two-core machine takes the server's own time.
class LoopbackClient {
 public:
  explicit LoopbackClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    if (fd_ < 0 || setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 ||
        connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      Close();
    }
  }
  ~LoopbackClient() { Close(); }
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  // Posts a form body; true for a 200 reply with an empty body (a confirmed
  // statement).
  bool PostConfirmed(const std::string& body) {
    if (fd_ < 0) return false;
    request_ =
        "POST /TermFeesAX.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    for (std::size_t sent = 0; sent < request_.size();) {
      const ssize_t n = send(fd_, request_.data() + sent, request_.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return Close();
      sent += static_cast<std::size_t>(n);
    }
    // The reply: its header, then as many body bytes as it announces.
    std::size_t headerEnd = std::string::npos;
    while ((headerEnd = reply_.find("\r\n\r\n")) == std::string::npos) {
      if (!Receive()) return false;
    }
    const bool ok = reply_.compare(0, 13, "HTTP/1.1 200 ") == 0;
    std::size_t length = 0;
    const std::string header = reply_.substr(0, headerEnd);
    for (const char* name : {"Content-Length: ", "content-length: "}) {
      if (const std::size_t at = header.find(name); at != std::string::npos) {
        length = std::stoul(header.substr(at + std::strlen(name)));
      }
    }
    const std::size_t total = headerEnd + 4 + length;
    while (reply_.size() < total) {
      if (!Receive()) return false;
    }
    reply_.erase(0, total);
    return ok && length == 0;
  }

 private:
  bool Receive() {
    char buffer[4096];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return Close();
    reply_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  bool Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return false;
  }

  int fd_ = -1;
  std::string request_, reply_;
};

}  // namespace harnolfees::bench
