// harnolfees-server: the fee page "TermFeesAX.asp" in front of SQLite or
// PostgreSQL.
#include <pthread.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "access.hpp"
#include "server.hpp"

namespace {

int HashPassword(const std::vector<std::string>& args) {
  if (args.size() != 4) {
    std::cerr << harnolfees::server::kUsage;
    return 2;
  }
  std::string password;
  std::getline(std::cin, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) {
    std::cerr << "harnolfees-server: no password on standard input\n";
    return 2;
  }
  std::cout << harnolfees::server::UserDirectory::MakeEntry(args[1], password, args[2], args[3])
            << '\n';
  return 0;
}

// --init and --copy-from: database work without serving.
int Prepare(const harnolfees::server::ServerOptions& options) {
  using namespace harnolfees::server;
  auto db = OpenDatabase(DatabaseOptionsFor(options));
  for (const CenterOption& c : options.centers) {
    db->EnsureCenter(c.id, "Center " + std::to_string(c.id), c.showTravelOption);
  }
  if (options.demo) db->FillDemo();
  if (!options.copyFrom.empty()) {
    if (IsPostgresTarget(options.copyFrom)) {
      std::cerr << "harnolfees-server: --copy-from takes a SQLite file\n";
      return 2;
    }
    DatabaseOptions from;
    from.path = options.copyFrom;
    auto source = OpenDatabase(from);
    const std::int64_t rows = db->CopyFrom(*source);
    std::cout << "copied " << rows << " rows from " << options.copyFrom << '\n';
  }
  std::cout << "the database holds schema version " << kSchemaVersion << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace harnolfees::server;
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
      std::cout << kUsage;
      return 0;
    }
    if (!args.empty() && args[0] == "--hash-password") return HashPassword(args);
    auto parsed = ParseCommandLine(args);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
      std::cerr << "harnolfees-server: " << *error << '\n' << kUsage;
      return 2;
    }
    ServerOptions options = std::get<ServerOptions>(std::move(parsed));
    if (options.init || !options.copyFrom.empty()) return Prepare(options);

    // SIGINT and SIGTERM stop the server in an orderly way; a thread waits
    // for them so that no handler runs inside the request threads.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // A descriptor per connection: the soft limit is raised as far as the
    // system allows, so that --max-connections is what limits them.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
      files.rlim_cur = files.rlim_max;
      setrlimit(RLIMIT_NOFILE, &files);
    }

    FeeServer server(options);
    const int port = server.Bind();
    if (options.usersFile.empty()) {
      std::cerr << "harnolfees-server: no --users file: every request may read and change every "
                   "center; listening on the loopback address only\n";
    }
    std::cout << "listening on " << options.host << ':' << port
              << (options.tlsCert.empty() ? "" : " (https)") << std::endl;

    std::thread waiter([&server, stopSignals] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      server.Stop();
    });
    const bool served = server.Serve();
    // Wake the waiter when the server ended for another reason.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    if (!served) {
      std::cerr << "harnolfees-server: the server stopped listening\n";
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "harnolfees-server: " << e.what() << '\n';
    return 1;
  }
}
