// Loading a large schedule: LoadData from a file address (fetch, parse,
// record-set fill and rendering of tab 1) against pugixml alone parsing the
// same bytes, side by side in the same run, and the peak memory of the load.
//
//   bench_load_bench --benchmark_min_time=1x   (a Release build)
//
// Counters: ratio_to_pugixml is the load's time over pugixml's time for the
// same document, measured alternately in the same loop; peak_x_document is
// the most memory the load held at once (C++ and pugixml allocations,
// counted) over the document size; rss_x_document is the growth of the peak
// resident size of a fresh process that makes one load, over the document
// size.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "harnolfees/control.hpp"
#include "support/document_generator.hpp"
#include "support/fake_host.hpp"

// ---- Counting allocator ----

namespace {

std::atomic<long long> gCurrent{0};
std::atomic<long long> gPeak{0};

void Count(void* p) {
  if (!p) return;
  const long long now = gCurrent.fetch_add(static_cast<long long>(malloc_usable_size(p))) +
                        static_cast<long long>(malloc_usable_size(p));
  long long peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
}
void Uncount(void* p) {
  if (p) gCurrent.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
}
__attribute__((noinline)) void* CountedMalloc(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  Count(p);
  return p;
}
__attribute__((noinline)) void CountedFree(void* p) {
  Uncount(p);
  std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* p = CountedMalloc(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = CountedMalloc(size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

namespace {

using harnolfees::HarnolFeesCtlCenter;
using harnolfees::testing::FakeHost;
using harnolfees::testing::FakeTransfer;

constexpr std::size_t kRecords = 100000;
constexpr const char* kServerDate = "2004-03-15";

struct Fixture {
  std::string document;
  std::filesystem::path dir;
  std::string baseUrl;

  Fixture() {
    // Freed memory stays with the process, so that neither side pays again
    // and again for the operating system handing out fresh pages: the
    // comparison is of the work itself.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    pugi::set_memory_management_functions(&CountedMalloc, &CountedFree);
    document = harnolfees::testing::GenerateLoadDocument(kRecords, 2004).xml;
    dir = std::filesystem::temp_directory_path() /
          ("harnolfees-load-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "TermFeesAX.asp", std::ios::binary) << document;
    baseUrl = "file://" + dir.string() + "/";
  }
  ~Fixture() { std::filesystem::remove_all(dir); }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

double PugixmlAloneSeconds(const std::string& document) {
  std::string bytes = document;
  const auto start = std::chrono::steady_clock::now();
  {
    pugi::xml_document doc;
    pugi::xml_parse_result result = doc.load_buffer_inplace(bytes.data(), bytes.size());
    if (!result) std::abort();
    benchmark::DoNotOptimize(doc.first_child());
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The machine's speed drifts from minute to minute; the median of the ratios
// of loads to the parses right before them is the figure that drift moves
// least.
double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::unique_ptr<HarnolFeesCtlCenter> NewControl(FakeHost& host) {
  return std::make_unique<HarnolFeesCtlCenter>(host, std::make_unique<FakeTransfer>(),
                                               harnolfees::MakeCurlFetcher());
}

void CheckLoaded(benchmark::State& state, FakeHost& host, HarnolFeesCtlCenter& control) {
  if (!host.messages.empty()) state.SkipWithError(host.messages.back().prompt.c_str());
  if (control.surface().grdFees.Rows() < static_cast<int>(kRecords / 15)) {
    state.SkipWithError("tab 1 was not rendered");
  }
}

// The resident-size view of the peak: a fresh process (this program again)
// makes one load and reports how far its peak resident size grew.
int LoadOnce(const char* baseUrl) {
  FakeHost host;
  auto control = NewControl(host);
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  control->LoadData(baseUrl, 12, kServerDate);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  if (!host.messages.empty()) return 1;
  std::printf("%ld\n", after.ru_maxrss - before.ru_maxrss);
  return 0;
}

void BM_LoadPeakResidentSize(benchmark::State& state) {
  Fixture& f = Shared();
  double growth = 0;
  for (auto _ : state) {
    const std::string command =
        "/proc/" + std::to_string(::getpid()) + "/exe --load-once '" + f.baseUrl + "'";
    FILE* child = popen(command.c_str(), "r");
    long kb = -1;
    if (!child || std::fscanf(child, "%ld", &kb) != 1) kb = -1;
    if (child && pclose(child) != 0) kb = -1;
    if (kb < 0) {
      state.SkipWithError("the load in a fresh process failed");
      break;
    }
    growth = static_cast<double>(kb) * 1024;
  }
  state.counters["rss_growth_MB"] = growth / 1e6;
  state.counters["rss_x_document"] = growth / static_cast<double>(f.document.size());
}
BENCHMARK(BM_LoadPeakResidentSize)->Unit(benchmark::kMillisecond)->Iterations(1);

// pugixml alone, parsing the document in place (the copy is not timed).
void BM_PugixmlAlone(benchmark::State& state) {
  Fixture& f = Shared();
  // One parse first, so that the tree's memory is not new to the process in
  // the timed parses: a first touch of each page costs more than the parse
  // itself on some virtual machines, and the loads are timed warm too.
  PugixmlAloneSeconds(f.document);
  for (auto _ : state) {
    state.PauseTiming();
    std::string bytes = f.document;
    state.ResumeTiming();
    pugi::xml_document doc;
    pugi::xml_parse_result result = doc.load_buffer_inplace(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.document.size()));
  state.counters["document_MB"] = static_cast<double>(f.document.size()) / 1e6;
}
BENCHMARK(BM_PugixmlAlone)->Unit(benchmark::kMillisecond);

// LoadData into a control that holds nothing yet, with pugixml alone timed
// on the same bytes in the same loop.
void BM_LoadDataFromFile(benchmark::State& state) {
  Fixture& f = Shared();
  double loadSeconds = 0, pugixmlSeconds = 0;
  std::vector<double> ratios;  // of each load to the parse just before it
  long long peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const double parse = PugixmlAloneSeconds(f.document);
    pugixmlSeconds += parse;
    FakeHost host;
    auto control = NewControl(host);
    host.ClearRecords();
    const long long before = gCurrent.load();
    gPeak.store(before);
    state.ResumeTiming();

    const auto start = std::chrono::steady_clock::now();
    control->LoadData(f.baseUrl, 12, kServerDate);
    const double load =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    loadSeconds += load;
    ratios.push_back(load / parse);

    state.PauseTiming();
    peak = std::max(peak, gPeak.load() - before);
    CheckLoaded(state, host, *control);
    control.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.document.size()));
  state.counters["ratio_to_pugixml"] = loadSeconds / pugixmlSeconds;
  state.counters["ratio_median"] = Median(ratios);
  state.counters["pugixml_ms"] = 1000 * pugixmlSeconds / static_cast<double>(state.iterations());
  state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["peak_x_document"] =
      static_cast<double>(peak) / static_cast<double>(f.document.size());
}
BENCHMARK(BM_LoadDataFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A reload: the control already shows the schedule, which the load empties
// first.
void BM_ReloadFromFile(benchmark::State& state) {
  Fixture& f = Shared();
  FakeHost host;
  auto control = NewControl(host);
  control->LoadData(f.baseUrl, 12, kServerDate);
  double loadSeconds = 0, pugixmlSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    pugixmlSeconds += PugixmlAloneSeconds(f.document);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    control->LoadData(f.baseUrl, 12, kServerDate);
    loadSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  CheckLoaded(state, host, *control);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * f.document.size()));
  state.counters["ratio_to_pugixml"] = loadSeconds / pugixmlSeconds;
}
BENCHMARK(BM_ReloadFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--load-once") return LoadOnce(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
