// Helpers of the fee server tests: temporary databases, a server running in
// the test process, the control's form encoding and a readable dump of every
// table.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server.hpp"

extern char** environ;

namespace harnolfees::server::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "harnolfees-server-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The control's form encoding of a statement in Windows-1252: blank as "+",
// letters, digits and "*-._" as themselves, every other byte as "%XX".
inline std::string FormEncode(const std::string& bytes) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (c == ' ') {
      out += '+';
    } else if (std::isalnum(c) || c == '*' || c == '-' || c == '.' || c == '_') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// Every row of every table, sorted, as text: equal dumps mean an unchanged
// database.
inline std::string DumpDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open";
  }
  std::ostringstream out;
  std::vector<std::string> tables;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", -1,
                     &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) {
    tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  }
  sqlite3_finalize(st);
  for (const std::string& t : tables) {
    out << "[" << t << "]\n";
    const std::string sql = "SELECT * FROM \"" + t + "\" ORDER BY 1, 2, 3";
    sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    while (st && sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* v = sqlite3_column_text(st, c);
        out << (v ? reinterpret_cast<const char*>(v) : "NULL") << '|';
      }
      out << '\n';
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out.str();
}

// One column of one query, for checks of single values.
inline std::vector<std::string> Query(const std::string& path, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* v = sqlite3_column_text(st, c);
        if (c) row += '|';
        row += v ? reinterpret_cast<const char*>(v) : "NULL";
      }
      rows.push_back(row);
    }
  } else {
    rows.push_back(std::string("error: ") + sqlite3_errmsg(db));
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
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
  FeeServer& server() { return *server_; }
  std::unique_ptr<httplib::Client> Client() const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port_);
    c->set_read_timeout(30, 0);
    return c;
  }
  // Posts a statement text as the control does; the reply status and body.
  std::pair<int, std::string> Post(const std::string& statement,
                                   const httplib::Headers& headers = {}) const {
    auto c = Client();
    auto res = c->Post("/TermFeesAX.asp", headers, "SQL=" + FormEncode(statement),
                       "application/x-www-form-urlencoded");
    if (!res) return {0, "no reply"};
    return {res->status, res->body};
  }
  std::pair<int, std::string> Get(const std::string& target,
                                  const httplib::Headers& headers = {}) const {
    auto c = Client();
    auto res = c->Get(target.c_str(), headers);
    if (!res) return {0, "no reply"};
    return {res->status, res->body};
  }

 private:
  std::unique_ptr<FeeServer> server_;
  std::thread thread_;
  int port_ = 0;
};

// The built harnolfees-server as a child process.
class ServerProcess {
 public:
  ServerProcess(const std::vector<std::string>& args, const std::string& stderrFile) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    std::vector<std::string> all{HARNOLFEES_SERVER_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      throw std::runtime_error("cannot start " + all[0]);
    }
    // The first line names the port: "listening on 127.0.0.1:PORT".
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0) {
      char buf[256];
      const ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) {
      Kill();
      throw std::runtime_error("the server did not start: " + line);
    }
    port_ = std::stoi(line.substr(prefix.size()));
  }
  ~ServerProcess() { Kill(); }
  int port() const { return port_; }
  void Kill() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  // SIGTERM, and the exit status.
  int Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// Runs the driver on a script; its JSON Lines output.
inline std::string RunDriver(const std::string& scriptFile, const std::string& outFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> all{HARNOLFEES_DRIVER_PATH, "script", scriptFile};
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return "";
  waitpid(pid, nullptr, 0);
  std::ifstream in(outFile);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline ServerOptions OptionsFor(const std::string& db, std::vector<CenterOption> centers = {}) {
  ServerOptions o;
  o.database = db;
  o.centers = std::move(centers);
  o.log = nullptr;
  o.threads = 12;
  return o;
}

}  // namespace harnolfees::server::testing
