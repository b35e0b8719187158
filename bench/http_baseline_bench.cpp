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

#include "confirming_server.hpp"

namespace {

using Clock = std::chrono::steady_clock;

using harnolfees::bench::ConfirmingServer;

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

void BM_MinimalHttpRoundTrip(benchmark::State& state) {
  ConfirmingServer server;
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
  const std::string url = server.BaseUrl() + "TermFeesAX.asp";
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
