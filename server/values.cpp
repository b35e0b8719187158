#include "values.hpp"

#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <limits>

#include "harnolfees/encoding.hpp"

namespace harnolfees::server {
namespace {

constexpr int kMinYear = 1753;
constexpr int kMaxYear = 9999;

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
  int year, month, day;
};

Civil CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[static_cast<std::size_t>(m - 1)];
}

// A small cursor over the date text.
class Reader {
 public:
  explicit Reader(std::string_view t) : t_(t) {}
  bool AtEnd() const { return p_ == t_.size(); }
  char Peek() const { return AtEnd() ? '\0' : t_[p_]; }
  bool Eat(char c) {
    if (Peek() != c) return false;
    ++p_;
    return true;
  }
  // Reads min..max digits; fails when fewer are present.
  std::optional<int> Digits(std::size_t min, std::size_t max) {
    std::size_t n = 0;
    int v = 0;
    while (n < max && !AtEnd() && std::isdigit(static_cast<unsigned char>(t_[p_]))) {
      v = v * 10 + (t_[p_] - '0');
      ++p_;
      ++n;
    }
    if (n < min) return std::nullopt;
    return v;
  }
  void SkipDigits() {
    while (!AtEnd() && std::isdigit(static_cast<unsigned char>(t_[p_]))) ++p_;
  }
  void SkipBlanks() {
    while (Peek() == ' ') ++p_;
  }
  bool EatWordNoCase(std::string_view w) {
    if (t_.size() - p_ < w.size()) return false;
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(t_[p_ + i])) != w[i]) return false;
    }
    p_ += w.size();
    return true;
  }
  bool NextIsDigits(std::size_t n) const {
    if (t_.size() - p_ < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(t_[p_ + i]))) return false;
    }
    return true;
  }

 private:
  std::string_view t_;
  std::size_t p_ = 0;
};

std::string_view TrimBlanks(std::string_view t) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  return t;
}

// Compares the magnitudes of two decimals.
int CompareMagnitude(const Decimal& a, const Decimal& b) {
  if (a.digits.empty() || b.digits.empty()) {
    return a.digits.empty() ? (b.digits.empty() ? 0 : -1) : 1;
  }
  const auto ea = static_cast<long>(a.digits.size()) + a.exponent;
  const auto eb = static_cast<long>(b.digits.size()) + b.exponent;
  if (ea != eb) return ea < eb ? -1 : 1;
  const std::size_t n = std::max(a.digits.size(), b.digits.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char ca = i < a.digits.size() ? a.digits[i] : '0';
    const char cb = i < b.digits.size() ? b.digits[i] : '0';
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

// Accumulates decimal digits into an unsigned value bounded by limit.
bool Accumulate(std::uint64_t& value, int digit, std::uint64_t limit) {
  if (value > (limit - static_cast<std::uint64_t>(digit)) / 10) return false;
  value = value * 10 + static_cast<std::uint64_t>(digit);
  return true;
}

}  // namespace

std::optional<Timestamp> Timestamp::FromParts(int year, int month, int day, int hour, int minute,
                                              int second) {
  if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    return std::nullopt;
  }
  const std::int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return Timestamp(days * 86400 + hour * 3600 + minute * 60 + second);
}

Timestamp Timestamp::Now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  auto ts = FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                      tm.tm_sec > 59 ? 59 : tm.tm_sec);
  return ts ? *ts : Timestamp(0);
}

std::optional<Timestamp> Timestamp::Parse(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty() || text.size() > 40) return std::nullopt;
  Reader r(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (r.NextIsDigits(4) && text.size() > 4 && text[4] == '-') {
    // ISO 8601.
    year = *r.Digits(4, 4);
    r.Eat('-');
    auto m = r.Digits(1, 2);
    if (!m || !r.Eat('-')) return std::nullopt;
    auto d = r.Digits(1, 2);
    if (!d) return std::nullopt;
    month = *m;
    day = *d;
    if (!r.AtEnd()) {
      if (!r.Eat('T') && !r.Eat(' ')) return std::nullopt;
      auto h = r.Digits(1, 2);
      if (!h || !r.Eat(':')) return std::nullopt;
      auto mi = r.Digits(2, 2);
      if (!mi) return std::nullopt;
      hour = *h;
      minute = *mi;
      if (r.Eat(':')) {
        auto s = r.Digits(2, 2);
        if (!s) return std::nullopt;
        second = *s;
        if (r.Eat('.')) {
          if (!r.Digits(1, 9)) return std::nullopt;
          r.SkipDigits();
        }
      }
      if (!r.AtEnd()) return std::nullopt;
    }
  } else {
    // Month/day/year, the control's own date text.
    auto m = r.Digits(1, 2);
    if (!m || !r.Eat('/')) return std::nullopt;
    auto d = r.Digits(1, 2);
    if (!d || !r.Eat('/')) return std::nullopt;
    auto y = r.Digits(4, 4);
    if (!y) return std::nullopt;
    month = *m;
    day = *d;
    year = *y;
    if (!r.AtEnd()) {
      if (!r.Eat(' ')) return std::nullopt;
      r.SkipBlanks();
      auto h = r.Digits(1, 2);
      if (!h || !r.Eat(':')) return std::nullopt;
      auto mi = r.Digits(2, 2);
      if (!mi) return std::nullopt;
      hour = *h;
      minute = *mi;
      if (r.Eat(':')) {
        auto s = r.Digits(2, 2);
        if (!s) return std::nullopt;
        second = *s;
      }
      r.SkipBlanks();
      if (!r.AtEnd()) {
        const bool pm = r.EatWordNoCase("PM");
        if (!pm && !r.EatWordNoCase("AM")) return std::nullopt;
        if (!r.AtEnd() || hour < 1 || hour > 12) return std::nullopt;
        hour = hour % 12 + (pm ? 12 : 0);
      }
    }
  }
  return FromParts(year, month, day, hour, minute, second);
}

std::optional<Timestamp> Timestamp::AddSeconds(std::int64_t seconds) const {
  constexpr std::int64_t kLimit = std::int64_t{1} << 40;
  if (seconds > kLimit || seconds < -kLimit) return std::nullopt;
  Timestamp t(seconds_ + seconds);
  const Civil c =
      CivilFromDays(t.seconds_ >= 0 ? t.seconds_ / 86400 : (t.seconds_ - 86399) / 86400);
  if (c.year < kMinYear || c.year > kMaxYear) return std::nullopt;
  return t;
}

std::string Timestamp::ToStorage() const {
  std::int64_t days = seconds_ >= 0 ? seconds_ / 86400 : (seconds_ - 86399) / 86400;
  const auto sod = static_cast<int>(seconds_ - days * 86400);
  const Civil c = CivilFromDays(days);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day,
                sod / 3600, (sod / 60) % 60, sod % 60);
  return buf;
}

std::string Timestamp::ToIso() const {
  std::string s = ToStorage();
  s[10] = 'T';
  return s;
}

std::string Timestamp::ToIsoDate() const { return ToStorage().substr(0, 10); }

std::optional<Decimal> Decimal::Parse(std::string_view text) {
  if (text.empty() || text.size() > 40) return std::nullopt;
  Decimal d;
  std::size_t p = 0;
  if (text[p] == '+' || text[p] == '-') {
    d.negative = text[p] == '-';
    ++p;
  }
  std::string intPart, fracPart;
  while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) intPart += text[p++];
  if (p < text.size() && text[p] == '.') {
    ++p;
    while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p])))
      fracPart += text[p++];
  }
  if (intPart.empty() && fracPart.empty()) return std::nullopt;
  int exp = 0;
  if (p < text.size() && (text[p] == 'e' || text[p] == 'E')) {
    ++p;
    bool expNeg = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
      expNeg = text[p] == '-';
      ++p;
    }
    std::size_t n = 0;
    while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) {
      if (++n > 3) return std::nullopt;
      exp = exp * 10 + (text[p++] - '0');
    }
    if (n == 0) return std::nullopt;
    if (expNeg) exp = -exp;
  }
  if (p != text.size()) return std::nullopt;
  d.digits = intPart + fracPart;
  d.exponent = exp - static_cast<int>(fracPart.size());
  const auto first = d.digits.find_first_not_of('0');
  if (first == std::string::npos) {
    return Decimal{};
  }
  d.digits.erase(0, first);
  while (d.digits.back() == '0') {
    d.digits.pop_back();
    ++d.exponent;
  }
  const long magnitude = static_cast<long>(d.digits.size()) + d.exponent;
  if (magnitude > 60 || magnitude < -60) return std::nullopt;
  return d;
}

std::string Decimal::ToText() const {
  if (digits.empty()) return "0";
  std::string out = negative ? "-" : "";
  if (exponent >= 0) {
    out += digits;
    out.append(static_cast<std::size_t>(exponent), '0');
    return out;
  }
  const long pointAt = static_cast<long>(digits.size()) + exponent;
  if (pointAt <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-pointAt), '0');
    out += digits;
  } else {
    out += digits.substr(0, static_cast<std::size_t>(pointAt));
    out += '.';
    out += digits.substr(static_cast<std::size_t>(pointAt));
  }
  return out;
}

std::optional<std::int64_t> Decimal::ToMoneyUnits() const {
  if (digits.empty()) return 0;
  const std::uint64_t limit =
      negative ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
               : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const long shift = static_cast<long>(exponent) + 4;
  std::uint64_t v = 0;
  if (shift >= 0) {
    if (static_cast<long>(digits.size()) + shift > 19) return std::nullopt;
    for (char c : digits) {
      if (!Accumulate(v, c - '0', limit)) return std::nullopt;
    }
    for (long i = 0; i < shift; ++i) {
      if (!Accumulate(v, 0, limit)) return std::nullopt;
    }
  } else {
    const long keep = static_cast<long>(digits.size()) + shift;
    char roundDigit = '0';
    if (keep >= 0) {
      for (long i = 0; i < keep; ++i) {
        if (!Accumulate(v, digits[static_cast<std::size_t>(i)] - '0', limit)) return std::nullopt;
      }
      roundDigit = digits[static_cast<std::size_t>(keep)];
    }
    if (roundDigit >= '5') {
      if (v == limit) return std::nullopt;
      ++v;
    }
  }
  if (negative) {
    return v == limit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(v);
  }
  return static_cast<std::int64_t>(v);
}

std::optional<std::int64_t> Decimal::ToInteger() const {
  if (digits.empty()) return 0;
  if (exponent < 0 || static_cast<long>(digits.size()) + exponent > 19) return std::nullopt;
  const std::uint64_t limit =
      negative ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
               : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t v = 0;
  for (char c : digits) {
    if (!Accumulate(v, c - '0', limit)) return std::nullopt;
  }
  for (int i = 0; i < exponent; ++i) {
    if (!Accumulate(v, 0, limit)) return std::nullopt;
  }
  if (negative) {
    return v == limit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(v);
  }
  return static_cast<std::int64_t>(v);
}

int Decimal::CompareWith(std::int64_t n) const {
  if (negative && !digits.empty()) return -1;
  const auto other = Decimal::Parse(std::to_string(n));
  return CompareMagnitude(*this, *other);
}

std::string MoneyUnitsToText(std::int64_t units) {
  const bool neg = units < 0;
  std::uint64_t mag =
      neg ? static_cast<std::uint64_t>(-(units + 1)) + 1 : static_cast<std::uint64_t>(units);
  // Written backwards: four decimals (trailing zeros dropped), then the units.
  char buf[32];
  char* p = buf + sizeof buf;
  std::uint64_t frac = mag % 10000;
  mag /= 10000;
  if (frac != 0) {
    int digits = 4;
    while (frac % 10 == 0) {
      frac /= 10;
      --digits;
    }
    for (int i = 0; i < digits; ++i) {
      *--p = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    *--p = '.';
  }
  do {
    *--p = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  if (neg) *--p = '-';
  return std::string(p, static_cast<std::size_t>(buf + sizeof buf - p));
}

std::optional<std::string> Windows1252ToUtf8(std::string_view bytes) {
  for (const char c : bytes) {
    if (!harnolfees::Windows1252CodePoint(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return harnolfees::Windows1252ToUtf8(bytes);
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

}  // namespace harnolfees::server
