// harnolfees-web: the fee editor in the browser. One control per signed-in
// browser, each on a thread of its own, saving to the fee server.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "web_front.hpp"

namespace {

const char* const kUsage =
    "usage: harnolfees-web --fee-server URL [--listen HOST:PORT] [--server-date DATE]\n"
    "                      [--view-mode] [--max-sessions N] [--idle-minutes N] [--threads N]\n"
    "                      [--tls-cert FILE --tls-key FILE | --behind-tls] [--ca-file FILE]\n"
    "  --fee-server URL   address prefix of the fee server's pages (http://127.0.0.1:8080/)\n"
    "  --listen HOST:PORT where the page is served (default 127.0.0.1:8090; port 0 picks one)\n"
    "  --server-date DATE the date the entry form is bounded by (default: today)\n"
    "  --view-mode        read-only presentation\n"
    "  --max-sessions N   signed-in browsers at most (default 100)\n"
    "  --idle-minutes N   a session without an action for this long ends (default 30)\n"
    "  --threads N        HTTP threads (default: two per session and 16 more)\n"
    "  --tls-cert, --tls-key  serve HTTPS with this PEM certificate (chain) and key\n"
    "  --behind-tls       a proxy in front speaks HTTPS: the cookie is marked Secure\n"
    "  --ca-file FILE     the authorities an https fee server is checked against\n";

bool ParseInt(const std::string& text, long lo, long hi, long& out) {
  char* end = nullptr;
  out = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && out >= lo && out <= hi;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace harnolfees::web;
  const std::vector<std::string> args(argv + 1, argv + argc);
  WebOptions o;
  bool haveServer = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "--view-mode") {
      o.viewMode = true;
      continue;
    }
    if (a == "--behind-tls") {
      o.behindTls = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      std::cerr << "harnolfees-web: " << a << " needs a value, or is unknown\n" << kUsage;
      return 2;
    }
    const std::string v = args[++i];
    long n = 0;
    if (a == "--fee-server") {
      o.feeServer = v;
      haveServer = true;
    } else if (a == "--listen") {
      const auto colon = v.rfind(':');
      if (colon == std::string::npos || !ParseInt(v.substr(colon + 1), 0, 65535, n)) {
        std::cerr << "harnolfees-web: --listen takes HOST:PORT\n";
        return 2;
      }
      o.host = v.substr(0, colon);
      o.port = static_cast<int>(n);
    } else if (a == "--server-date") {
      o.serverDate = v;
    } else if (a == "--max-sessions" && ParseInt(v, 1, 10000, n)) {
      o.maxSessions = static_cast<std::size_t>(n);
    } else if (a == "--idle-minutes" && ParseInt(v, 1, 7 * 24 * 60, n)) {
      o.idleLimit = std::chrono::minutes(n);
    } else if (a == "--idle-seconds" && ParseInt(v, 1, 7 * 24 * 3600, n)) {
      o.idleLimit = std::chrono::seconds(n);  // for tests
    } else if (a == "--threads" && ParseInt(v, 1, 20000, n)) {
      o.threads = static_cast<int>(n);
    } else if (a == "--tls-cert") {
      o.tlsCert = v;
    } else if (a == "--tls-key") {
      o.tlsKey = v;
    } else if (a == "--ca-file") {
      setenv("HARNOLFEES_CA_FILE", v.c_str(), 1);
    } else {
      std::cerr << "harnolfees-web: " << a << " " << v << ": unknown option or bad value\n"
                << kUsage;
      return 2;
    }
  }
  if (!haveServer || o.tlsCert.empty() != o.tlsKey.empty()) {
    std::cerr << "harnolfees-web: give --fee-server, and --tls-cert with --tls-key\n" << kUsage;
    return 2;
  }
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  try {
    WebFront front(o);
    const int port = front.Bind();
    std::cout << "listening on " << (o.tlsCert.empty() ? "http://" : "https://") << o.host << ':'
              << port << '/' << std::endl;
    std::thread waiter([&front, stopSignals] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      front.Stop();
    });
    const bool served = front.Serve();
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return served ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "harnolfees-web: " << e.what() << '\n';
    return 1;
  }
}
