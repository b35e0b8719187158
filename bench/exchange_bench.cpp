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

#include "confirming_server.hpp"
#include "harnolfees/control.hpp"
#include "support/fake_host.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using harnolfees::HarnolFeesCtlCenter;
using harnolfees::testing::FakeFetcher;
using harnolfees::testing::FakeHost;

using harnolfees::bench::ConfirmingServer;

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
