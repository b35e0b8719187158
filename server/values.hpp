// Value conversions of the fee page: the date texts the control writes, exact
// decimal numbers, money in ten-thousandths and the Windows-1252 code page.
//
// The page never uses binary floating point for a stored value: money is a
// 64-bit integer of ten-thousandths, percentages (sent as fractions) are kept
// as exact decimal text, and dates are kept in SQLite's canonical
// "yyyy-mm-dd hh:mm:ss" form so that text order is time order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace harnolfees::server {

// A point in time to the second. Years 1753 to 9999, the range of the fee
// database's date type.
class Timestamp {
 public:
  static std::optional<Timestamp> FromParts(int year, int month, int day, int hour = 0,
                                            int minute = 0, int second = 0);
  // The server's local time, used for GETDATE().
  static Timestamp Now();

  // Reads the forms the control writes: "mm/dd/yyyy", "m/d/yyyy", either with
  // a time "h:mm[:ss] AM/PM" or "hh:mm[:ss]", and ISO 8601 dates and
  // date-times ("yyyy-mm-dd", "yyyy-mm-ddThh:mm[:ss[.fff]]", blank or T).
  static std::optional<Timestamp> Parse(std::string_view text);
  // Reads the stored form "yyyy-mm-dd hh:mm:ss".
  static std::optional<Timestamp> FromStorage(std::string_view text) { return Parse(text); }

  std::optional<Timestamp> AddSeconds(std::int64_t seconds) const;

  std::string ToStorage() const;  // yyyy-mm-dd hh:mm:ss
  std::string ToIso() const;      // yyyy-mm-ddThh:mm:ss
  std::string ToIsoDate() const;  // yyyy-mm-dd

  std::int64_t SerialSeconds() const { return seconds_; }
  friend auto operator<=>(const Timestamp&, const Timestamp&) = default;

 private:
  explicit Timestamp(std::int64_t s) : seconds_(s) {}
  std::int64_t seconds_ = 0;  // seconds since 1970-01-01 00:00:00
};

// An exact decimal number: (-1)^negative * digits * 10^exponent.
struct Decimal {
  bool negative = false;
  std::string digits;  // no leading zeros; empty for zero
  int exponent = 0;

  // Reads digits, an optional fraction and an optional exponent ("12",
  // "0.0725", ".5", "1E+16", "1.5E-07"), with an optional leading sign.
  // nullopt for anything else, for more than 40 characters or an exponent
  // beyond +-60.
  static std::optional<Decimal> Parse(std::string_view text);

  bool IsZero() const { return digits.empty(); }
  // Plain decimal text without exponent or superfluous zeros: "0.0725", "12",
  // "-3.5", "0".
  std::string ToText() const;
  // The value in ten-thousandths, rounded half away from zero; nullopt outside
  // the money range (-922,337,203,685,477.5808 to 922,337,203,685,477.5807).
  std::optional<std::int64_t> ToMoneyUnits() const;
  // The value when it is a whole number within 64-bit range.
  std::optional<std::int64_t> ToInteger() const;
  // -1, 0 or 1 as the value compares with the whole number n (n >= 0).
  int CompareWith(std::int64_t n) const;
};

// Money units (ten-thousandths) as plain decimal text: 1205000 -> "120.5".
std::string MoneyUnitsToText(std::int64_t units);

// Windows-1252 bytes to UTF-8. nullopt when a byte has no character in the
// code page (0x81, 0x8D, 0x8F, 0x90, 0x9D).
std::optional<std::string> Windows1252ToUtf8(std::string_view bytes);

// Number of characters of a valid UTF-8 text.
std::size_t Utf8Length(std::string_view text);

}  // namespace harnolfees::server
