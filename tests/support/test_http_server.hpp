// A local HTTP server for tests: it serves load documents and records the
// statements posted to it, answering with replies that the test sets.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace harnolfees::testing {

inline std::string LoopbackUrl(int port) {
  return "http://127.0.0.1:" + std::to_string(port) + "/";
}

struct TestReply {
  int status = 200;
  std::string body;
  std::chrono::milliseconds delay{0};
};

class TestHttpServer {
 public:
  // Listens on 127.0.0.1 at a free port.
  TestHttpServer();
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:PORT/", the prefix the control appends page names to.
  std::string BaseUrl() const { return LoopbackUrl(port_); }

  // The load document served for every center, or for one center.
  void SetDocument(std::string xml, int status = 200);
  void SetDocumentForCenter(int center, std::string xml);

  // Replies to the next posts, in order; once used up, posts get `defaultReply`.
  void QueueReply(TestReply reply);
  void SetDefaultReply(TestReply reply);

  // Raw bodies as received ("SQL=...") and the statements they carry,
  // decoded from the form encoding and Windows-1252.
  std::vector<std::string> ReceivedBodies() const { return Locked(bodies_); }
  std::vector<std::string> ReceivedStatements() const;
  std::vector<std::string> ReceivedContentTypes() const { return Locked(contentTypes_); }
  // The path and query of every request.
  std::vector<std::string> RequestedPaths() const { return Locked(paths_); }

 private:
  std::vector<std::string> Locked(const std::vector<std::string>& v) const {
    std::lock_guard lock(mutex_);
    return v;
  }
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::string document_;
  int documentStatus_ = 200;
  std::map<int, std::string> centerDocuments_;
  std::deque<TestReply> replies_;
  TestReply defaultReply_;
  std::vector<std::string> bodies_;
  std::vector<std::string> contentTypes_;
  std::vector<std::string> paths_;
};

// A loopback server that misbehaves on purpose, for the transfer's failure
// handling: it never answers (Silent), resets the connection after reading
// the request (Reset), or sends a valid reply one byte at a time (Dribble).
enum class FaultMode { Silent, Reset, Dribble };

class FaultyServer {
 public:
  explicit FaultyServer(FaultMode mode, std::string dribbleBody = "",
                        std::chrono::milliseconds dribbleStep = std::chrono::milliseconds(5));
  ~FaultyServer();
  FaultyServer(const FaultyServer&) = delete;
  FaultyServer& operator=(const FaultyServer&) = delete;

  int Port() const { return port_; }
  std::string BaseUrl() const { return LoopbackUrl(port_); }
  // Connections accepted so far.
  int Accepted() const;

 private:
  void Serve();
  void Handle(int fd);

  FaultMode mode_;
  std::string dribbleBody_;
  std::chrono::milliseconds dribbleStep_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::vector<int> held_;  // connections of the Silent mode, kept open
  std::thread thread_;
};

// A loopback port on which nothing listens: connecting to it is refused.
int UnusedLoopbackPort();

// Decodes a form-encoded statement as the server page does (Windows-1252
// bytes, giving UTF-8); a value the page would refuse gives the reason in
// parentheses.
std::string DecodeFormValue(const std::string& encoded);

// The whole of a file, or of a file of tests/data; throws std::runtime_error
// when it cannot be read.
std::string ReadFile(const std::string& path);
std::string ReadTestData(const std::string& name);

}  // namespace harnolfees::testing
