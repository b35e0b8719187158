// The HTTP side of the fee server: one event-driven I/O thread that holds
// every connection, and a fixed pool of threads for the work that may block
// (password checks, database reads and writes). No client can hold a thread
// by being slow: a connection is only an entry in the I/O thread's tables
// until its request has arrived whole.
//
// What a client is allowed:
//  - connections: at most maxConnections in all and maxConnectionsPerAddress
//    from one address. A connection beyond either limit makes room by closing
//    the connection that has waited longest without a request under way
//    (kept alive or new, in the same scope); when none is waiting, the new
//    connection is closed at once.
//  - a connection with no request under way is closed after idleTimeout.
//  - a request's header must be complete within headerTimeout of its first
//    byte (of the connection's acceptance for the first request, so that a
//    TLS handshake counts), and hold at most maxHeaderBytes.
//  - a body is read only when the handler asks for it, counted against
//    maxBodyBytes as it arrives, whatever its transfer encoding, and must be
//    complete within requestTimeout of the request's start.
//  - a reply must be taken within writeTimeout.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "request_log.hpp"

struct sockaddr_storage;

namespace harnolfees::server {

struct HttpLimits {
  std::size_t maxHeaderBytes = 8 * 1024;
  std::size_t maxBodyBytes = 8 * 1024;
  int maxConnections = 1024;
  int maxConnectionsPerAddress = 256;
  std::chrono::milliseconds idleTimeout{3000};
  std::chrono::milliseconds headerTimeout{10'000};
  std::chrono::milliseconds requestTimeout{15'000};
  std::chrono::milliseconds writeTimeout{10'000};
  int threads = 16;
};

// One request and its reply, handed between the I/O thread and the pool.
struct HttpExchange {
  using Clock = std::chrono::steady_clock;

  // The request.
  std::string method;
  std::string path;                                         // percent-decoded, without the query
  std::vector<std::pair<std::string, std::string>> params;  // of the query, decoded
  std::string authorization;
  std::string peerAddress;
  unsigned short peerPort = 0;
  std::optional<std::uint64_t> contentLength;
  bool chunked = false;
  // When the request began: its first byte, or for the first request of a
  // connection the moment the connection was accepted.
  Clock::time_point start{};
  std::string body;  // once read
  // Whether the client still holds its connection open. Callable from any
  // thread while the exchange lives.
  std::function<bool()> clientWaiting;

  // The reply.
  int status = 0;
  std::string contentType = "text/plain; charset=utf-8";
  std::string replyBody;
  std::vector<std::pair<std::string, std::string>> headers;
  bool readBody = false;  // set by Head: read the body and call Body
  bool close = false;     // close the connection after the reply
  // How long the reply is held back before it goes out. The connection takes
  // no other request meanwhile and the wait costs no thread: a client that
  // is being refused can ask only as fast as it is answered.
  std::chrono::milliseconds holdReply{0};
  // The handler's own note from Head to Body.
  const void* handlerState = nullptr;

  // What the log line says of the request beyond the layer's own fields.
  RequestLogEntry log;

  void Reply(int code, std::string text, std::string outcome) {
    status = code;
    replyBody = std::move(text);
    log.outcome = std::move(outcome);
  }
};

// What the server does with requests. Both calls run on the pool and may
// block; an exception is answered with 500.
class HttpHandler {
 public:
  virtual ~HttpHandler() = default;
  // Called once the header has arrived. Sets the reply, or sets readBody.
  virtual void Head(HttpExchange& exchange) = 0;
  // Called once the body asked for has arrived whole.
  virtual void Body(HttpExchange& exchange) = 0;
};

struct TlsFiles {
  std::string cert, key;  // both empty: plain HTTP
};

class HttpLayer {
 public:
  // Throws std::runtime_error when the TLS files cannot be used.
  HttpLayer(HttpHandler& handler, HttpLimits limits, const TlsFiles& tls, std::ostream* log);
  ~HttpLayer();
  HttpLayer(const HttpLayer&) = delete;
  HttpLayer& operator=(const HttpLayer&) = delete;

  // Binds and listens on the first address of the host that can be bound;
  // returns the address bound. Throws std::runtime_error on failure.
  sockaddr_storage Bind(const std::string& host, int port);
  // Serves until Stop; false when nothing was bound.
  bool Serve();
  // Callable from any thread, before or during Serve.
  void Stop();

  // Writes a line to the log, whole, among the request lines.
  void LogLine(const std::string& line);

  struct Impl;  // named by the implementation's connections

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace harnolfees::server
