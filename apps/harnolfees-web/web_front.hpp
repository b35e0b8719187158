// The HTTP side of the browser editor: the page, sign-in, and the JSON
// requests that carry the operator's actions to a session and its state
// back. The HTTP library stays behind this class.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "session.hpp"

namespace harnolfees::web {

struct WebOptions {
  std::string host = "127.0.0.1";
  int port = 8090;  // 0 picks a free port
  std::string feeServer = "http://127.0.0.1:8080/";
  std::string serverDate;
  bool viewMode = false;
  std::size_t maxSessions = 100;
  std::chrono::seconds idleLimit{1800};
  int threads = 0;  // 0: two per session and a few more
  std::string tlsCert, tlsKey;
  // The page is reached through a proxy that speaks TLS to the browser.
  bool behindTls = false;
};

// The embedded page files.
struct Asset {
  std::string_view path, type, body;
};
const Asset* FindAsset(std::string_view path);

class WebFront {
 public:
  explicit WebFront(WebOptions options);
  ~WebFront();
  WebFront(const WebFront&) = delete;
  WebFront& operator=(const WebFront&) = delete;
  // Binds and returns the port; throws when it cannot.
  int Bind();
  bool Serve();
  void Stop();
  SessionRegistry& sessions() { return *sessions_; }

 private:
  struct Impl;
  WebOptions options_;
  std::unique_ptr<SessionRegistry> sessions_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace harnolfees::web
