#include "http_layer.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <list>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <unordered_map>

namespace harnolfees::server {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

std::string LocalTimeStamp() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  return buf;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding; "+" is a blank only in a query. A "%" without two
// hexadecimal digits stays as it is.
std::string Decode(std::string_view text, bool plusIsBlank) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else if (c == '+' && plusIsBlank) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

// Whether the peer of a socket has closed or reset its side. A peer that
// only shut down its sending half counts as gone as well: it cannot be
// waiting for a reply the way a client of the page does.
bool PeerStillThere(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  if (poll(&p, 1, 0) < 0) return errno == EINTR;
  if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return false;
  if (!(p.revents & POLLIN)) return true;
  char c = 0;
  const ssize_t n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
}

// A connection as the registry sees it.
class Connection {
 public:
  virtual ~Connection() = default;
  // Closes the connection now; its pending operations end in errors.
  virtual void Evict() = 0;
  std::string address;
  bool idle = false;
  std::list<Connection*>::iterator idleAt;
};

// The connections open, by address, and those waiting without a request in
// the order they began to wait. Used by the I/O thread only.
class Registry {
 public:
  Registry(int total, int perAddress) : total_(total), perAddress_(perAddress) {}

  // Counts a new connection from the address, first closing the longest
  // waiting connection in the way of a limit; false when every connection
  // in the way has a request under way.
  bool Admit(const std::string& address) {
    if (count_ >= total_ && !EvictOldest(nullptr)) return false;
    const auto it = byAddress_.find(address);
    if (it != byAddress_.end() && it->second >= perAddress_ && !EvictOldest(&address)) {
      return false;
    }
    ++count_;
    ++byAddress_[address];
    return true;
  }
  void Leave(Connection& c) {
    SetIdle(c, false);
    --count_;
    auto it = byAddress_.find(c.address);
    if (it != byAddress_.end() && --it->second <= 0) byAddress_.erase(it);
  }
  void SetIdle(Connection& c, bool idle) {
    if (idle == c.idle) return;
    c.idle = idle;
    if (idle) {
      c.idleAt = idle_.insert(idle_.end(), &c);
    } else {
      idle_.erase(c.idleAt);
    }
  }

 private:
  bool EvictOldest(const std::string* address) {
    for (Connection* c : idle_) {
      if (!address || c->address == *address) {
        c->Evict();  // leaves the registry at once
        return true;
      }
    }
    return false;
  }
  int total_, perAddress_;
  int count_ = 0;
  std::unordered_map<std::string, int> byAddress_;
  std::list<Connection*> idle_;
};

}  // namespace

struct HttpLayer::Impl {
  Impl(HttpHandler& h, HttpLimits l, std::ostream* logStream)
      : handler(h),
        limits(l),
        log(logStream),
        registry(l.maxConnections, l.maxConnectionsPerAddress),
        pool(static_cast<std::size_t>(l.threads)) {}

  // In this order: the sessions the I/O context still holds when it goes
  // leave the registry, and use the TLS context, as they go.
  HttpHandler& handler;
  HttpLimits limits;
  std::ostream* log;
  std::mutex logMutex;
  std::optional<asio::ssl::context> tls;
  Registry registry;
  asio::io_context io{1};
  asio::thread_pool pool;
  std::optional<tcp::acceptor> acceptor;
  asio::steady_timer acceptPause{io};

  void Accept();
  void WriteLog(const std::string& line) {
    if (!log) return;
    std::lock_guard lock(logMutex);
    *log << line << std::flush;
  }
};

namespace {

template <class Stream>
class Session final : public Connection, public std::enable_shared_from_this<Session<Stream>> {
 public:
  static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;

  template <class... Args>
  Session(HttpLayer::Impl& layer, tcp::socket socket, std::string peer, unsigned short port,
          Args&&... args)
      : layer_(layer), stream_(std::move(socket), std::forward<Args>(args)...), port_(port) {
    address = std::move(peer);
    accepted_ = Clock::now();
  }
  ~Session() override { Leave(); }

  void Start() {
    if constexpr (kTls) {
      Lowest().expires_at(accepted_ + layer_.limits.headerTimeout);
      stream_.async_handshake(asio::ssl::stream_base::server,
                              [self = this->shared_from_this()](beast::error_code ec) {
                                if (ec) return self->Close();
                                self->WaitForRequest();
                              });
    } else {
      WaitForRequest();
    }
  }

  void Evict() override {
    Leave();
    beast::error_code ignored;
    Lowest().socket().close(ignored);
  }

 private:
  beast::tcp_stream& Lowest() { return beast::get_lowest_layer(stream_); }

  void Leave() {
    if (!counted_) return;
    counted_ = false;
    layer_.registry.Leave(*this);
  }

  void Close() {
    Leave();
    beast::error_code ignored;
    Lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
    Lowest().close();
  }

  // Waits for the first byte of the next request, no longer than the idle
  // time-out, as one of the connections that may make room for others.
  void WaitForRequest() {
    if (!counted_) return Close();
    if (buffer_.size() > 0) return ReadHeader();
    layer_.registry.SetIdle(*this, true);
    Lowest().expires_after(layer_.limits.idleTimeout);
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = this->shared_from_this()](beast::error_code ec, std::size_t n) {
                              if (self->counted_) self->layer_.registry.SetIdle(*self, false);
                              if (ec) return self->Close();
                              self->buffer_.commit(n);
                              self->ReadHeader();
                            });
  }

  void ReadHeader() {
    exchange_ = std::make_shared<HttpExchange>();
    HttpExchange& ex = *exchange_;
    ex.start = first_ ? accepted_ : Clock::now();
    first_ = false;
    ex.peerAddress = address;
    ex.peerPort = port_;
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(layer_.limits.maxHeaderBytes));
    // The body's limit is set once the handler wants the body: a length
    // beyond it is refused after authentication. (No limit at all, an empty
    // optional, would refuse every length in this version of the parser.)
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    Lowest().expires_at(ex.start + layer_.limits.headerTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                              self->OnHeader(ec);
                            });
  }

  void OnHeader(beast::error_code ec) {
    HttpExchange& ex = *exchange_;
    if (ec == http::error::header_limit) {
      ex.Reply(431,
               "refused: the request header is larger than " +
                   std::to_string(layer_.limits.maxHeaderBytes) + " bytes",
               "refused");
      ex.close = true;
      return Write();
    }
    if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == asio::error::eof ||
        ec == asio::error::operation_aborted || ec == asio::error::connection_reset ||
        ec.category() == asio::error::get_ssl_category() ||
        ec == asio::ssl::error::stream_truncated) {
      return Close();  // a client that never finished a request gets no reply
    }
    if (ec) {
      ex.Reply(400, "refused: bad request", "refused");
      ex.close = true;
      return Write();
    }
    const auto& req = parser_->get();
    ex.method = std::string(req.method_string());
    const std::string_view target(req.target().data(), req.target().size());
    const auto query = target.find('?');
    ex.path = Decode(target.substr(0, query), false);
    if (query != std::string_view::npos) {
      std::string_view rest = target.substr(query + 1);
      while (!rest.empty()) {
        const auto amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        const auto eq = pair.find('=');
        if (!pair.empty()) {
          ex.params.emplace_back(
              Decode(pair.substr(0, eq), true),
              eq == std::string_view::npos ? "" : Decode(pair.substr(eq + 1), true));
        }
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
      }
    }
    const auto auth = req.find(http::field::authorization);
    if (auth != req.end()) ex.authorization = std::string(auth->value());
    if (parser_->content_length()) ex.contentLength = *parser_->content_length();
    ex.chunked = parser_->chunked();
    keepAlive_ = parser_->keep_alive();
    // A body nobody reads leaves the connection unusable for a next request.
    if (ex.chunked || ex.contentLength.value_or(0) > 0) bodyPending_ = true;
    expectContinue_ = beast::iequals(req[http::field::expect], "100-continue");
    OnPool([](HttpHandler& h, HttpExchange& e) { h.Head(e); }, &Session::AfterHead);
  }

  void AfterHead() {
    HttpExchange& ex = *exchange_;
    if (!ex.readBody || ex.status != 0) return Write();
    if (ex.contentLength && *ex.contentLength > layer_.limits.maxBodyBytes) return TooLarge();
    parser_->body_limit(layer_.limits.maxBodyBytes);
    if (expectContinue_) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      Lowest().expires_at(ex.start + layer_.limits.requestTimeout);
      asio::async_write(stream_, asio::buffer(kContinue.data(), kContinue.size()),
                        [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                          if (ec) return self->Close();
                          self->ReadBody();
                        });
      return;
    }
    ReadBody();
  }

  void TooLarge() {
    exchange_->Reply(
        413,
        "refused: the body is larger than " + std::to_string(layer_.limits.maxBodyBytes) + " bytes",
        "refused");
    exchange_->close = true;
    Write();
  }

  void ReadBody() {
    Lowest().expires_at(exchange_->start + layer_.limits.requestTimeout);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = this->shared_from_this()](beast::error_code ec, std::size_t) { self->OnBody(ec); });
  }

  void OnBody(beast::error_code ec) {
    HttpExchange& ex = *exchange_;
    if (ec == http::error::body_limit) return TooLarge();
    if (ec) {
      // Timed out, cut off or malformed: the client may still read a reply.
      ex.Reply(400, "refused: the body did not arrive whole", "refused");
      ex.close = true;
      return Write();
    }
    bodyPending_ = false;
    ex.body = std::move(parser_->get().body());
    // A duplicate of the socket, so that the pool can look at it without
    // racing the I/O thread's close.
    const int fd = ::dup(Lowest().socket().native_handle());
    auto held = std::shared_ptr<int>(new int(fd), [](int* p) {
      if (*p >= 0) ::close(*p);
      delete p;
    });
    ex.clientWaiting = [held] { return *held < 0 || PeerStillThere(*held); };
    OnPool([](HttpHandler& h, HttpExchange& e) { h.Body(e); }, &Session::Write);
  }

  // Runs the handler's work on the pool and continues on the I/O thread.
  template <class Work>
  void OnPool(Work work, void (Session::*next)()) {
    asio::post(layer_.pool, [self = this->shared_from_this(), work, next] {
      HttpExchange& ex = *self->exchange_;
      try {
        work(self->layer_.handler, ex);
      } catch (const std::exception&) {
        // Nothing a request brings may end the server; the failure is
        // answered as one, without details of the server's inside.
        ex.readBody = false;
        ex.headers.clear();
        ex.Reply(500, "failed: the server could not handle the request", "failed");
      }
      asio::post(self->stream_.get_executor(), [self, next] {
        const auto hold = std::exchange(self->exchange_->holdReply, {});
        if (hold.count() <= 0) return ((*self).*next)();
        auto timer = std::make_shared<asio::steady_timer>(self->stream_.get_executor(), hold);
        timer->async_wait([self, next, timer](beast::error_code) { ((*self).*next)(); });
      });
    });
  }

  void Write() {
    HttpExchange& ex = *exchange_;
    if (ex.status == 0) ex.Reply(500, "failed: the server could not handle the request", "failed");
    keepAlive_ = keepAlive_ && !ex.close && !bodyPending_;
    reply_.emplace(static_cast<http::status>(ex.status), 11);
    reply_->set(http::field::content_type, ex.contentType);
    for (const auto& [name, value] : ex.headers) reply_->set(name, value);
    reply_->keep_alive(keepAlive_);
    const std::size_t size = ex.replyBody.size();
    if (ex.method == "HEAD") {
      reply_->content_length(size);
    } else {
      reply_->body() = std::move(ex.replyBody);
      reply_->prepare_payload();
    }
    // Logged as the reply goes out: a reply the client may already hold is
    // in the log, even when the server stops right after.
    Logged();
    Lowest().expires_after(layer_.limits.writeTimeout);
    http::async_write(stream_, *reply_,
                      [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                        if (ec || !self->keepAlive_) return self->Linger();
                        self->WaitForRequest();
                      });
  }

  void Logged() {
    HttpExchange& ex = *exchange_;
    if (!layer_.log) return;
    RequestLogEntry& e = ex.log;
    e.ms = std::chrono::duration<double, std::milli>(Clock::now() - ex.start).count();
    e.time = LocalTimeStamp();
    e.peer = address + ':' + std::to_string(port_);
    e.status = ex.status;
    e.method = ex.method.empty() ? "-" : ex.method;
    // The path only: the statement values stay out of the log.
    e.path = ex.path.empty() ? "-" : ex.path;
    layer_.WriteLog(RequestLogLine(e));
  }

  // Closes after a reply without discarding it: the sending half is shut,
  // and what the client still sends is read and dropped for a moment, so
  // that the kernel does not answer unread bytes with a reset that could
  // overtake the reply.
  void Linger() {
    Leave();
    beast::error_code ignored;
    Lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
    Lowest().expires_after(std::chrono::seconds(1));
    Drain(1 << 20);
  }
  void Drain(std::size_t budget) {
    Lowest().async_read_some(asio::buffer(scratch_), [self = this->shared_from_this(), budget](
                                                         beast::error_code ec, std::size_t n) {
      if (ec || n >= budget) return self->Close();
      self->Drain(budget - n);
    });
  }

  HttpLayer::Impl& layer_;
  Stream stream_;
  unsigned short port_;
  Clock::time_point accepted_;
  bool counted_ = true;
  bool first_ = true;
  bool keepAlive_ = false;
  bool bodyPending_ = false;
  bool expectContinue_ = false;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::optional<http::response<http::string_body>> reply_;
  std::shared_ptr<HttpExchange> exchange_;
  char scratch_[16384];
};

}  // namespace

void HttpLayer::Impl::Accept() {
  acceptor->async_accept(io, [this](beast::error_code ec, tcp::socket socket) {
    if (!acceptor->is_open()) return;
    if (ec) {
      // Out of descriptors or memory: try again shortly rather than spin.
      acceptPause.expires_after(std::chrono::milliseconds(50));
      acceptPause.async_wait([this](beast::error_code failed) {
        if (!failed) Accept();
      });
      return;
    }
    beast::error_code peerError;
    const auto peer = socket.remote_endpoint(peerError);
    if (!peerError) {
      std::string address = peer.address().to_string();
      if (registry.Admit(address)) {
        socket.set_option(tcp::no_delay(true), peerError);
        if (tls) {
          std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(
              *this, std::move(socket), std::move(address), peer.port(), *tls)
              ->Start();
        } else {
          std::make_shared<Session<beast::tcp_stream>>(*this, std::move(socket), std::move(address),
                                                       peer.port())
              ->Start();
        }
      }
    }
    Accept();
  });
}

HttpLayer::HttpLayer(HttpHandler& handler, HttpLimits limits, const TlsFiles& tls,
                     std::ostream* log)
    : impl_(std::make_unique<Impl>(handler, limits, log)) {
  if (tls.cert.empty() != tls.key.empty()) {
    throw std::runtime_error("--tls-cert and --tls-key go together");
  }
  if (!tls.cert.empty()) {
    auto& ctx = impl_->tls.emplace(asio::ssl::context::tls_server);
    ctx.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                    asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                    asio::ssl::context::no_tlsv1_1);
    beast::error_code ec;
    ctx.use_certificate_chain_file(tls.cert, ec);
    if (!ec) ctx.use_private_key_file(tls.key, asio::ssl::context::pem, ec);
    if (ec) {
      throw std::runtime_error("the TLS certificate " + tls.cert + " or its key " + tls.key +
                               " could not be read");
    }
  }
}

HttpLayer::~HttpLayer() {
  Stop();
  // Work still on the pool finishes first; what it posts back is dropped
  // with the I/O context.
  impl_->pool.join();
}

sockaddr_storage HttpLayer::Bind(const std::string& host, int port) {
  beast::error_code ec;
  tcp::resolver resolver(impl_->io);
  const auto found = resolver.resolve(host, std::to_string(port), ec);
  if (ec || found.empty()) throw std::runtime_error("cannot resolve " + host);
  std::string why = "no address";
  for (const auto& entry : found) {
    tcp::acceptor acceptor(impl_->io);
    const tcp::endpoint endpoint = entry.endpoint();
    // SO_REUSEADDR only: a second server on the same port fails to start.
    if (acceptor.open(endpoint.protocol(), ec) ||
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec) ||
        acceptor.bind(endpoint, ec) || acceptor.listen(SOMAXCONN, ec)) {
      why = ec.message();
      continue;
    }
    sockaddr_storage bound{};
    const tcp::endpoint local = acceptor.local_endpoint();
    std::memcpy(&bound, local.data(), std::min<std::size_t>(local.size(), sizeof bound));
    impl_->acceptor.emplace(std::move(acceptor));
    return bound;
  }
  throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " + why);
}

bool HttpLayer::Serve() {
  if (!impl_->acceptor) return false;
  impl_->Accept();
  impl_->io.run();
  return true;
}

void HttpLayer::Stop() { impl_->io.stop(); }

void HttpLayer::LogLine(const std::string& line) { impl_->WriteLog(line); }

}  // namespace harnolfees::server
