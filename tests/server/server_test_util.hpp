// Helpers of the fee server tests: temporary databases, a server running in
// the test process, the control's form encoding and a readable dump of every
// table.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "harnolfees/encoding.hpp"
#include "server.hpp"
#include "support/pg_cluster.hpp"
#include "support/server_process.hpp"
#include "support/temp_dir.hpp"
#include "values.hpp"

namespace harnolfees::server::testing {

using harnolfees::testing::TempDir;

// The control's form encoding of a statement: its text in Windows-1252, byte
// by byte.
inline std::string FormEncode(const std::string& text) {
  return harnolfees::FormEncode(text).value();
}

// The rows of a statement, columns joined by "|", NULL as "NULL"; an error as
// one row "error: ...".
inline std::vector<std::string> Query(const std::string& path, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  while (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      const auto* v = sqlite3_column_text(st, c);
      row += (c ? "|" : "") + std::string(v ? reinterpret_cast<const char*>(v) : "NULL");
    }
    rows.push_back(row);
    rc = SQLITE_OK;
  }
  if (rc != SQLITE_DONE) rows.push_back(std::string("error: ") + sqlite3_errmsg(db));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

// The database backends the server tests run on.
enum class Backend { SQLite, PostgreSQL };

inline void PrintTo(Backend backend, std::ostream* os) {
  *os << (backend == Backend::SQLite ? "SQLite" : "PostgreSQL");
}
inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return ::testing::PrintToString(info.param);
}

inline auto AllBackends() { return ::testing::Values(Backend::SQLite, Backend::PostgreSQL); }

// A new, empty fee database of one backend for one test: a file in a
// temporary folder, or a database of its own in the shared PostgreSQL
// cluster.
class TestDatabase {
 public:
  explicit TestDatabase(Backend backend) : backend_(backend) {
    if (backend == Backend::SQLite) {
      target_ = dir_.File("fees.db");
    } else {
      auto& cluster = harnolfees::testing::PgCluster::Shared();
      name_ = cluster.NewDatabase();
      target_ = cluster.Uri(name_);
    }
  }
  // A PostgreSQL database stays until its cluster goes: dropping one costs
  // the cluster a checkpoint.
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // What --db takes.
  const std::string& target() const { return target_; }
  const TempDir& dir() const { return dir_; }

  // The rows of a query, columns joined by "|", NULL as "NULL"; dates as
  // "yyyy-mm-dd hh:mm:ss" on both backends.
  std::vector<std::string> Query(const std::string& sql) const {
    if (backend_ == Backend::SQLite) return testing::Query(target_, sql);
    return harnolfees::testing::PgCluster::Shared().Query(name_, sql);
  }
  // Runs a statement that changes the database; fails the test on an error.
  void Exec(const std::string& sql) const {
    const auto rows = Query(sql);
    EXPECT_TRUE(rows.empty()) << sql << ": " << (rows.empty() ? "" : rows.front());
  }
  // Every row of every table, sorted: equal dumps mean an unchanged database.
  std::string Dump() const {
    const bool lite = backend_ == Backend::SQLite;
    std::string out;
    for (const std::string& table :
         Query(lite ? "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"
                    : "SELECT table_name FROM information_schema.tables WHERE table_schema = "
                      "'public' ORDER BY 1")) {
      out += "[" + table + "]\n";
      for (const std::string& row :
           Query(lite ? "SELECT * FROM \"" + table + "\" ORDER BY 1, 2, 3"
                      : "SELECT * FROM " + table + " AS t ORDER BY t::text")) {
        out += row + "\n";
      }
    }
    return out;
  }

 private:
  Backend backend_;
  TempDir dir_;
  std::string target_;
  std::string name_;  // PostgreSQL: the database's name
};

// A client of the page on 127.0.0.1:port, a statement text posted to it as
// the control does, and a GET: the reply status and body, or 0 when there was
// no reply.
inline std::unique_ptr<httplib::Client> LocalClient(int port) {
  auto c = std::make_unique<httplib::Client>("127.0.0.1", port);
  c->set_read_timeout(30, 0);
  return c;
}
inline std::pair<int, std::string> Reply(const httplib::Result& res) {
  return res ? std::make_pair(res->status, res->body) : std::make_pair(0, std::string("no reply"));
}
inline std::pair<int, std::string> PostTo(int port, const std::string& statement,
                                          const httplib::Headers& headers = {}) {
  return Reply(LocalClient(port)->Post("/TermFeesAX.asp", headers, "SQL=" + FormEncode(statement),
                                       "application/x-www-form-urlencoded"));
}
inline std::pair<int, std::string> GetFrom(int port, const std::string& target,
                                           const httplib::Headers& headers = {}) {
  return Reply(LocalClient(port)->Get(target.c_str(), headers));
}

// Day n counted from 1 January 1800 as the control writes it (mm/dd/yyyy),
// and the control's INSERT of a renewal option fee effective that day.
inline std::string DayText(int n) {
  const std::string s =
      Timestamp::FromParts(1800, 1, 1)->AddSeconds(std::int64_t{n} * 86400)->ToStorage();
  return s.substr(5, 2) + "/" + s.substr(8, 2) + "/" + s.substr(0, 4);
}
inline std::string InsertRenewalOption(int center, int day) {
  return " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
         "RecordLastUpdated)  VALUES (" +
         std::to_string(center) + ", '" + DayText(day) + "', " + std::to_string(day % 997) +
         ".25,  GETDATE()) ";
}
// The control's text that adds a renewal fee: it expires the record in force
// of the access level and travel flag a second before the new one begins.
inline std::string AddRenewalFee(int center, const std::string& date, int level, int travel,
                                 const std::string& fee, const std::string& portion = "0.5") {
  const std::string c = std::to_string(center), l = std::to_string(level),
                    t = std::to_string(travel);
  return " UPDATE MembershipRenewalFee SET ExpirationDate = DATEADD(ss, -1, '" + date +
         "') WHERE CenterID = " + c + " AND MEmberAccessLevelID = " + l +
         " AND TravelMembership = " + t +
         " AND ExpirationDate IS NULL\r\n INSERT INTO MembershipRenewalFee ( CenterID, "
         "EffectivityDate, MembershipRenewalFee, CenterPortion, MemberAccessLevelID, "
         "TravelMembership, RecordLastUpdated)  VALUES (" +
         c + ", '" + date + "', " + fee + ", " + portion + "," + l + "," + t + ",  GETDATE()) ";
}
// The control's text that puts the latest expired renewal fee of access
// level 3 of `center` back in force when `other` has none in force.
inline std::string ReopenRenewalFee(int center, int other) {
  const std::string c = std::to_string(center);
  return "UPDATE dbo.MembershipRenewalFee SET ExpirationDate = NULL WHERE CenterID = " + c +
         " AND ExpirationDate IS NOT NULL AND MemberAccessLevelID = 3 AND MemberAccessLevelID NOT "
         "IN (SELECT MemberAccessLevelID FROM dbo.MembershipRenewalFee WHERE CenterID = " +
         std::to_string(other) +
         " and ISNULL(ExpirationDate, '2099-01-01') > GETDATE() AND MemberAccessLevelID = 3 ) AND "
         "dbo.MembershipRenewalFee.ExpirationDate = (SELECT MAX(ExpirationDate) FROM "
         "dbo.MembershipRenewalFee WHERE CenterID = " +
         c + " AND ExpirationDate IS NOT NULL AND MemberAccessLevelID = 3)";
}
// How many of the days have no record in the load document.
inline std::size_t MissingDays(const std::string& document, const std::set<int>& days) {
  std::size_t missing = 0;
  for (int day : days) {
    const std::string iso = Timestamp::Parse(DayText(day))->ToIso();
    if (document.find("<Effectivity>" + iso + "</Effectivity>") == std::string::npos) ++missing;
  }
  return missing;
}

// Four clients post saves of days of their own to center 1 of the server on
// `port`; `fault` runs once `before` of them were confirmed, and each client
// stops after `failuresEach` saves failed after it (each with `failStatus`: 0
// when there was no reply, otherwise with "failed: "). At most 30 s. The
// confirmed days.
inline std::set<int> StreamOfSaves(int port, std::size_t before, const std::function<void()>& fault,
                                   int failStatus, int failuresEach) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  std::set<int> confirmed;
  std::mutex m;
  std::atomic<bool> faulted{false};
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&, t] {
      int failures = 0;
      for (int day = t * 5000; day < t * 5000 + 5000 && failures < failuresEach; ++day) {
        if (Clock::now() > deadline) break;
        auto [status, body] = PostTo(port, InsertRenewalOption(1, day));
        std::lock_guard lock(m);
        if (status == 200 && body.empty()) {
          confirmed.insert(day);
        } else {
          EXPECT_EQ(status, failStatus) << body;
          EXPECT_EQ(body.rfind(failStatus ? "failed: " : "no reply", 0), 0u) << body;
          if (faulted) ++failures;
        }
      }
      EXPECT_EQ(failures, failuresEach) << "the fault did not strike client " << t;
    });
  }
  for (; Clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    std::lock_guard lock(m);
    if (confirmed.size() >= before) break;
  }
  fault();
  faulted = true;
  for (auto& c : clients) c.join();
  return confirmed;
}

// A fee server in the test process, on a free loopback port.
class RunningServer {
 public:
  explicit RunningServer(ServerOptions options) {
    options.host = "127.0.0.1";
    options.port = 0;
    server_ = std::make_unique<FeeServer>(std::move(options));
    port_ = server_->Bind();
    thread_ = std::thread([this] { server_->Serve(); });
  }
  ~RunningServer() {
    server_->Stop();
    thread_.join();
  }
  int port() const { return port_; }
  std::unique_ptr<httplib::Client> Client() const { return LocalClient(port_); }
  // Posts a statement text as the control does; the reply status and body.
  std::pair<int, std::string> Post(const std::string& statement,
                                   const httplib::Headers& headers = {}) const {
    return PostTo(port_, statement, headers);
  }
  std::pair<int, std::string> Get(const std::string& target,
                                  const httplib::Headers& headers = {}) const {
    return GetFrom(port_, target, headers);
  }

 private:
  std::unique_ptr<FeeServer> server_;
  std::thread thread_;
  int port_ = 0;
};

using harnolfees::testing::ServerProcess;

inline ServerOptions OptionsFor(const std::string& db, std::vector<CenterOption> centers = {}) {
  ServerOptions o;
  o.database = db;
  o.centers = std::move(centers);
  o.log = nullptr;
  o.threads = 12;
  return o;
}

}  // namespace harnolfees::server::testing
