// Speed of the fee server.
//
//  - Saves: 8 concurrent clients over loopback, each posting confirmed
//    single-statement saves; statements per second and latency percentiles at
//    synchronous NORMAL and FULL.
//  - The references: the same INSERT executed in-process through the SQLite C
//    API in a loop (one transaction per statement), and the machine's fsync
//    rate in the directory of the databases.
//  - The load document of a center with 10,000 records.
//
// Load generators are bounded in count and time and talk to 127.0.0.1 only.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "database.hpp"
#include "harnolfees/encoding.hpp"
#include "loopback_client.hpp"
#include "server.hpp"
#include "sqlite_database.hpp"
#include "statement.hpp"
#include "values.hpp"

namespace {

using namespace harnolfees::server;
using Clock = std::chrono::steady_clock;
using harnolfees::bench::LoopbackClient;

constexpr int kClients = 8;
constexpr auto kTimeLimit = std::chrono::seconds(20);

class BenchDir {
 public:
  BenchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "harnolfees-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
  }
  ~BenchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& n) const { return (path_ / n).string(); }

 private:
  std::filesystem::path path_;
};

std::string DayText(int day) {
  const std::string s =
      Timestamp::FromParts(1800, 1, 1)->AddSeconds(std::int64_t{day} * 86400)->ToStorage();
  return s.substr(5, 2) + "/" + s.substr(8, 2) + "/" + s.substr(0, 4);
}

std::string SaveText(int center, int day) {
  return " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
         "RecordLastUpdated)  VALUES (" +
         std::to_string(center) + ", '" + DayText(day) + "', " + std::to_string(40 + day % 60) +
         ".5,  GETDATE()) ";
}

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
  return v[i];
}

// 8 clients, each posting `perClient` saves to a server in this process.
void BM_ServerSaves(benchmark::State& state) {
  const auto sync = state.range(0) == 0 ? Synchronous::Normal : Synchronous::Full;
  const int perClient = static_cast<int>(state.range(1));
  std::vector<double> latencies;
  std::int64_t saves = 0, failures = 0;
  double seconds = 0, processCpu = 0;
  std::atomic<double> clientCpu{0};
  for (auto _ : state) {
    state.PauseTiming();
    BenchDir dir;
    ServerOptions o;
    o.database = dir.File("fees.db");
    o.synchronous = sync;
    o.port = 0;
    o.threads = 16;
    for (int c = 1; c <= kClients; ++c) o.centers.push_back({c, false});
    FeeServer server(o);
    const int port = server.Bind();
    std::thread serving([&] { server.Serve(); });
    std::vector<std::vector<double>> perThread(kClients);
    std::atomic<std::int64_t> failed{0};
    state.ResumeTiming();

    const auto start = Clock::now();
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    std::vector<std::thread> clients;
    for (int t = 0; t < kClients; ++t) {
      clients.emplace_back([&, t] {
        LoopbackClient client(port);
        for (int i = 0; i < perClient && Clock::now() - start < kTimeLimit; ++i) {
          const std::string body = "SQL=" + *harnolfees::FormEncode(SaveText(t + 1, i));
          const auto t0 = Clock::now();
          const bool confirmed = client.PostConfirmed(body);
          const auto t1 = Clock::now();
          if (!confirmed) {
            ++failed;
            continue;
          }
          perThread[static_cast<std::size_t>(t)].push_back(
              std::chrono::duration<double, std::micro>(t1 - t0).count());
        }
        const double mine = CpuSeconds(RUSAGE_THREAD);
        double seen = clientCpu.load();
        while (!clientCpu.compare_exchange_weak(seen, seen + mine)) {
        }
      });
    }
    for (auto& c : clients) c.join();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    processCpu += CpuSeconds(RUSAGE_SELF) - cpu0;

    state.PauseTiming();
    server.Stop();
    serving.join();
    for (auto& v : perThread) {
      saves += static_cast<std::int64_t>(v.size());
      latencies.insert(latencies.end(), v.begin(), v.end());
    }
    failures += failed;
    state.ResumeTiming();
  }
  state.counters["statements_per_s"] = static_cast<double>(saves) / seconds;
  state.counters["p50_us"] = Percentile(latencies, 0.50);
  state.counters["p90_us"] = Percentile(latencies, 0.90);
  state.counters["p99_us"] = Percentile(latencies, 0.99);
  state.counters["failures"] = static_cast<double>(failures);
  // CPU per statement of the server side (the process minus the client
  // threads) and of the clients: comparable with the in-process loop also on
  // a busy machine.
  state.counters["server_cpu_us"] =
      (processCpu - clientCpu.load()) * 1e6 / static_cast<double>(saves);
  state.counters["client_cpu_us"] = clientCpu.load() * 1e6 / static_cast<double>(saves);
  state.SetItemsProcessed(saves);
}
BENCHMARK(BM_ServerSaves)
    ->ArgNames({"full", "per_client"})
    ->Args({0, 1000})
    ->Args({1, 150})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same INSERT, executed directly through the SQLite C API in one thread,
// one transaction per statement.
void BM_InProcessSqlite(benchmark::State& state) {
  const bool full = state.range(0) != 0;
  BenchDir dir;
  const std::string path = dir.File("fees.db");
  {
    SqliteDatabase db(DatabaseOptions{path});  // the page's own schema
    db.EnsureCenter(1, "bench", false);
  }
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, full ? "PRAGMA synchronous = FULL" : "PRAGMA synchronous = NORMAL", nullptr,
               nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
  ParseOutcome parsed = ParseStatementText(SaveText(1, 0));
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, parsed.statements.at(0).sql->c_str(), -1, &st, nullptr);
  int day = 0;
  std::int64_t failures = 0;
  const double cpu0 = CpuSeconds(RUSAGE_THREAD);
  for (auto _ : state) {
    const std::string date = Timestamp::Parse(DayText(day))->ToStorage();
    const std::string now = Timestamp::Now().ToStorage();
    sqlite3_bind_int64(st, sqlite3_bind_parameter_index(st, ":CenterID"), 1);
    sqlite3_bind_text(st, sqlite3_bind_parameter_index(st, ":EffectivityDate"), date.c_str(), -1,
                      SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, sqlite3_bind_parameter_index(st, ":RenewalOptionFee"),
                       (40 + day % 60) * 10000 + 5000);
    sqlite3_bind_text(st, sqlite3_bind_parameter_index(st, ":Now"), now.c_str(), -1,
                      SQLITE_TRANSIENT);
    if (sqlite3_step(st) != SQLITE_DONE) ++failures;
    sqlite3_reset(st);
    ++day;
  }
  const double cpu = CpuSeconds(RUSAGE_THREAD) - cpu0;
  sqlite3_finalize(st);
  sqlite3_close(db);
  state.counters["failures"] = static_cast<double>(failures);
  state.counters["statements_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["cpu_us"] =
      cpu * 1e6 / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
}
BENCHMARK(BM_InProcessSqlite)->ArgName("full")->Arg(0)->Arg(1)->MinTime(2.0)->UseRealTime();

// The machine's fsync rate where the databases live: a 4 KiB write and
// fdatasync, as a WAL commit does.
void BM_FsyncRate(benchmark::State& state) {
  BenchDir dir;
  const std::string path = dir.File("fsync.bin");
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  std::string block(4096, 'x');
  off_t offset = 0;
  for (auto _ : state) {
    if (pwrite(fd, block.data(), block.size(), offset) < 0) state.SkipWithError("write failed");
    fdatasync(fd);
    offset = (offset + 4096) % (1 << 20);
  }
  close(fd);
  state.counters["fsyncs_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FsyncRate)->MinTime(2.0)->UseRealTime();

// GET of the load document of a center holding 10,000 records.
void BM_LoadDocument10k(benchmark::State& state) {
  BenchDir dir;
  ServerOptions o;
  o.database = dir.File("fees.db");
  o.synchronous = Synchronous::Normal;
  o.port = 0;
  o.centers = {{5, true}};
  FeeServer server(o);
  // 10,000 records over the tabs: membership, renewal option, Beta APR and
  // sales-tax records of one center.
  std::vector<std::string> texts;
  for (int i = 0; i < 2500; ++i) {
    const std::string d = DayText(40000 + i);
    texts.push_back(
        " INSERT INTO MembershipFee ( CenterID, EffectivityDate, MembershipFee,  "
        "Term, MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated)  "
        "VALUES (5, '" +
        d + "', 120.5, 12, 0.15, 25, 0.05,  GETDATE()) ");
    texts.push_back(SaveText(5, 40000 + i));
    texts.push_back(
        " INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
        "RecordLastUpdated)  VALUES (5, '" +
        d + "', 0.0725, 2,  GETDATE()) ");
    texts.push_back(
        " INSERT INTO SalesTax ( CenterID, Type, EffectivityDate,  Membership, "
        "Renewal, Merchandise, RecordLastUpdated)  VALUES (5,  2 , '" +
        d + "', 0.08, 0.075, 0.0625,  GETDATE()) ");
  }
  std::vector<std::thread> loaders;
  for (int t = 0; t < 4; ++t) {
    loaders.emplace_back([&, t] {
      for (std::size_t i = static_cast<std::size_t>(t); i < texts.size(); i += 4) {
        server.database().Execute(ParseStatementText(texts[i]).statements);
      }
    });
  }
  for (auto& l : loaders) l.join();
  if (state.range(0) == 0) {
    // The document alone, built in this thread.
    std::size_t bytes = 0;
    for (auto _ : state) bytes = server.database().LoadDocument(5).size();
    state.counters["bytes"] = static_cast<double>(bytes);
    return;
  }
  const int port = server.Bind();
  std::thread serving([&] { server.Serve(); });
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  std::size_t bytes = 0, records = 0;
  for (auto _ : state) {
    auto res = client.Get("/TermFeesAX.asp?Center=5");
    if (!res || res->status != 200) {
      state.SkipWithError("the load failed");
      break;
    }
    bytes = res->body.size();
    records = 0;
    for (std::size_t p = 0; (p = res->body.find("<Effectivity>", p)) != std::string::npos; ++p) {
      ++records;
    }
  }
  server.Stop();
  serving.join();
  state.counters["records"] = static_cast<double>(records);
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_LoadDocument10k)
    ->ArgName("http")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
