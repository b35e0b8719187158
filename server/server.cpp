#include "server.hpp"

#include <arpa/inet.h>
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
#include "http_layer.hpp"
#include "request_log.hpp"
#include "statement.hpp"

namespace harnolfees::server {
namespace {

// How long a refusal for too many failed logins is held back: a flood from a
// braked address then costs the server one timer per request in flight.
constexpr std::chrono::milliseconds kBrakeHold{1000};

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

}  // namespace

const char* const kUsage =
    "usage: harnolfees-server --db FILE|URI [--listen HOST:PORT] [--users FILE|db] [--demo]\n"
    "                         [--center ID[:travel]]... [--synchronous full|normal]\n"
    "                         [--threads N] [--max-failed-logins N] [--pool N]\n"
    "                         [--max-connections N] [--max-connections-per-address N]\n"
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
    "  --threads N        threads for password checks and the database (default 16)\n"
    "  --max-connections N    connections at most (default 1024); beyond it the\n"
    "                     longest idle connection is closed, or the new one\n"
    "  --max-connections-per-address N  the same, from one client address (default 256)\n"
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
    } else if (a == "--max-connections" || a == "--max-connections-per-address") {
      if (!value(v)) return a + " needs a number";
      auto n = ParseCenter(v);
      if (!n || *n < 1 || *n > 1000000) return a + " needs a number from 1 to 1000000";
      (a == "--max-connections" ? o.maxConnections : o.maxConnectionsPerAddress) =
          static_cast<int>(*n);
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
  d.clock = options.clock;
  return d;
}

// The fee page's handling of requests. Every call runs on the HTTP layer's
// pool; nothing here sees a socket.
class FeeServer::Page final : public HttpHandler {
 public:
  Page(const ServerOptions& options, Database& db, UserDirectory* users, LoginBrake& brake)
      : options_(options), db_(db), users_(users), brake_(brake) {}
  void Attach(HttpLayer& http) { http_ = &http; }

  void Head(HttpExchange& ex) override {
    if (ex.method == "GET" || ex.method == "HEAD") return Get(ex);
    if (ex.method == "POST") return AcceptPost(ex);
    ex.Reply(405, "refused: the fee page takes GET and POST", "refused");
    ex.headers.emplace_back("Allow", "GET, HEAD, POST");
  }

  void Body(HttpExchange& ex) override { ExecutePost(ex); }

 private:
  void Get(HttpExchange& ex) {
    ex.log.kind = "LOAD";
    if (ex.path == "/health") return Health(ex);
    if (!IsFeePage(ex.path)) {
      return ex.Reply(404, "not found: the fee page is TermFeesAX.asp", "notfound");
    }
    const User* user = nullptr;
    if (!Authenticate(ex, user)) return;
    Load(ex, user);
  }

  // Whether the database answers. The reason stays out of the reply: it may
  // name the database's host.
  void Health(HttpExchange& ex) {
    std::string why;
    if (db_.Answers(why)) {
      ex.Reply(200, "ok: the database answers", "ok");
    } else {
      ex.Reply(503, "failed: the database does not answer", "failed");
    }
  }

  // The load document of the center the query names.
  void Load(HttpExchange& ex, const User* user) {
    std::string centerText;
    bool haveCenter = false;
    for (const auto& [key, value] : ex.params) {
      if (Lower(key) == "center") {
        centerText = value;
        haveCenter = true;
      }
    }
    const auto center = ParseCenter(centerText);
    if (!haveCenter || !center) {
      return ex.Reply(400, "refused: Center must be a whole number", "refused");
    }
    ex.log.center = std::to_string(*center);
    if (user && !user->MayRead(*center)) {
      return ex.Reply(403,
                      "forbidden: user " + user->name + " may not read center " + ex.log.center,
                      "forbidden");
    }
    try {
      ex.replyBody = db_.LoadDocument(*center);
      ex.contentType = "application/xml; charset=utf-8";
      ex.status = 200;
      ex.log.outcome = "ok";
    } catch (const std::exception& e) {
      ex.Reply(500, std::string("failed: ") + e.what(), "failed");
    }
  }

  // A post's header: the body is read only once the request has proved to be
  // a post of the fee page by a known user, so that a client that is refused
  // never makes the server hold its body. A refused request's connection is
  // closed, since the rest of its body is never read.
  void AcceptPost(HttpExchange& ex) {
    ex.close = true;
    if (!IsFeePage(ex.path)) {
      return ex.Reply(404, "not found: the fee page is TermFeesAX.asp", "notfound");
    }
    const User* user = nullptr;
    if (!Authenticate(ex, user)) return;
    ex.close = false;
    ex.readBody = true;
    ex.handlerState = user;
  }

  // A post's body, arrived whole and within the limit.
  void ExecutePost(HttpExchange& ex) {
    const User* user = static_cast<const User*>(ex.handlerState);
    auto decoded = DecodeStatementBody(ex.body);
    if (const auto* err = std::get_if<FormError>(&decoded)) {
      return ex.Reply(400, err->message, "refused");
    }
    ParseOutcome parsed = ParseStatementText(std::get<std::string>(decoded));
    if (!parsed.ok()) return ex.Reply(400, parsed.error, "refused");
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
    ex.log.kind = kinds;
    ex.log.center = centers;
    for (const ParsedStatement& st : parsed.statements) {
      if (user && !user->MayWrite(st.center)) {
        return ex.Reply(
            403,
            "forbidden: user " + user->name + " may not change center " + std::to_string(st.center),
            "forbidden");
      }
    }
    // The control gives up on a reply after its transfer time-out; a
    // statement that has waited in the server longer than the shorter post
    // deadline is not executed, so that a save reported as failed never runs
    // later behind the operator's back. Nor is one whose client has gone.
    if (std::chrono::steady_clock::now() - ex.start > options_.postDeadline) {
      return ex.Reply(503,
                      "refused: the server was too busy; the statement waited longer than " +
                          std::to_string(options_.postDeadline.count()) +
                          " ms and was not executed",
                      "late");
    }
    Answer(ex, db_.Execute(std::move(parsed.statements), ex.clientWaiting));
  }

  static void Answer(HttpExchange& ex, const ExecOutcome& outcome) {
    switch (outcome.status) {
      case ExecOutcome::Status::Ok:
        return ex.Reply(200, "", "ok");
      case ExecOutcome::Status::Refused:
        return ex.Reply(400, outcome.message, "refused");
      case ExecOutcome::Status::NotFound:
        return ex.Reply(409, outcome.message, "notfound");
      case ExecOutcome::Status::Conflict:
        return ex.Reply(409, outcome.message, "conflict");
      case ExecOutcome::Status::Failed:
        return ex.Reply(500, outcome.message, "failed");
      case ExecOutcome::Status::Abandoned:
        ex.close = true;
        return ex.Reply(503, outcome.message, "abandoned");
    }
  }

  // Authenticates the request; false when it was answered with 401, or with
  // 429 while its address is refused for failed logins.
  bool Authenticate(HttpExchange& ex, const User*& user) {
    user = nullptr;
    if (!users_) return true;
    const auto now = LoginBrake::Clock::now();
    const std::string pause = std::to_string(options_.loginPause.count());
    if (brake_.Refuses(ex.peerAddress, now)) {
      ex.headers.emplace_back("Retry-After", pause);
      ex.holdReply = kBrakeHold;
      ex.Reply(429, "refused: too many failed logins from this address; try again later", "braked");
      return false;
    }
    user = users_->Authenticate(ex.authorization);
    if (!user) {
      if (brake_.Failed(ex.peerAddress, now) && http_) {
        http_->LogLine("harnolfees-server: " + EscapeForLog(ex.peerAddress) + " refused for " +
                       pause + " s after more than " + std::to_string(options_.maxFailedLogins) +
                       " failed logins within a minute\n");
      }
      ex.headers.emplace_back("WWW-Authenticate",
                              "Basic realm=\"HarnolFeesCenter\", charset=\"UTF-8\"");
      ex.Reply(401, "unauthorized: this page needs a user name and password", "unauthorized");
      return false;
    }
    ex.log.user = user->name;
    return true;
  }

  const ServerOptions& options_;
  Database& db_;
  UserDirectory* users_;
  LoginBrake& brake_;
  HttpLayer* http_ = nullptr;
};

FeeServer::FeeServer(ServerOptions options) : options_(std::move(options)) {
  if (options_.tlsCert.empty() != options_.tlsKey.empty()) {
    throw std::runtime_error("--tls-cert and --tls-key go together");
  }
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
  page_ = std::make_unique<Page>(options_, *db_, users_.get(), *brake_);
  HttpLimits limits;
  limits.maxBodyBytes = options_.maxBody;
  limits.maxConnections = options_.maxConnections;
  limits.maxConnectionsPerAddress = options_.maxConnectionsPerAddress;
  limits.idleTimeout = std::chrono::seconds(options_.keepAliveSeconds);
  limits.headerTimeout = options_.headerTimeout;
  limits.requestTimeout = options_.requestTimeout;
  limits.threads = options_.threads;
  http_ = std::make_unique<HttpLayer>(*page_, limits, TlsFiles{options_.tlsCert, options_.tlsKey},
                                      options_.log);
  page_->Attach(*http_);
}

FeeServer::~FeeServer() = default;

int FeeServer::Bind() {
  const sockaddr_storage bound = http_->Bind(options_.host, options_.port);
  // Without users every client may change every center, so the address the
  // name resolved to and the socket is bound to must be a loopback address;
  // the name itself proves nothing.
  if (options_.usersFile.empty() && !IsLoopbackAddress(bound)) {
    http_.reset();
    throw std::runtime_error("without --users the server listens on loopback addresses only (" +
                             options_.host + " is not one)");
  }
  if (bound.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(bound).sin6_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in&>(bound).sin_port);
}

bool FeeServer::Serve() { return http_ && http_->Serve(); }

void FeeServer::Stop() {
  if (http_) http_->Stop();
}

}  // namespace harnolfees::server
