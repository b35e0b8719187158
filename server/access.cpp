#include "access.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace harnolfees::server {
namespace {

constexpr int kHashBytes = 32;
constexpr std::size_t kMaxRemembered = 4096;

std::vector<std::string> Split(std::string_view s, char sep) {
  std::vector<std::string> out;
  std::size_t b = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == sep) {
      out.emplace_back(s.substr(b, i - b));
      b = i + 1;
    }
  }
  return out;
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool FromHex(std::string_view hex, std::string& out) {
  if (hex.size() % 2 != 0) return false;
  out.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int v = 0;
    for (int k = 0; k < 2; ++k) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(hex[i + k])));
      int d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else {
        return false;
      }
      v = v * 16 + d;
    }
    out += static_cast<char>(v);
  }
  return true;
}

bool ParseCenters(std::string_view text, CenterSet& set) {
  if (text == "*") {
    set.all = true;
    return true;
  }
  if (text.empty()) return true;
  for (const std::string& part : Split(text, ',')) {
    if (part.empty() || part.size() > 10) return false;
    std::int64_t v = 0;
    for (char c : part) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
      v = v * 10 + (c - '0');
    }
    set.ids.insert(v);
  }
  return true;
}

std::string Pbkdf2(std::string_view password, std::string_view salt, int iterations) {
  std::string out(kHashBytes, '\0');
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(salt.data()),
                        static_cast<int>(salt.size()), iterations, EVP_sha256(), kHashBytes,
                        reinterpret_cast<unsigned char*>(out.data())) != 1) {
    throw std::runtime_error("PBKDF2 failed");
  }
  return out;
}

std::string Sha256(std::string_view data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(data.data(), data.size(), md, &len, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(md), len);
}

std::optional<std::string> Base64Decode(std::string_view in) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  // Standard base64 with its padding, nothing else.
  if (in.empty() || in.size() % 4 != 0) return std::nullopt;
  std::string out;
  int buffer = 0, bits = 0;
  std::size_t i = 0;
  for (; i < in.size() && in[i] != '='; ++i) {
    const int v = value(in[i]);
    if (v < 0) return std::nullopt;
    buffer = (buffer << 6) | v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  const std::size_t padding = in.size() - i;
  if (padding > 2) return std::nullopt;
  for (; i < in.size(); ++i) {
    if (in[i] != '=') return std::nullopt;
  }
  return out;
}

}  // namespace

std::unique_ptr<UserDirectory> UserDirectory::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the users file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str(), path);
}

std::unique_ptr<UserDirectory> UserDirectory::Parse(std::string_view text,
                                                    const std::string& origin) {
  auto dir = std::make_unique<UserDirectory>();
  int lineNo = 0;
  for (std::string line : Split(text, '\n')) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto fields = Split(line, ':');
    auto bad = [&](const std::string& why) {
      return std::runtime_error(origin + " line " + std::to_string(lineNo) + ": " + why);
    };
    if (fields.size() != 7)
      throw bad("expected name:pbkdf2-sha256:ITERATIONS:SALT:HASH:READ:WRITE");
    User u;
    u.name = fields[0];
    if (u.name.empty()) throw bad("empty user name");
    if (fields[1] != "pbkdf2-sha256") throw bad("unknown hash scheme " + fields[1]);
    try {
      u.iterations = std::stoi(fields[2]);
    } catch (...) {
      throw bad("bad iteration count");
    }
    if (u.iterations < 1000) throw bad("iteration count below 1000");
    if (!FromHex(fields[3], u.salt) || u.salt.size() < 8) throw bad("bad salt");
    if (!FromHex(fields[4], u.hash) || u.hash.size() != kHashBytes) throw bad("bad hash");
    if (!ParseCenters(fields[5], u.read)) throw bad("bad list of centers to read");
    if (!ParseCenters(fields[6], u.write)) throw bad("bad list of centers to write");
    for (const User& other : dir->users_) {
      if (other.name == u.name) throw bad("user " + u.name + " appears twice");
    }
    dir->users_.push_back(std::move(u));
  }
  // A name nobody has costs the hash of the dearest user, so that the time
  // of a refusal does not tell which names exist.
  dir->stranger_.iterations = 1000;
  for (const User& u : dir->users_) {
    dir->stranger_.iterations = std::max(dir->stranger_.iterations, u.iterations);
  }
  dir->stranger_.salt = std::string(16, '\x5a');
  return dir;
}

const User* UserDirectory::Authenticate(std::string_view authorization) {
  constexpr std::string_view kBasic = "Basic ";
  if (authorization.size() <= kBasic.size() || authorization.size() > 1024) return nullptr;
  for (std::size_t i = 0; i < kBasic.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(authorization[i])) !=
        std::tolower(static_cast<unsigned char>(kBasic[i]))) {
      return nullptr;
    }
  }
  const std::string key = Sha256(authorization);
  {
    std::lock_guard lock(cacheMutex_);
    auto it = verified_.find(key);
    if (it != verified_.end()) return it->second;
  }
  auto decoded = Base64Decode(authorization.substr(kBasic.size()));
  if (!decoded) return nullptr;
  const auto colon = decoded->find(':');
  if (colon == std::string::npos) return nullptr;
  const std::string name = decoded->substr(0, colon);
  const std::string password = decoded->substr(colon + 1);
  const User* user = &stranger_;
  for (const User& u : users_) {
    if (u.name == name) user = &u;
  }
  const std::string hash = Pbkdf2(password, user->salt, user->iterations);
  hashes_.fetch_add(1, std::memory_order_relaxed);
  if (user == &stranger_ || CRYPTO_memcmp(hash.data(), user->hash.data(), kHashBytes) != 0) {
    return nullptr;
  }
  std::lock_guard lock(cacheMutex_);
  if (verified_.size() >= kMaxRemembered) verified_.clear();
  verified_.emplace(key, user);
  return user;
}

bool LoginBrake::Refuses(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = addresses_.find(address);
  return it != addresses_.end() && now < it->second.brakedUntil;
}

bool LoginBrake::Failed(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  if (addresses_.size() >= kMaxAddresses) {
    // Forget the addresses that are neither braked nor within their minute.
    for (auto it = addresses_.begin(); it != addresses_.end();) {
      const bool quiet = now >= it->second.brakedUntil && now - it->second.minuteStart >= kMinute;
      it = quiet ? addresses_.erase(it) : std::next(it);
    }
  }
  Record& r = addresses_[address];
  if (now - r.minuteStart >= kMinute) {
    r.minuteStart = now;
    r.failures = 0;
  }
  if (++r.failures <= limit_ || now < r.brakedUntil) return false;
  r.brakedUntil = now + pause_;
  r.failures = 0;
  r.minuteStart = now;
  return true;
}

std::string UserDirectory::MakeEntry(const std::string& name, const std::string& password,
                                     const std::string& read, const std::string& write,
                                     int iterations) {
  std::string salt(16, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), 16) != 1) {
    throw std::runtime_error("no random bytes for the salt");
  }
  CenterSet check;
  if (name.empty() || name.find(':') != std::string::npos) {
    throw std::runtime_error("a user name must not be empty or hold a colon");
  }
  if (!ParseCenters(read, check) || !ParseCenters(write, check)) {
    throw std::runtime_error("centers are \"*\" or numbers separated by commas");
  }
  return name + ":pbkdf2-sha256:" + std::to_string(iterations) + ":" + ToHex(salt) + ":" +
         ToHex(Pbkdf2(password, salt, iterations)) + ":" + read + ":" + write;
}

}  // namespace harnolfees::server
