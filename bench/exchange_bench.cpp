// Round trips of the statement exchange against a minimal local server that
// confirms every statement at once: SubmitStatement alone, and the operator's
// Save click of an edit until the form is back to browsing. Reports the
// median and the 99th percentile of 1,000 round trips, and how many
// connections the server saw (one when the connection is kept alive).
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "harnolfees/control.hpp"
#include "support/fake_host.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using harnolfees::HarnolFeesCtlCenter;
using harnolfees::testing::FakeFetcher;
using harnolfees::testing::FakeHost;

// Answers every request on every kept-alive connection with an empty 200.
class ConfirmingServer {
 public:
  ConfirmingServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      throw std::runtime_error("bench server: cannot listen");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ConfirmingServer() {
    stop_ = true;
    thread_.join();
    for (auto& c : clients_) ::close(c.fd);
    ::close(listenFd_);
  }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  int Connections() const { return connections_.load(); }
  long Requests() const { return requests_.load(); }

 private:
  struct Client {
    int fd;
    std::string in;
  };

  static std::size_t ContentLength(const std::string& head) {
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto at = lower.find("content-length:");
    return at == std::string::npos ? 0 : std::stoul(lower.substr(at + 15));
  }

  // Answers every complete request in the buffer; false when the peer is gone.
  bool Answer(Client& c) {
    static const std::string kReply =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n";
    for (;;) {
      auto end = c.in.find("\r\n\r\n");
      if (end == std::string::npos) return true;
      std::size_t total = end + 4 + ContentLength(c.in.substr(0, end));
      if (c.in.size() < total) return true;
      c.in.erase(0, total);
      ++requests_;
      if (::send(c.fd, kReply.data(), kReply.size(), MSG_NOSIGNAL) < 0) return false;
    }
  }

  void Serve() {
    char buf[65536];
    while (!stop_) {
      std::vector<pollfd> fds{{listenFd_, POLLIN, 0}};
      for (auto& c : clients_) fds.push_back({c.fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd >= 0) {
          int yes = 1;
          ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
          clients_.push_back({fd, {}});
          ++connections_;
        }
      }
      for (std::size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        Client& c = clients_[i - 1];
        ssize_t n = ::read(c.fd, buf, sizeof buf);
        if (n > 0) c.in.append(buf, static_cast<std::size_t>(n));
        if (n <= 0 || !Answer(c)) {
          ::close(c.fd);
          c.fd = -1;
        }
      }
      std::erase_if(clients_, [](const Client& c) { return c.fd < 0; });
    }
  }

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<long> requests_{0};
  std::vector<Client> clients_;
  std::thread thread_;
};

const char* kDocument =
    "<Fees><TERM><I>12</I></TERM><HIDETravelOption/>"
    "<T4><CenterID>12</CenterID><Effectivity>2004-03-01</Effectivity>"
    "<RenewalOptionFee>30</RenewalOptionFee></T4></Fees>";

struct Session {
  ConfirmingServer server;
  FakeHost host;
  std::unique_ptr<HarnolFeesCtlCenter> ctl;
  Session() {
    ctl = std::make_unique<HarnolFeesCtlCenter>(host, harnolfees::MakeCurlTransfer(host),
                                                std::make_unique<FakeFetcher>(kDocument));
    ctl->LoadData(server.BaseUrl(), 12, "03/15/2004");
  }
};

void Report(benchmark::State& state, std::vector<double>& ms, const ConfirmingServer& server) {
  std::sort(ms.begin(), ms.end());
  if (ms.empty()) return;
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["max_ms"] = ms.back();
  state.counters["connections"] = server.Connections();
}

void BM_SubmitStatementRoundTrip(benchmark::State& state) {
  Session s;
  const std::string statement =
      " UPDATE RENEWALOPTIONFEE SET EffectivityDate ='03/01/2004', RenewalOptionFee = 31, "
      "RecordLastUpdated = GETDATE()   WHERE  EffectivityDate = '3/1/2004' AND CenterID = 12";
  std::vector<double> ms;
  ms.reserve(1000);
  for (auto _ : state) {
    auto start = Clock::now();
    s.ctl->SubmitStatement(statement);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  if (!s.host.messages.empty()) state.SkipWithError(s.host.LastMessage().prompt.c_str());
  Report(state, ms, s.server);
}
BENCHMARK(BM_SubmitStatementRoundTrip)->Iterations(1000)->Unit(benchmark::kMicrosecond);

// Edit the loaded renewal option fee, then time the Save click until the
// confirmed record is committed and the form is browsing again.
void BM_SaveClickBackToBrowsing(benchmark::State& state) {
  Session s;
  auto& surface = s.ctl->surface();
  surface.tabFees.SetSelectedIndex(4);
  surface.tabFees.Click();
  std::vector<double> ms;
  ms.reserve(1000);
  int amount = 30;
  for (auto _ : state) {
    state.PauseTiming();
    surface.grdFees.SetRow(1);
    surface.cmdEdit.Click();
    surface.txtField[1].SetText(std::to_string(++amount % 500 + 1));
    state.ResumeTiming();
    auto start = Clock::now();
    surface.cmdAdd.Click();  // Save
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (surface.tabFees.Tag() != harnolfees::kModeBrowsing || !s.host.messages.empty()) {
      state.SkipWithError("the save did not return to browsing");
      break;
    }
  }
  Report(state, ms, s.server);
  state.counters["statements"] = static_cast<double>(s.server.Requests());
}
BENCHMARK(BM_SaveClickBackToBrowsing)->Iterations(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
