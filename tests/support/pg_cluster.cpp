#include "support/pg_cluster.hpp"

#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include "support/run_program.hpp"

namespace harnolfees::testing {
namespace {

namespace fs = std::filesystem;

// The folder of initdb and pg_ctl: Debian keeps them per major version.
// Never destroyed: the shared cluster, a static made earlier, stops itself
// with pg_ctl at exit, after later statics are gone.
std::string ToolDir() {
  static const std::string* const dir = new std::string([] {
    std::string best;
    int bestVersion = -1;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
      const std::string name = entry.path().filename().string();
      const int version = std::atoi(name.c_str());
      if (version > bestVersion && fs::exists(entry.path() / "bin" / "pg_ctl")) {
        bestVersion = version;
        best = (entry.path() / "bin").string();
      }
    }
    if (best.empty()) {
      throw std::runtime_error(
          "PostgreSQL is not installed: no /usr/lib/postgresql/*/bin/pg_ctl (Debian package "
          "postgresql)");
    }
    return best;
  }());
  return *dir;
}

bool IsRoot() { return geteuid() == 0; }

}  // namespace

void PgCluster::Run(const std::string& tool, const std::vector<std::string>& args) const {
  std::vector<std::string> all;
  std::string program = ToolDir() + "/" + tool;
  if (IsRoot()) {
    all = {"-u", "nobody", "--", program};
    program = fs::exists("/usr/sbin/runuser") ? "/usr/sbin/runuser" : "/sbin/runuser";
  }
  all.insert(all.end(), args.begin(), args.end());
  const ProgramRun run = RunProgram(program, all, "", std::chrono::seconds(120));
  if (run.status != 0) {
    throw std::runtime_error(tool + " failed (" + std::to_string(run.status) + "): " + run.out +
                             run.err);
  }
}

std::unique_ptr<PgCluster> PgCluster::Create() {
  std::string pattern = (fs::temp_directory_path() / "harnolfees-pg-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  std::unique_ptr<PgCluster> cluster(new PgCluster(pattern, true));
  if (IsRoot()) {
    const passwd* nobody = getpwnam("nobody");
    if (!nobody || chown(pattern.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
      throw std::runtime_error("cannot hand " + pattern + " to the user nobody");
    }
  }
  cluster->Run("initdb", {"-D", pattern + "/data", "-U", "postgres", "--auth=trust", "-E", "UTF8",
                          "--locale=C", "-N"});
  cluster->Start();
  return cluster;
}

std::unique_ptr<PgCluster> PgCluster::Attach(const std::string& dir) {
  return std::unique_ptr<PgCluster>(new PgCluster(dir, false));
}

PgCluster& PgCluster::Shared() {
  static std::unique_ptr<PgCluster> shared;
  static std::once_flag once;
  std::call_once(once, [] {
    if (const char* file = std::getenv("HARNOLFEES_TEST_PG_FILE")) {
      std::ifstream in(file);
      std::string dir;
      if (std::getline(in, dir) && fs::exists(dir + "/data/postmaster.pid")) {
        shared = Attach(dir);
        return;
      }
    }
    shared = Create();
  });
  return *shared;
}

PgCluster::~PgCluster() {
  if (!owned_) return;
  try {
    Destroy();
  } catch (...) {
    // A cluster that cannot be removed leaves only a temporary folder; a
    // destructor may not throw.
  }
}

void PgCluster::Destroy() {
  try {
    StopImmediately();
  } catch (...) {
    // Already stopped.
  }
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string PgCluster::Uri(const std::string& database) const {
  return "postgresql://postgres@/" + database + "?host=" + dir_;
}

std::string PgCluster::NewDatabase() {
  static std::atomic<int> counter{0};
  const std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  const auto result = Query("postgres", "CREATE DATABASE " + name);
  if (!result.empty()) throw std::runtime_error("cannot create a database: " + result.front());
  return name;
}

std::vector<std::string> PgCluster::Query(const std::string& database,
                                          const std::string& sql) const {
  std::vector<std::string> rows;
  PGconn* conn = PQconnectdb(Uri(database).c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    rows.push_back(std::string("error: ") + PQerrorMessage(conn));
    PQfinish(conn);
    return rows;
  }
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  PQclear(PQexec(conn, "SET DateStyle = ISO, YMD"));
  PGresult* r = PQexec(conn, sql.c_str());
  const ExecStatusType status = PQresultStatus(r);
  if (status == PGRES_TUPLES_OK) {
    for (int i = 0; i < PQntuples(r); ++i) {
      std::string row;
      for (int c = 0; c < PQnfields(r); ++c) {
        row += (c ? "|" : "") + std::string(PQgetisnull(r, i, c) ? "NULL" : PQgetvalue(r, i, c));
      }
      rows.push_back(row);
    }
  } else if (status != PGRES_COMMAND_OK) {
    rows.push_back(std::string("error: ") + PQresultErrorMessage(r));
  }
  PQclear(r);
  PQfinish(conn);
  return rows;
}

void PgCluster::Start() {
  Run("pg_ctl",
      {"-D", dir_ + "/data", "-l", dir_ + "/log", "-w", "-t", "60", "-o",
       // A start after an immediate stop syncs the data folder first: syncfs
       // does that in one call instead of a file at a time.
       "-k " + dir_ + " -c listen_addresses='' -c recovery_init_sync_method=syncfs", "start"});
}

void PgCluster::StopImmediately() {
  Run("pg_ctl", {"-D", dir_ + "/data", "-m", "immediate", "-w", "stop"});
}

}  // namespace harnolfees::testing
