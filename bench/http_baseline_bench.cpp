// The floor under every statement round trip: one HTTP POST of a statement's
// body with libcurl, reusing its connection, against a loopback server that
// answers each request with an empty 200 at once. No control, no event loop,
// no threads between the two; bench/report sets the control's round trips
// against its median.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One client at a time, kept alive, every request answered at once.
class EmptyReplyServer {
 public:
  EmptyReplyServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      throw std::runtime_error("baseline server: cannot listen");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~EmptyReplyServer() {
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
  }
  std::string Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/TermFeesAX.asp";
  }
  int Connections() const { return connections_.load(); }

 private:
  static std::size_t ContentLength(std::string head) {
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto at = head.find("content-length:");
    return at == std::string::npos ? 0 : std::stoul(head.substr(at + 15));
  }

  void Serve() {
    static const std::string kReply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    int fd = -1;
    std::string in;
    char buf[65536];
    while (!stop_) {
      pollfd p{fd < 0 ? listenFd_ : fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      if (fd < 0) {
        fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd >= 0) {
          int yes = 1;
          ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
          ++connections_;
        }
        continue;
      }
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fd);
        fd = -1;
        in.clear();
        continue;
      }
      in.append(buf, static_cast<std::size_t>(n));
      for (;;) {
        const auto end = in.find("\r\n\r\n");
        if (end == std::string::npos) break;
        const std::size_t total = end + 4 + ContentLength(in.substr(0, end));
        if (in.size() < total) break;
        in.erase(0, total);
        (void)::send(fd, kReply.data(), kReply.size(), MSG_NOSIGNAL);
      }
    }
    if (fd >= 0) ::close(fd);
  }

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

void BM_MinimalHttpRoundTrip(benchmark::State& state) {
  EmptyReplyServer server;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    state.SkipWithError("curl_easy_init failed");
    return;
  }
  // The body of the statement that the control's round-trip benchmark posts.
  const std::string body =
      "SQL=+UPDATE+RENEWALOPTIONFEE+SET+EffectivityDate+%3D%2703%2F01%2F2004%27%2C+"
      "RenewalOptionFee+%3D+31%2C+RecordLastUpdated+%3D+GETDATE%28%29+++WHERE++"
      "EffectivityDate+%3D+%273%2F1%2F2004%27+AND+CenterID+%3D+12";
  const std::string url = server.Url();
  curl_slist* headers =
      curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  std::vector<double> ms;
  ms.reserve(1000);
  long failures = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    long status = 0;
    if (curl_easy_perform(curl) != CURLE_OK ||
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) {
      ++failures;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (failures > 0) state.SkipWithError("a round trip failed");
  std::sort(ms.begin(), ms.end());
  if (ms.empty()) return;
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["connections"] = server.Connections();
}
BENCHMARK(BM_MinimalHttpRoundTrip)->Iterations(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
