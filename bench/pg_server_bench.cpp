// Speed of the fee server on PostgreSQL, in a throw-away cluster of this
// program reached through a Unix socket.
//
//  - Saves: 8 concurrent clients over loopback HTTP, each posting confirmed
//    single-statement saves, to one or two server processes on the same
//    database; with synchronous_commit on (each commit waits for its WAL
//    flush) and off (the database's disk is not the limit).
//  - The reference: the same INSERT through libpq in one connection over the
//    same kind of socket, one transaction per statement.
//
// The machine's fsync rate is measured beside by server_bench. Load
// generators are bounded in count and time and talk to 127.0.0.1 only.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "harnolfees/encoding.hpp"
#include "loopback_client.hpp"
#include "support/pg_cluster.hpp"
#include "support/run_program.hpp"
#include "support/server_process.hpp"
#include "values.hpp"

namespace {

using harnolfees::bench::LoopbackClient;
using harnolfees::server::Timestamp;
using harnolfees::testing::PgCluster;
using harnolfees::testing::ServerProcess;
using Clock = std::chrono::steady_clock;

constexpr int kClients = 8;
constexpr auto kTimeLimit = std::chrono::seconds(15);

PgCluster& Cluster() {
  static std::unique_ptr<PgCluster> cluster = PgCluster::Create();
  return *cluster;
}

std::string StorageDay(int day) {
  return Timestamp::FromParts(1800, 1, 1)->AddSeconds(std::int64_t{day} * 86400)->ToStorage();
}

std::string SaveText(int center, int day) {
  const std::string s = StorageDay(day);
  return " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
         "RecordLastUpdated)  VALUES (" +
         std::to_string(center) + ", '" + s.substr(5, 2) + "/" + s.substr(8, 2) + "/" +
         s.substr(0, 4) + "', " + std::to_string(40 + day % 60) + ".5,  GETDATE()) ";
}

// User and system CPU seconds of a process so far.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
    if (i == 15) break;
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A new database with the page's schema and centers 1 to 8.
std::string NewFeeDatabase(bool synchronousCommit) {
  PgCluster& cluster = Cluster();
  const std::string name = cluster.NewDatabase();
  if (!synchronousCommit)
    cluster.Query("postgres", "ALTER DATABASE " + name + " SET synchronous_commit = off");
  std::vector<std::string> args = {"--db", cluster.Uri(name), "--init"};
  for (int c = 1; c <= kClients; ++c) {
    args.push_back("--center");
    args.push_back(std::to_string(c));
  }
  const auto run = harnolfees::testing::RunProgram(HARNOLFEES_SERVER_PATH, args);
  if (run.status != 0) throw std::runtime_error("--init failed: " + run.err);
  return cluster.Uri(name);
}

// 8 clients, spread over `servers` server processes on one database.
void BM_PgServerSaves(benchmark::State& state) {
  const int servers = static_cast<int>(state.range(0));
  const bool synchronousCommit = state.range(1) != 0;
  const int perClient = static_cast<int>(state.range(2));
  std::int64_t saves = 0, failures = 0;
  double seconds = 0, serverCpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string uri = NewFeeDatabase(synchronousCommit);
    std::vector<std::unique_ptr<ServerProcess>> processes;
    for (int s = 0; s < servers; ++s) {
      processes.push_back(std::make_unique<ServerProcess>(
          HARNOLFEES_SERVER_PATH, std::vector<std::string>{"--db", uri, "--listen", "127.0.0.1:0",
                                                           "--quiet", "--pool", "8"}));
    }
    std::atomic<std::int64_t> confirmed{0}, failed{0};
    std::vector<double> cpu0;
    for (auto& p : processes) cpu0.push_back(ProcessCpuSeconds(p->pid()));
    state.ResumeTiming();

    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int t = 0; t < kClients; ++t) {
      clients.emplace_back([&, t] {
        LoopbackClient client(processes[static_cast<std::size_t>(t % servers)]->port());
        for (int i = 0; i < perClient && Clock::now() - start < kTimeLimit; ++i) {
          if (client.PostConfirmed("SQL=" + *harnolfees::FormEncode(SaveText(t + 1, i)))) {
            ++confirmed;
          } else {
            ++failed;
          }
        }
      });
    }
    for (auto& c : clients) c.join();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();

    state.PauseTiming();
    for (std::size_t s = 0; s < processes.size(); ++s) {
      serverCpu += ProcessCpuSeconds(processes[s]->pid()) - cpu0[s];
    }
    processes.clear();
    saves += confirmed;
    failures += failed;
    state.ResumeTiming();
  }
  state.counters["statements_per_s"] = static_cast<double>(saves) / seconds;
  state.counters["failures"] = static_cast<double>(failures);
  // CPU of the fee server processes per statement (PostgreSQL's own not
  // counted).
  state.counters["server_cpu_us"] =
      serverCpu * 1e6 / static_cast<double>(std::max<std::int64_t>(saves, 1));
  state.SetItemsProcessed(saves);
}
BENCHMARK(BM_PgServerSaves)
    ->ArgNames({"servers", "sync", "per_client"})
    ->Args({1, 1, 400})
    ->Args({2, 1, 400})
    ->Args({1, 0, 1500})
    ->Args({2, 0, 1500})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same INSERT through libpq in one connection, prepared once, one
// transaction per statement.
void BM_InProcessLibpq(benchmark::State& state) {
  const bool synchronousCommit = state.range(0) != 0;
  const std::string uri = NewFeeDatabase(synchronousCommit);
  PGconn* conn = PQconnectdb(uri.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    state.SkipWithError(PQerrorMessage(conn));
    PQfinish(conn);
    return;
  }
  PQclear(PQprepare(conn, "save",
                    "INSERT INTO RenewalOptionFee (CenterID, EffectivityDate, RenewalOptionFee, "
                    "RecordLastUpdated) VALUES ($1, $2, $3, $4)",
                    0, nullptr));
  int day = 0;
  std::int64_t failures = 0;
  for (auto _ : state) {
    const std::string date = StorageDay(day);
    const std::string now = Timestamp::Now().ToStorage();
    const std::string fee = std::to_string((40 + day % 60) * 10000 + 5000);
    const char* values[] = {"1", date.c_str(), fee.c_str(), now.c_str()};
    PGresult* r = PQexecPrepared(conn, "save", 4, values, nullptr, nullptr, 0);
    if (PQresultStatus(r) != PGRES_COMMAND_OK) ++failures;
    PQclear(r);
    ++day;
  }
  PQfinish(conn);
  state.counters["failures"] = static_cast<double>(failures);
  state.counters["statements_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InProcessLibpq)->ArgName("sync")->Arg(1)->Arg(0)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
