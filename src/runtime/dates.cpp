// Calendar dates: serial arithmetic, the date formats and the date reader.
#include <algorithm>
#include <cstdint>

#include "harnolfees/runtime.hpp"
#include "runtime/decimal_text.hpp"

namespace harnolfees {
namespace {

constexpr int kMinYear = 100;
constexpr int kMaxYear = 9999;
constexpr std::int32_t kSecondsPerDay = 86400;

struct Civil {
  int year;
  int month;
  int day;
};

// Proleptic Gregorian day counting on 400-year eras, valid far beyond the
// years the control accepts.
std::int32_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Civil CivilFromDays(std::int32_t days) {
  // 64-bit so that no serial, however far from the epoch, overflows.
  const std::int64_t z = static_cast<std::int64_t>(days) + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const auto d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const auto m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0)), m, d};
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

std::string Pad(int value, std::size_t width) {
  std::string digits = std::to_string(value < 0 ? -static_cast<std::int64_t>(value) : value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

}  // namespace

std::optional<DateTime> DateTime::TryFromParts(int year, int month, int day, int hour, int minute,
                                               int second) {
  if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59)
    return std::nullopt;
  return FromSerial(DaysFromCivil(year, month, day), hour * 3600 + minute * 60 + second);
}

int DateTime::DaysInMonth(int year, int month) {
  if (year < kMinYear || year > kMaxYear || month < 1 || month > 12) return 0;
  return harnolfees::DaysInMonth(year, month);
}

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second) {
  std::optional<DateTime> d = TryFromParts(year, month, day, hour, minute, second);
  if (!d) throw ControlError(errc::kInvalidProcedureCall, "Invalid procedure call or argument");
  return *d;
}

DateTime DateTime::FromSerial(std::int32_t days, std::int32_t seconds) {
  // Seconds outside one day carry into the day count.
  std::int64_t carry = seconds / kSecondsPerDay;
  std::int32_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --carry;
  }
  const std::int64_t total = static_cast<std::int64_t>(days) + carry;
  if (total < INT32_MIN || total > INT32_MAX) throw ControlError(errc::kOverflow, "Overflow");
  DateTime d;
  d.days_ = static_cast<std::int32_t>(total);
  d.seconds_ = rest;
  return d;
}

int DateTime::Year() const { return CivilFromDays(days_).year; }
int DateTime::Month() const { return CivilFromDays(days_).month; }
int DateTime::Day() const { return CivilFromDays(days_).day; }

DateTime DateTime::AddMonths(int months) const {
  const Civil c = CivilFromDays(days_);
  const std::int64_t total = static_cast<std::int64_t>(c.year) * 12 + (c.month - 1) + months;
  const std::int64_t year = total >= 0 ? total / 12 : (total - 11) / 12;
  const int month = static_cast<int>(total - year * 12) + 1;
  if (year < kMinYear || year > kMaxYear)
    throw ControlError(errc::kInvalidProcedureCall, "Invalid procedure call or argument");
  const int y = static_cast<int>(year);
  const int day = std::min(c.day, DaysInMonth(y, month));
  return FromSerial(DaysFromCivil(y, month, day), seconds_);
}

std::string FormatDateMmmDdYyyy(const DateTime& d, const RegionalSettings& rs) {
  // Every grid row shows a date or two: one calendar conversion, one string.
  const Civil c = CivilFromDays(d.DaySerial());
  const std::string& month = rs.monthAbbreviations[static_cast<std::size_t>(c.month - 1)];
  if (c.year < 0 || c.year > 9999) return month + " " + Pad(c.day, 2) + ", " + Pad(c.year, 4);
  std::string out;
  out.reserve(month.size() + 9);
  out += month;
  const char tail[] = {' ',
                       static_cast<char>('0' + c.day / 10),
                       static_cast<char>('0' + c.day % 10),
                       ',',
                       ' ',
                       static_cast<char>('0' + c.year / 1000),
                       static_cast<char>('0' + c.year / 100 % 10),
                       static_cast<char>('0' + c.year / 10 % 10),
                       static_cast<char>('0' + c.year % 10)};
  out.append(tail, sizeof tail);
  return out;
}

std::string FormatDateMmDdYyyy(const DateTime& d, const RegionalSettings& rs) {
  return Pad(d.Month(), 2) + rs.dateSeparator + Pad(d.Day(), 2) + rs.dateSeparator +
         Pad(d.Year(), 4);
}

std::string DateToText(const DateTime& d, const RegionalSettings& rs) {
  std::string out = std::to_string(d.Month()) + rs.dateSeparator + std::to_string(d.Day()) +
                    rs.dateSeparator + Pad(d.Year(), 4);
  if (d.HasTime()) {
    const int hour12 = d.Hour() % 12 == 0 ? 12 : d.Hour() % 12;
    out += " " + std::to_string(hour12) + ":" + Pad(d.Minute(), 2) + ":" + Pad(d.Second(), 2) +
           (d.Hour() < 12 ? " AM" : " PM");
  }
  return out;
}

std::string DateToIso(const DateTime& d) {
  return Pad(d.Year(), 4) + "-" + Pad(d.Month(), 2) + "-" + Pad(d.Day(), 2) + "T" +
         Pad(d.Hour(), 2) + ":" + Pad(d.Minute(), 2) + ":" + Pad(d.Second(), 2);
}

namespace {

// A cursor over a date text; every reader either consumes what it matched or
// reports failure, and the caller gives up on the whole text.
class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  bool Eat(char c) {
    if (Peek() != c || AtEnd()) return false;
    ++i_;
    return true;
  }
  bool SkipBlanks() {
    const std::size_t start = i_;
    while (!AtEnd() && detail::IsBlank(s_[i_])) ++i_;
    return i_ > start;
  }
  // Reads minDigits to maxDigits decimal digits.
  bool Number(int minDigits, int maxDigits, int& out, int* count = nullptr) {
    int n = 0;
    int value = 0;
    while (!AtEnd() && n < maxDigits && s_[i_] >= '0' && s_[i_] <= '9') {
      value = value * 10 + (s_[i_] - '0');
      ++i_;
      ++n;
    }
    if (n < minDigits) return false;
    if (!AtEnd() && s_[i_] >= '0' && s_[i_] <= '9') return false;  // too many digits
    out = value;
    if (count) *count = n;
    return true;
  }
  std::string Word() {
    std::string w;
    while (!AtEnd() && ((s_[i_] >= 'a' && s_[i_] <= 'z') || (s_[i_] >= 'A' && s_[i_] <= 'Z')))
      w += s_[i_++];
    return w;
  }
  std::size_t Position() const { return i_; }
  void Rewind(std::size_t p) { i_ = p; }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// h:mm[:ss] with an optional AM/PM marker, or 24-hour time without one.
std::optional<TimeOfDay> ReadTime(Reader& r) {
  TimeOfDay t;
  if (!r.Number(1, 2, t.hour) || !r.Eat(':') || !r.Number(2, 2, t.minute)) return std::nullopt;
  if (r.Eat(':') && !r.Number(2, 2, t.second)) return std::nullopt;
  r.SkipBlanks();
  const std::string marker = ToUpperAscii(r.Word());
  if (marker == "AM" || marker == "PM" || marker == "A" || marker == "P") {
    if (t.hour < 0 || t.hour > 12) return std::nullopt;
    if (t.hour == 12) t.hour = 0;
    if (marker[0] == 'P') t.hour += 12;
  } else if (!marker.empty()) {
    return std::nullopt;
  }
  return t;
}

// The date part may be followed by blanks and a time of day.
std::optional<DateTime> FinishWithOptionalTime(Reader& r, int y, int m, int d) {
  TimeOfDay t;
  if (r.SkipBlanks() && !r.AtEnd()) {
    std::optional<TimeOfDay> read = ReadTime(r);
    if (!read) return std::nullopt;
    t = *read;
  }
  if (!r.AtEnd()) return std::nullopt;
  return DateTime::TryFromParts(y, m, d, t.hour, t.minute, t.second);
}

std::optional<DateTime> ReadIso(std::string_view text) {
  Reader r(text);
  int y = 0, m = 0, d = 0;
  if (!r.Number(4, 4, y) || !r.Eat('-') || !r.Number(1, 2, m) || !r.Eat('-') || !r.Number(1, 2, d))
    return std::nullopt;
  TimeOfDay t;
  if (r.Eat('T') || r.Eat('t') || (r.Peek() == ' ' && r.Eat(' '))) {
    if (!r.Number(2, 2, t.hour) || !r.Eat(':') || !r.Number(2, 2, t.minute)) return std::nullopt;
    if (r.Eat(':')) {
      if (!r.Number(2, 2, t.second)) return std::nullopt;
      if (r.Eat('.')) {
        int fraction = 0;
        // Fractions of a second are below the resolution of a date; dropped.
        if (!r.Number(1, 9, fraction)) return std::nullopt;
      }
    }
    // The zone is ignored: the server's dates are wall-clock dates.
    if (!r.Eat('Z') && !r.Eat('z') && (r.Peek() == '+' || r.Peek() == '-')) {
      r.Eat(r.Peek());
      int zh = 0, zm = 0;
      if (!r.Number(2, 2, zh)) return std::nullopt;
      r.Eat(':');
      if (!r.Number(2, 2, zm) || zh > 23 || zm > 59) return std::nullopt;
    }
  }
  if (!r.AtEnd()) return std::nullopt;
  return DateTime::TryFromParts(y, m, d, t.hour, t.minute, t.second);
}

int WindowTwoDigitYear(int yy) { return yy < 30 ? 2000 + yy : 1900 + yy; }

std::optional<DateTime> ReadMonthDayYear(std::string_view text, const RegionalSettings& rs) {
  Reader r(text);
  int m = 0, d = 0, y = 0, yearDigits = 0;
  if (!r.Number(1, 2, m)) return std::nullopt;
  const char sep = r.Peek();
  if (sep != rs.dateSeparator && sep != '/' && sep != '-') return std::nullopt;
  r.Eat(sep);
  if (!r.Number(1, 2, d) || !r.Eat(sep) || !r.Number(2, 4, y, &yearDigits) || yearDigits == 3)
    return std::nullopt;
  if (yearDigits == 2) y = WindowTwoDigitYear(y);
  return FinishWithOptionalTime(r, y, m, d);
}

int MonthFromName(const std::string& word, const RegionalSettings& rs) {
  static const char* const kFullNames[] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                                           "MAY",       "JUNE",     "JULY",     "AUGUST",
                                           "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};
  const std::string upper = ToUpperAscii(word);
  for (int i = 0; i < 12; ++i) {
    if (upper == ToUpperAscii(rs.monthAbbreviations[static_cast<std::size_t>(i)]) ||
        upper == kFullNames[i])
      return i + 1;
  }
  return 0;
}

std::optional<DateTime> ReadMonthName(std::string_view text, const RegionalSettings& rs) {
  Reader r(text);
  const int m = MonthFromName(r.Word(), rs);
  if (m == 0) return std::nullopt;
  r.Eat('.');
  r.SkipBlanks();
  int d = 0, y = 0;
  if (!r.Number(1, 2, d)) return std::nullopt;
  r.Eat(',');
  r.SkipBlanks();
  if (!r.Number(4, 4, y)) return std::nullopt;
  return FinishWithOptionalTime(r, y, m, d);
}

}  // namespace

std::optional<DateTime> ParseDate(std::string_view text, const RegionalSettings& rs) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && detail::IsBlank(text[b])) ++b;
  while (e > b && detail::IsBlank(text[e - 1])) --e;
  const std::string_view core = text.substr(b, e - b);
  if (core.empty()) return std::nullopt;
  if (std::optional<DateTime> d = ReadIso(core)) return d;
  if (std::optional<DateTime> d = ReadMonthDayYear(core, rs)) return d;
  return ReadMonthName(core, rs);
}

DateTime TextToDate(std::string_view text, const RegionalSettings& rs) {
  std::optional<DateTime> d = ParseDate(text, rs);
  if (!d)
    throw ControlError(errc::kTypeMismatch,
                       "Type mismatch: '" + std::string(text) + "' is not a date");
  return *d;
}

}  // namespace harnolfees
