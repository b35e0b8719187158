// Who may use the page: the users file given with --users.
//
// One user per line, fields separated by colons:
//
//   name:pbkdf2-sha256:ITERATIONS:SALT:HASH:READ:WRITE
//
// SALT and HASH are hexadecimal; HASH is PBKDF2-HMAC-SHA256 of the password
// with that salt and iteration count (32 bytes). READ and WRITE list the
// centers the user may load and change: "*" for every center, numbers
// separated by commas, or nothing. A center the user may write is also one it
// may read. Blank lines and lines starting with "#" are ignored.
// `harnolfees-server --hash-password NAME READ WRITE` prints such a line for a
// password read from standard input.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace harnolfees::server {

struct CenterSet {
  bool all = false;
  std::set<std::int64_t> ids;
  bool Contains(std::int64_t center) const { return all || ids.count(center) != 0; }
};

struct User {
  std::string name;
  int iterations = 0;
  std::string salt;  // raw bytes
  std::string hash;  // raw bytes
  CenterSet read;
  CenterSet write;
  bool MayRead(std::int64_t center) const { return read.Contains(center) || MayWrite(center); }
  bool MayWrite(std::int64_t center) const { return write.Contains(center); }
};

class UserDirectory {
 public:
  // Throws std::runtime_error naming the file and line of a malformed entry.
  static std::unique_ptr<UserDirectory> Load(const std::string& path);
  static std::unique_ptr<UserDirectory> Parse(std::string_view text, const std::string& origin);

  // The user of an HTTP Basic "Authorization" header, or nullptr when the
  // header is missing, malformed or names a wrong password. Thread safe;
  // verified headers are remembered so that the slow hash runs once.
  const User* Authenticate(std::string_view authorization);

  // A users-file line for the password, with a fresh random salt.
  static std::string MakeEntry(const std::string& name, const std::string& password,
                               const std::string& read, const std::string& write,
                               int iterations = 100000);

  std::size_t size() const { return users_.size(); }
  // Password hashes computed so far: one for every check of a name and
  // password that was not remembered, known name or not.
  std::uint64_t hashesComputed() const { return hashes_.load(); }

 private:
  std::vector<User> users_;
  User stranger_;  // stands in for names nobody has
  std::atomic<std::uint64_t> hashes_{0};
  std::mutex cacheMutex_;
  std::unordered_map<std::string, const User*> verified_;
};

// Failed logins per client address: beyond `limit` in one minute the address
// is refused for `pause`, without its credentials being checked.
class LoginBrake {
 public:
  using Clock = std::chrono::steady_clock;
  LoginBrake(int limit, Clock::duration pause) : limit_(limit), pause_(pause) {}

  // Whether requests from the address are refused now.
  bool Refuses(const std::string& address, Clock::time_point now);
  // Counts a failed login; true when it puts the brake on.
  bool Failed(const std::string& address, Clock::time_point now);

 private:
  static constexpr Clock::duration kMinute = std::chrono::minutes(1);
  static constexpr std::size_t kMaxAddresses = 65536;
  struct Record {
    Clock::time_point minuteStart{};
    int failures = 0;
    Clock::time_point brakedUntil{};
  };
  const int limit_;
  const Clock::duration pause_;
  std::mutex mutex_;
  std::unordered_map<std::string, Record> addresses_;
};

}  // namespace harnolfees::server
