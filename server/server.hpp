// The fee page over HTTP: GET and POST of "TermFeesAX.asp".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "database.hpp"

struct sockaddr_storage;

namespace harnolfees::server {

class HttpLayer;
class LoginBrake;
class UserDirectory;

struct CenterOption {
  std::int64_t id = 0;
  bool showTravelOption = false;
};

struct ServerOptions {
  std::string database;
  std::string host = "127.0.0.1";
  int port = 8080;        // 0 picks a free port
  std::string usersFile;  // empty: no access control, loopback only; "db": the table Users
  bool demo = false;
  Synchronous synchronous = Synchronous::Full;
  // Threads for the work that may block: password checks and the database.
  // Connections are held by one I/O thread besides these.
  int threads = 16;
  // Connections at most, in all and from one client address. A connection
  // beyond a limit closes the one that has waited longest without a request
  // under way, or is closed at once when every one has a request under way.
  int maxConnections = 1024;
  int maxConnectionsPerAddress = 256;
  std::vector<CenterOption> centers;
  // The largest request body read; a statement text of two statements is
  // under 3 KB even with every byte form-encoded.
  std::size_t maxBody = 8 * 1024;
  // A post that has waited in the server longer than this (from the moment
  // its connection was accepted) is refused without being executed. It is
  // well under the control's transfer time-out (60 s), so that nothing runs
  // after the control has reported the save as failed.
  std::chrono::milliseconds postDeadline{20'000};
  // How long a connection may wait without a request under way, new or
  // kept alive.
  int keepAliveSeconds = 3;
  // A request's header must be complete this long after its first byte (for
  // the first request of a connection: after the connection was accepted),
  // and its body this long after its first byte.
  std::chrono::milliseconds headerTimeout{10'000};
  std::chrono::milliseconds requestTimeout{15'000};
  // More failed logins than this from one address within a minute refuse
  // the address for loginPause.
  int maxFailedLogins = 10;
  std::chrono::seconds loginPause{60};
  std::ostream* log = nullptr;  // one line per request; nullptr for none
  // PostgreSQL: connections held, seconds to connect, milliseconds a
  // statement may run.
  int pool = 8;
  int connectTimeoutS = 5;
  int statementTimeoutMs = 10000;
  // HTTPS: a PEM certificate (chain) and its private key; both empty: HTTP.
  std::string tlsCert, tlsKey;
  // The local time that GETDATE() stands for; empty: the system clock.
  std::function<Timestamp()> clock{};
  bool init = false;     // make or upgrade the schema (and centers, demo), then end
  std::string copyFrom;  // copy this SQLite database's rows into --db, then end
};

// The database options that the server options give.
DatabaseOptions DatabaseOptionsFor(const ServerOptions& options);

// The command line of harnolfees-server. The text of the variant is an error
// message for the user.
std::variant<ServerOptions, std::string> ParseCommandLine(const std::vector<std::string>& args);
extern const char* const kUsage;

// Whether a socket address is one of this machine's loopback addresses
// (127.0.0.0/8, ::1, or 127.0.0.0/8 mapped into IPv6).
bool IsLoopbackAddress(const sockaddr_storage& address);

class FeeServer {
 public:
  // Opens the database (creating schema and lookup lists), adds the centers
  // of the options, fills the demonstration data and reads the users file.
  // Throws std::runtime_error (DatabaseError among them) when any fails.
  explicit FeeServer(ServerOptions options);
  ~FeeServer();
  FeeServer(const FeeServer&) = delete;
  FeeServer& operator=(const FeeServer&) = delete;

  // Binds the listening socket and returns its port. Throws on failure, and
  // when there is no users file and the address bound is not a loopback one.
  int Bind();
  // Serves until Stop; returns false when the server could not listen.
  bool Serve();
  void Stop();

  Database& database() { return *db_; }
  const ServerOptions& options() const { return options_; }

 private:
  class Page;

  ServerOptions options_;
  std::unique_ptr<Database> db_;
  std::unique_ptr<UserDirectory> users_;
  std::unique_ptr<LoginBrake> brake_;
  std::unique_ptr<Page> page_;
  std::unique_ptr<HttpLayer> http_;
};

}  // namespace harnolfees::server
