#include "server.hpp"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <ostream>

#include "access.hpp"
#include "form.hpp"
#include "request_log.hpp"
#include "statement.hpp"

namespace harnolfees::server {
namespace {

using Clock = std::chrono::steady_clock;

// What the request log says of the request being handled on this thread.
// httplib runs the pre-routing handler, the route handler and the logger of
// one request on the same thread, one after the other.
struct RequestNote {
  Clock::time_point start{};
  bool started = false;
  std::string user = "-";
  std::string center = "-";
  std::string kind = "-";
  std::string outcome = "-";
};
thread_local RequestNote tNote;

// When the connection this thread serves was accepted, and whether its first
// request is still to come: the time a request waited for a free thread
// counts towards its deadline.
thread_local Clock::time_point tAccepted{};
thread_local bool tFirstRequest = false;

// The library's pool of request threads, with the time each connection was
// queued handed to the thread that takes it up.
class TimedPool final : public httplib::TaskQueue {
 public:
  explicit TimedPool(std::size_t threads) : pool_(threads) {}
  void enqueue(std::function<void()> fn) override {
    pool_.enqueue([fn = std::move(fn), queued = Clock::now()] {
      tAccepted = queued;
      tFirstRequest = true;
      fn();
    });
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  httplib::ThreadPool pool_;
};

std::mutex gLogMutex;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsFeePage(const std::string& path) {
  static const std::string kPage = "/termfeesax.asp";
  const std::string p = Lower(path);
  return p.size() >= kPage.size() && p.compare(p.size() - kPage.size(), kPage.size(), kPage) == 0;
}

std::optional<std::int64_t> ParseCenter(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

void Reply(httplib::Response& res, int status, const std::string& text,
           const std::string& outcome) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
  tNote.outcome = outcome;
}

std::string LocalTimeStamp() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  return buf;
}

}  // namespace

const char* const kUsage =
    "usage: harnolfees-server --db FILE|URI [--listen HOST:PORT] [--users FILE|db] [--demo]\n"
    "                         [--center ID[:travel]]... [--synchronous full|normal]\n"
    "                         [--threads N] [--max-failed-logins N] [--pool N]\n"
    "                         [--connect-timeout S] [--statement-timeout MS] [--quiet]\n"
    "                         [--tls-cert FILE --tls-key FILE]\n"
    "       harnolfees-server --db FILE|URI --init [--demo] [--center ID[:travel]]...\n"
    "       harnolfees-server --db URI --copy-from FILE\n"
    "       harnolfees-server --hash-password NAME READ-CENTERS WRITE-CENTERS\n"
    "\n"
    "  --db FILE          SQLite database; created with its schema and lookup lists\n"
    "  --db URI           PostgreSQL database (postgresql://user@host:port/name, or libpq\n"
    "                     key=value text; PG* variables and ~/.pgpass apply)\n"
    "  --init             create or upgrade the schema, add centers and demo data, and end\n"
    "  --copy-from FILE   copy every row of a SQLite database into --db, and end\n"
    "  --pool N           PostgreSQL connections at most (default 8)\n"
    "  --connect-timeout S    seconds to connect to PostgreSQL (default 5)\n"
    "  --statement-timeout MS milliseconds a statement may run (default 10000; 0: no limit)\n"
    "  --listen HOST:PORT address to listen on (default 127.0.0.1:8080; port 0 picks one)\n"
    "  --users FILE       require HTTP Basic credentials of the users in FILE\n"
    "                     (\"db\": of the users in the database's table Users)\n"
    "                     (without it the server listens on loopback addresses only)\n"
    "  --demo             fill centers 1 to 3 with demonstration schedules\n"
    "  --center ID[:travel] add a center (with the travel option shown)\n"
    "  --synchronous MODE full (default: a confirmed save survives power loss) or normal\n"
    "  --threads N        request threads (default 16)\n"
    "  --max-failed-logins N  failed logins from one address within a minute before\n"
    "                     it is refused for 60 s (default 10)\n"
    "  --tls-cert FILE    serve HTTPS with this PEM certificate (chain) ...\n"
    "  --tls-key FILE     ... and this PEM private key\n"
    "  --quiet            no request log\n"
    "  --hash-password    print a users-file line for the password on standard input\n";

bool IsLoopbackAddress(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    return (ntohl(v4.sin_addr.s_addr) >> 24) == 127;
  }
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    if (IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr) && v6.sin6_addr.s6_addr[12] == 127;
  }
  return false;
}

std::variant<ServerOptions, std::string> ParseCommandLine(const std::vector<std::string>& args) {
  ServerOptions o;
  o.log = &std::cerr;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--db") {
      if (!value(o.database)) return "--db needs a file";
    } else if (a == "--listen") {
      if (!value(v)) return "--listen needs HOST:PORT";
      const auto colon = v.rfind(':');
      if (colon == std::string::npos || colon + 1 == v.size()) return "--listen needs HOST:PORT";
      std::string host = v.substr(0, colon);
      if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
      }
      auto port = ParseCenter(v.substr(colon + 1));
      if (host.empty() || !port || *port > 65535) return "--listen needs HOST:PORT";
      o.host = host;
      o.port = static_cast<int>(*port);
    } else if (a == "--users") {
      if (!value(o.usersFile)) return "--users needs a file";
    } else if (a == "--demo") {
      o.demo = true;
    } else if (a == "--quiet") {
      o.log = nullptr;
    } else if (a == "--tls-cert") {
      if (!value(o.tlsCert)) return "--tls-cert needs a PEM file";
    } else if (a == "--tls-key") {
      if (!value(o.tlsKey)) return "--tls-key needs a PEM file";
    } else if (a == "--synchronous") {
      if (!value(v)) return "--synchronous needs full or normal";
      v = Lower(v);
      if (v == "full") {
        o.synchronous = Synchronous::Full;
      } else if (v == "normal") {
        o.synchronous = Synchronous::Normal;
      } else {
        return "--synchronous needs full or normal";
      }
    } else if (a == "--threads") {
      if (!value(v)) return "--threads needs a number";
      auto n = ParseCenter(v);
      if (!n || *n < 2 || *n > 256) return "--threads needs a number from 2 to 256";
      o.threads = static_cast<int>(*n);
    } else if (a == "--max-failed-logins") {
      if (!value(v)) return "--max-failed-logins needs a number";
      auto n = ParseCenter(v);
      if (!n || *n < 1 || *n > 1000000) {
        return "--max-failed-logins needs a number from 1 to 1000000";
      }
      o.maxFailedLogins = static_cast<int>(*n);
    } else if (a == "--center") {
      if (!value(v)) return "--center needs ID[:travel]";
      CenterOption c;
      const auto colon = v.find(':');
      if (colon != std::string::npos) {
        if (v.substr(colon + 1) != "travel") return "--center needs ID[:travel]";
        c.showTravelOption = true;
        v = v.substr(0, colon);
      }
      auto id = ParseCenter(v);
      if (!id || *id > 2147483647) return "--center needs ID[:travel]";
      c.id = *id;
      o.centers.push_back(c);
    } else if (a == "--pool" || a == "--connect-timeout" || a == "--statement-timeout") {
      if (!value(v)) return a + " needs a number";
      auto n = ParseCenter(v);
      const std::int64_t least = a == "--statement-timeout" ? 0 : 1;
      if (!n || *n < least || *n > 3600000) return a + " needs a number";
      int& field = a == "--pool"              ? o.pool
                   : a == "--connect-timeout" ? o.connectTimeoutS
                                              : o.statementTimeoutMs;
      field = static_cast<int>(*n);
    } else if (a == "--init") {
      o.init = true;
    } else if (a == "--copy-from") {
      if (!value(o.copyFrom)) return "--copy-from needs a file";
    } else {
      return "unknown option " + a;
    }
  }
  if (o.database.empty()) return "--db is required";
  return o;
}

DatabaseOptions DatabaseOptionsFor(const ServerOptions& options) {
  DatabaseOptions d;
  d.path = options.database;
  d.synchronous = options.synchronous;
  d.pool = options.pool;
  d.connectTimeoutS = options.connectTimeoutS;
  d.statementTimeoutMs = options.statementTimeoutMs;
  return d;
}

FeeServer::FeeServer(ServerOptions options) : options_(std::move(options)) {
  if (!options_.usersFile.empty() && options_.usersFile != "db") {
    users_ = UserDirectory::Load(options_.usersFile);
  }
  brake_ = std::make_unique<LoginBrake>(options_.maxFailedLogins, options_.loginPause);
  db_ = OpenDatabase(DatabaseOptionsFor(options_));
  if (options_.usersFile == "db") {
    std::string entries;
    for (const std::string& e : db_->UserEntries()) entries += e + '\n';
    users_ = UserDirectory::Parse(entries, "the table Users");
  }
  for (const CenterOption& c : options_.centers) {
    db_->EnsureCenter(c.id, "Center " + std::to_string(c.id), c.showTravelOption);
  }
  if (options_.demo) db_->FillDemo();
  if (options_.tlsCert.empty() != options_.tlsKey.empty()) {
    throw std::runtime_error("--tls-cert and --tls-key go together");
  }
  if (options_.tlsCert.empty()) {
    http_ = std::make_unique<httplib::Server>();
  } else {
    auto tls =
        std::make_unique<httplib::SSLServer>(options_.tlsCert.c_str(), options_.tlsKey.c_str());
    if (!tls->is_valid()) {
      throw std::runtime_error("the TLS certificate " + options_.tlsCert + " or its key " +
                               options_.tlsKey + " could not be read");
    }
    http_ = std::move(tls);
  }
  Install();
}

FeeServer::~FeeServer() {
  if (http_) http_->stop();
}

void FeeServer::Install() {
  httplib::Server& svr = *http_;
  const int threads = options_.threads;
  svr.new_task_queue = [threads] { return new TimedPool(static_cast<std::size_t>(threads)); };
  // The library refuses form-encoded bodies beyond its own limit with the
  // same status, so the limit in force, and the one the refusal names, is the
  // smaller of the two.
  const std::size_t maxBody =
      std::min<std::size_t>(options_.maxBody, CPPHTTPLIB_FORM_URL_ENCODED_PAYLOAD_MAX_LENGTH);
  svr.set_payload_max_length(maxBody);
  // Replies go out in more than one write; without this, Nagle's algorithm
  // and the client's delayed ACK hold each reply back by tens of milliseconds.
  svr.set_tcp_nodelay(true);
  // The listening socket: remembered so that Bind can lengthen its queue of
  // pending connections, and bound with SO_REUSEADDR only. (The library's
  // default also sets SO_REUSEPORT, which would let a second server start on
  // the same port and take part of the connections unnoticed.)
  svr.set_socket_options([this](int sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listenSocket_ = sock;
  });
  svr.set_keep_alive_max_count(100000);
  svr.set_keep_alive_timeout(options_.keepAliveSeconds);
  svr.set_read_timeout(10, 0);
  svr.set_write_timeout(10, 0);

  svr.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
    // The page is one small document: requests for parts of it are answered
    // with the whole. (The library would otherwise build a reply of every
    // range asked for, however many and however they overlap.) The request
    // is the library's own, handed over read-only for no other reason.
    const_cast<httplib::Request&>(req).ranges.clear();
    tNote = RequestNote{};
    tNote.start = tFirstRequest ? tAccepted : Clock::now();
    tFirstRequest = false;
    tNote.started = true;
    return httplib::Server::HandlerResponse::Unhandled;
  });

  svr.set_error_handler(httplib::Server::HandlerWithResponse(
      [maxBody](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        std::string text;
        switch (res.status) {
          case 413:
            text = "refused: the body is larger than " + std::to_string(maxBody) + " bytes";
            tNote.outcome = "refused";
            break;
          case 404:
            text = "not found: the fee page is TermFeesAX.asp";
            break;
          default:
            text = "refused: bad request";
            break;
        }
        res.set_content(text, "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
      }));

  // Nothing a request brings may end the server; an unexpected failure is
  // answered as one, without details of the server's inside.
  svr.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        Reply(res, 500, "failed: the server could not handle the request", "failed");
      });

  if (options_.log) {
    std::ostream* log = options_.log;
    svr.set_logger([log](const httplib::Request& req, const httplib::Response& res) {
      RequestLogEntry entry;
      entry.ms = tNote.started
                     ? std::chrono::duration<double, std::milli>(Clock::now() - tNote.start).count()
                     : 0.0;
      entry.time = LocalTimeStamp();
      entry.peer = req.remote_addr + ':' + std::to_string(req.remote_port);
      entry.user = tNote.user;
      entry.center = tNote.center;
      entry.kind = tNote.kind;
      entry.outcome = tNote.outcome;
      entry.status = res.status;
      entry.method = req.method;
      // The path only: the statement values stay out of the log.
      entry.path = req.path;
      const std::string line = RequestLogLine(entry);
      {
        std::lock_guard lock(gLogMutex);
        *log << line << std::flush;
      }
      tNote = RequestNote{};
    });
  }

  // Authenticates the request; false when it was answered with 401, or with
  // 429 while its address is refused for failed logins.
  auto authenticate = [this](const httplib::Request& req, httplib::Response& res,
                             const User*& user) {
    user = nullptr;
    if (!users_) return true;
    const auto now = LoginBrake::Clock::now();
    const std::string pause = std::to_string(options_.loginPause.count());
    if (brake_->Refuses(req.remote_addr, now)) {
      res.set_header("Retry-After", pause);
      Reply(res, 429, "refused: too many failed logins from this address; try again later",
            "braked");
      return false;
    }
    user = users_->Authenticate(req.get_header_value("Authorization"));
    if (!user) {
      if (brake_->Failed(req.remote_addr, now) && options_.log) {
        const std::string line = "harnolfees-server: " + EscapeForLog(req.remote_addr) +
                                 " refused for " + pause + " s after more than " +
                                 std::to_string(options_.maxFailedLogins) +
                                 " failed logins within a minute\n";
        std::lock_guard lock(gLogMutex);
        *options_.log << line << std::flush;
      }
      res.set_header("WWW-Authenticate", "Basic realm=\"HarnolFeesCenter\", charset=\"UTF-8\"");
      Reply(res, 401, "unauthorized: this page needs a user name and password", "unauthorized");
      return false;
    }
    tNote.user = user->name;
    return true;
  };

  svr.Get(".*", [this, authenticate](const httplib::Request& req, httplib::Response& res) {
    tNote.kind = "LOAD";
    if (req.path == "/health") {
      // The reason stays out of the reply: it may name the database's host.
      std::string why;
      if (db_->Answers(why)) {
        Reply(res, 200, "ok: the database answers", "ok");
      } else {
        Reply(res, 503, "failed: the database does not answer", "failed");
      }
      return;
    }
    if (!IsFeePage(req.path)) {
      Reply(res, 404, "not found: the fee page is TermFeesAX.asp", "notfound");
      return;
    }
    const User* user = nullptr;
    if (!authenticate(req, res, user)) return;
    std::string centerText;
    bool haveCenter = false;
    for (const auto& [key, value] : req.params) {
      if (Lower(key) == "center") {
        centerText = value;
        haveCenter = true;
      }
    }
    auto center = ParseCenter(centerText);
    if (!haveCenter || !center) {
      Reply(res, 400, "refused: Center must be a whole number", "refused");
      return;
    }
    tNote.center = std::to_string(*center);
    if (user && !user->MayRead(*center)) {
      Reply(res, 403, "forbidden: user " + user->name + " may not read center " + tNote.center,
            "forbidden");
      return;
    }
    try {
      // httplib compresses text/* and bare application/xml replies for clients
      // that accept it, with brotli at its slowest setting: a large schedule
      // would take seconds. This media type with its charset is left alone.
      res.set_content(db_->LoadDocument(*center), "application/xml; charset=utf-8");
      res.status = 200;
      tNote.outcome = "ok";
    } catch (const std::exception& e) {
      Reply(res, 500, std::string("failed: ") + e.what(), "failed");
    }
  });

  // The body is read only once the request has proved to be a post of the
  // fee page by a known user, and counted as it arrives, whatever its
  // transfer encoding: a client that is refused, or that sends more than the
  // limit, never makes the server hold its body. A refused request's
  // connection is closed, since the rest of its body was never read.
  svr.Post(".*", [this, authenticate, maxBody](const httplib::Request& req, httplib::Response& res,
                                               const httplib::ContentReader& content) {
    auto refuseEarly = [&res] { res.set_header("Connection", "close"); };
    if (!IsFeePage(req.path)) {
      Reply(res, 404, "not found: the fee page is TermFeesAX.asp", "notfound");
      return refuseEarly();
    }
    const User* user = nullptr;
    if (!authenticate(req, res, user)) return refuseEarly();
    const std::string tooLarge =
        "refused: the body is larger than " + std::to_string(maxBody) + " bytes";
    if (req.has_header("Content-Length") &&
        std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10) > maxBody) {
      Reply(res, 413, tooLarge, "refused");
      return refuseEarly();
    }
    std::string body;
    bool overLimit = false;
    const bool whole = content([&](const char* data, std::size_t size) {
      if (size > maxBody - body.size()) {
        overLimit = true;
        return false;
      }
      body.append(data, size);
      return true;
    });
    if (overLimit) {
      Reply(res, 413, tooLarge, "refused");
      return refuseEarly();
    }
    if (!whole) {
      Reply(res, 400, "refused: the body did not arrive whole", "refused");
      return refuseEarly();
    }
    auto decoded = DecodeStatementBody(body);
    if (const auto* err = std::get_if<FormError>(&decoded)) {
      Reply(res, 400, err->message, "refused");
      return;
    }
    ParseOutcome parsed = ParseStatementText(std::get<std::string>(decoded));
    if (!parsed.ok()) {
      Reply(res, 400, parsed.error, "refused");
      return;
    }
    std::string kinds, centers;
    for (const ParsedStatement& st : parsed.statements) {
      if (!kinds.empty()) kinds += '+';
      kinds += KindName(st.kind);
      const std::string c = std::to_string(st.center);
      if (centers.empty()) {
        centers = c;
      } else if (centers != c) {
        centers += "," + c;
      }
    }
    tNote.kind = kinds;
    tNote.center = centers;
    for (const ParsedStatement& st : parsed.statements) {
      if (user && !user->MayWrite(st.center)) {
        Reply(
            res, 403,
            "forbidden: user " + user->name + " may not change center " + std::to_string(st.center),
            "forbidden");
        return;
      }
    }
    // The control gives up on a reply after its transfer time-out; a
    // statement that has waited in the server longer than the shorter post
    // deadline is not executed, so that a save reported as failed never runs
    // later behind the operator's back.
    if (Clock::now() - tNote.start > options_.postDeadline) {
      Reply(res, 503,
            "refused: the server was too busy; the statement waited longer than " +
                std::to_string(options_.postDeadline.count()) + " ms and was not executed",
            "late");
      return;
    }
    const ExecOutcome outcome = db_->Execute(std::move(parsed.statements));
    switch (outcome.status) {
      case ExecOutcome::Status::Ok:
        res.status = 200;
        res.set_content("", "text/plain; charset=utf-8");
        tNote.outcome = "ok";
        break;
      case ExecOutcome::Status::Refused:
        Reply(res, 400, outcome.message, "refused");
        break;
      case ExecOutcome::Status::NotFound:
        Reply(res, 409, outcome.message, "notfound");
        break;
      case ExecOutcome::Status::Conflict:
        Reply(res, 409, outcome.message, "conflict");
        break;
      case ExecOutcome::Status::Failed:
        Reply(res, 500, outcome.message, "failed");
        break;
    }
  });
}

int FeeServer::Bind() {
  int port = options_.port;
  if (port == 0) {
    port = http_->bind_to_any_port(options_.host);
    if (port <= 0) throw std::runtime_error("cannot listen on " + options_.host);
  } else if (!http_->bind_to_port(options_.host, port)) {
    throw std::runtime_error("cannot listen on " + options_.host + ":" + std::to_string(port));
  }
  // The library listens with a queue of 5 pending connections. When more
  // clients than that connect at once, the kernel drops the surplus SYNs and
  // those clients wait a full second to retry; listening again on the bound
  // socket gives it the system's queue length.
  if (listenSocket_ >= 0) ::listen(listenSocket_, SOMAXCONN);
  // Without users every client may change every center, so the address the
  // name resolved to and the socket is bound to must be a loopback address;
  // the name itself proves nothing.
  if (options_.usersFile.empty()) {
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (listenSocket_ < 0 ||
        getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&bound), &size) != 0 ||
        !IsLoopbackAddress(bound)) {
      if (listenSocket_ >= 0) ::close(listenSocket_);
      listenSocket_ = -1;
      throw std::runtime_error("without --users the server listens on loopback addresses only (" +
                               options_.host + " is not one)");
    }
  }
  return port;
}

bool FeeServer::Serve() { return http_->listen_after_bind(); }

void FeeServer::Stop() { http_->stop(); }

}  // namespace harnolfees::server
