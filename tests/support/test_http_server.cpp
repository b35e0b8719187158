#include "support/test_http_server.hpp"

#include <httplib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "harnolfees/encoding.hpp"

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
      if (req.has_param("Center")) {
        try {
          auto it = centerDocuments_.find(std::stoi(req.get_param_value("Center")));
          if (it != centerDocuments_.end()) body = it->second;
        } catch (const std::exception&) {
        }
      }
    }
    res.status = status;
    res.set_content(body, "text/xml");
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

std::string TestHttpServer::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
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

std::vector<std::string> TestHttpServer::ReceivedBodies() const {
  std::lock_guard lock(mutex_);
  return bodies_;
}

std::vector<std::string> TestHttpServer::ReceivedStatements() const {
  std::vector<std::string> out;
  for (const auto& body : ReceivedBodies()) {
    out.push_back(DecodeFormValue(body.rfind("SQL=", 0) == 0 ? body.substr(4) : body));
  }
  return out;
}

std::vector<std::string> TestHttpServer::ReceivedContentTypes() const {
  std::lock_guard lock(mutex_);
  return contentTypes_;
}

std::vector<std::string> TestHttpServer::RequestedPaths() const {
  std::lock_guard lock(mutex_);
  return paths_;
}

void TestHttpServer::ClearReceived() {
  std::lock_guard lock(mutex_);
  bodies_.clear();
  contentTypes_.clear();
  paths_.clear();
}

std::string DecodeFormValue(const std::string& encoded) {
  std::string bytes;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    char c = encoded[i];
    if (c == '+') {
      bytes += ' ';
    } else if (c == '%' && i + 2 < encoded.size()) {
      bytes += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += c;
    }
  }
  return Windows1252ToUtf8(bytes);
}

std::string ReadTestData(const std::string& name) {
  std::ifstream in(std::string(HARNOLFEES_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read test data " + name);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace harnolfees::testing
