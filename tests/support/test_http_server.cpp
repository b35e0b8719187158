#include "support/test_http_server.hpp"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "form.hpp"

namespace harnolfees::testing {

TestHttpServer::TestHttpServer() : server_(std::make_unique<httplib::Server>()) {
  server_->Get("/TermFeesAX.asp", [this](const httplib::Request& req, httplib::Response& res) {
    std::string body;
    int status = 200;
    {
      std::lock_guard lock(mutex_);
      paths_.push_back(req.target);
      body = document_;
      status = documentStatus_;
      // No center, or one that is not a number, reads as 0: no document of its own.
      auto it = centerDocuments_.find(std::atoi(req.get_param_value("Center").c_str()));
      if (it != centerDocuments_.end()) body = it->second;
    }
    res.status = status;
    // Given with its length through a provider, the document goes out as it
    // is: the library would otherwise compress text/xml for clients that
    // accept it, with brotli at its slowest setting (seconds per large load).
    if (body.empty()) return res.set_content("", "text/xml");
    auto shared = std::make_shared<const std::string>(std::move(body));
    res.set_content_provider(
        shared->size(), "text/xml",
        [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          return sink.write(shared->data() + offset, std::min(length, shared->size() - offset));
        });
  });
  server_->Post("/TermFeesAX.asp", [this](const httplib::Request& req, httplib::Response& res) {
    TestReply reply;
    {
      std::lock_guard lock(mutex_);
      paths_.push_back(req.target);
      bodies_.push_back(req.body);
      contentTypes_.push_back(req.get_header_value("Content-Type"));
      if (!replies_.empty()) {
        reply = replies_.front();
        replies_.pop_front();
      } else {
        reply = defaultReply_;
      }
    }
    if (reply.delay.count() > 0) std::this_thread::sleep_for(reply.delay);
    res.status = reply.status;
    res.set_content(reply.body, "text/html");
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("test HTTP server: cannot bind a loopback port");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestHttpServer::~TestHttpServer() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

void TestHttpServer::SetDocument(std::string xml, int status) {
  std::lock_guard lock(mutex_);
  document_ = std::move(xml);
  documentStatus_ = status;
}

void TestHttpServer::SetDocumentForCenter(int center, std::string xml) {
  std::lock_guard lock(mutex_);
  centerDocuments_[center] = std::move(xml);
}

void TestHttpServer::QueueReply(TestReply reply) {
  std::lock_guard lock(mutex_);
  replies_.push_back(std::move(reply));
}

void TestHttpServer::SetDefaultReply(TestReply reply) {
  std::lock_guard lock(mutex_);
  defaultReply_ = std::move(reply);
}

std::vector<std::string> TestHttpServer::ReceivedStatements() const {
  std::vector<std::string> out;
  for (const auto& body : ReceivedBodies()) {
    out.push_back(DecodeFormValue(body.rfind("SQL=", 0) == 0 ? body.substr(4) : body));
  }
  return out;
}

namespace {

int ListenOnLoopback(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("faulty server: no socket");
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("faulty server: cannot listen on a loopback port");
  }
  port = ntohs(addr.sin_port);
  return fd;
}

// Waits up to `ms` for the descriptor to become readable.
bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

}  // namespace

FaultyServer::FaultyServer(FaultMode mode, std::string dribbleBody,
                           std::chrono::milliseconds dribbleStep)
    : mode_(mode), dribbleBody_(std::move(dribbleBody)), dribbleStep_(dribbleStep) {
  listenFd_ = ListenOnLoopback(port_);
  thread_ = std::thread([this] { Serve(); });
}

FaultyServer::~FaultyServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  for (int fd : held_) ::close(fd);
  ::close(listenFd_);
}

int FaultyServer::Accepted() const { return accepted_.load(); }

void FaultyServer::Serve() {
  while (!stop_) {
    if (!Readable(listenFd_, 10)) continue;
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    ++accepted_;
    Handle(fd);
  }
}

void FaultyServer::Handle(int fd) {
  if (mode_ == FaultMode::Silent) {
    held_.push_back(fd);
    return;
  }
  // Reads the request: headers, then whatever body arrives soon after.
  std::string request;
  char buf[4096];
  while (!stop_ && request.find("\r\n\r\n") == std::string::npos) {
    if (!Readable(fd, 10)) continue;
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    request.append(buf, static_cast<std::size_t>(n));
  }
  if (mode_ == FaultMode::Reset) {
    linger hard{1, 0};  // close with a reset instead of an orderly end
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
    return;
  }
  int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                      std::to_string(dribbleBody_.size()) + "\r\nConnection: close\r\n\r\n" +
                      dribbleBody_;
  for (char c : reply) {
    if (stop_ || ::send(fd, &c, 1, MSG_NOSIGNAL) != 1) break;
    std::this_thread::sleep_for(dribbleStep_);
  }
  ::close(fd);
}

int UnusedLoopbackPort() {
  int port = 0;
  int fd = ListenOnLoopback(port);
  ::close(fd);
  return port;
}

std::string DecodeFormValue(const std::string& encoded) {
  // The server page's own reading, so that what the control sends and what
  // the page takes cannot drift apart unnoticed.
  auto decoded = server::DecodeStatementBody("SQL=" + encoded);
  if (const auto* refused = std::get_if<server::FormError>(&decoded)) {
    return "(refused by the server page: " + refused->message + ")";
  }
  return std::get<std::string>(decoded);
}

std::string ReadTestData(const std::string& name) {
  return ReadFile(std::string(HARNOLFEES_TEST_DATA_DIR) + "/" + name);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace harnolfees::testing
