// Host-runtime conversions: numbers, money, dates and regional settings.
//
// Every number, money and date conversion the control makes goes through this
// header, so that the numeric test, the conversions and the formats always
// agree with each other. All functions take explicit regional settings; the
// default is United States English.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace harnolfees {

// An error raised by the runtime, the record sets or the surface models. It
// carries a number in the tradition of the host runtime (13 type mismatch,
// 6 overflow, 9 subscript out of range, 380 invalid property value, ...) and a
// description that the control shows to the operator.
class ControlError : public std::runtime_error {
 public:
  ControlError(int number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  int number() const noexcept { return number_; }
  std::string description() const { return what(); }

 private:
  int number_;
};

namespace errc {
inline constexpr int kOverflow = 6;
inline constexpr int kSubscriptOutOfRange = 9;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kInvalidProcedureCall = 5;
inline constexpr int kInvalidPropertyValue = 380;
inline constexpr int kItemNotFound = 3265;     // field not declared
inline constexpr int kNoCurrentRecord = 3021;  // BOF or EOF is True
inline constexpr int kOperationNotAllowed = 3219;
inline constexpr int kDocument = 1000;  // load document fetch/parse
}  // namespace errc

struct RegionalSettings {
  char decimalSeparator = '.';
  char groupSeparator = ',';
  int groupSize = 3;
  int defaultDecimals = 2;
  bool leadingZero = true;
  std::string negativeSign = "-";
  char dateSeparator = '/';
  std::array<std::string, 12> monthAbbreviations{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

  static const RegionalSettings& UnitedStates();
};

// A calendar date and time of day, to the second, proleptic Gregorian.
class DateTime {
 public:
  DateTime() = default;
  // Throws ControlError(kInvalidProcedureCall) when the parts do not make a
  // valid date or time; years run from 100 to 9999.
  static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0);
  static std::optional<DateTime> TryFromParts(int year, int month, int day, int hour = 0,
                                              int minute = 0, int second = 0);
  // The days of a month of years 100 to 9999; 0 for any other year or
  // month.
  static int DaysInMonth(int year, int month);

  int Year() const;
  int Month() const;
  int Day() const;
  int Hour() const { return seconds_ / 3600; }
  int Minute() const { return (seconds_ / 60) % 60; }
  int Second() const { return seconds_ % 60; }
  bool HasTime() const { return seconds_ != 0; }

  // Days since 1970-01-01 and seconds since midnight.
  std::int32_t DaySerial() const { return days_; }
  std::int32_t SecondOfDay() const { return seconds_; }
  DateTime DateOnly() const { return FromSerial(days_, 0); }
  // Seconds outside one day carry into the days; ControlError(kOverflow) when
  // the day count leaves the 32-bit range.
  static DateTime FromSerial(std::int32_t days, std::int32_t seconds);

  // Calendar arithmetic; a day the target month lacks becomes its last day
  // (29 Feb 2004 plus one year is 28 Feb 2005). The time of day is kept.
  // ControlError(kInvalidProcedureCall) when the result leaves years 100..9999.
  DateTime AddMonths(int months) const;
  DateTime AddYears(int years) const { return AddMonths(years * 12); }

  friend auto operator<=>(const DateTime&, const DateTime&) = default;
  friend bool operator==(const DateTime&, const DateTime&) = default;

 private:
  std::int32_t days_ = 0;     // days since 1970-01-01
  std::int32_t seconds_ = 0;  // 0 .. 86399
};

// Money: a 64-bit integer of ten-thousandths.
class Money {
 public:
  static constexpr std::int64_t kScale = 10000;
  Money() = default;
  static Money FromUnits(std::int64_t units) {
    Money m;
    m.units_ = units;
    return m;
  }
  // Throws ControlError(kOverflow) outside the money range, kTypeMismatch for
  // text that is not a number.
  static Money FromText(std::string_view text,
                        const RegionalSettings& rs = RegionalSettings::UnitedStates());
  static Money FromDouble(double value);
  std::int64_t Units() const { return units_; }
  double ToDouble() const { return static_cast<double>(units_) / kScale; }
  friend auto operator<=>(const Money&, const Money&) = default;
  friend bool operator==(const Money&, const Money&) = default;

 private:
  std::int64_t units_ = 0;
};

// True exactly when converting the text to money fails with an overflow.
bool ExceedsCurrencyRange(std::string_view text,
                          const RegionalSettings& rs = RegionalSettings::UnitedStates());

// Numbers. Accepted forms (IsNumeric and ParseNumber agree exactly):
//   [blanks] [sign] digits-with-grouping [decimal digits] [exponent] [blanks]
// where blanks are spaces or tabs, the sign is one "+" or "-", a grouping
// separator may stand only between two digits of the integer part, there is
// at most one decimal separator, and the exponent is "E" or "e" with an
// optional sign and at least one digit. At least one digit is required, and the
// value must lie within the double range (smaller magnitudes read as 0).
// Separators come from the regional settings; the reading itself does not
// depend on the process locale. "1,234.50", " 12 ", "-3.50", ".5", "5." and
// "1E+16" are numbers; "", "abc", "12abc", "1.2.3", "--1", ",5", "1E" and
// "1E999" are not.
bool IsNumeric(std::string_view text,
               const RegionalSettings& rs = RegionalSettings::UnitedStates());
std::optional<double> ParseNumber(std::string_view text,
                                  const RegionalSettings& rs = RegionalSettings::UnitedStates());
// As ParseNumber, but throws ControlError(kTypeMismatch) naming the text.
double TextToNumber(std::string_view text,
                    const RegionalSettings& rs = RegionalSettings::UnitedStates());

// The default number-to-text conversion: no grouping, "." decimal, the
// shortest text (at most 15 significant digits) that reads back to the value,
// exponent form ("1E+16", "1.5E-07", "-2.5E+20") when |value| >= 1E15 or
// 0 < |value| < 1E-4. -0 reads "0"; 0.1 + 0.2 reads "0.3".
std::string NumberToText(double value);

// FormatNumber: decimals < 0 means the regional default. Grouping, leading zero
// and negative sign follow the regional settings. The value is first taken as
// its default text (15 significant digits), then halves round away from zero on
// those decimals, so 2.675 with 2 decimals is "2.68". A value that rounds to
// zero has no sign. Throws ControlError(kOverflow) for NaN or infinity and
// ControlError(kInvalidProcedureCall) for more than 255 decimals.
std::string FormatNumber(double value, int decimals = -1,
                         const RegionalSettings& rs = RegionalSettings::UnitedStates());

// Val: the leading number of a text in "." notation, no grouping. Blanks,
// tabs and line breaks are skipped wherever they stand (" 1 2" is 12); the
// number stops at the first character that cannot continue it ("12abc" is 12,
// " -3.5e2x" is -350) and is 0 when there is none. Throws
// ControlError(kOverflow) beyond the double range.
double Val(std::string_view text);

// Rounds to the nearest 16-bit integer, halves to even. Throws
// ControlError(kOverflow) outside -32768..32767.
std::int16_t RoundToInt16(double value);
// Same for 32-bit.
std::int32_t RoundToInt32(double value);

// Dates.
std::string FormatDateMmmDdYyyy(const DateTime& d,
                                const RegionalSettings& rs = RegionalSettings::UnitedStates());
std::string FormatDateMmDdYyyy(const DateTime& d,
                               const RegionalSettings& rs = RegionalSettings::UnitedStates());
// The default date-to-text conversion: M/d/yyyy, followed by " h:mm:ss AM/PM"
// only when the time is not midnight.
std::string DateToText(const DateTime& d,
                       const RegionalSettings& rs = RegionalSettings::UnitedStates());
// Reads, between optional blanks: the default date text with or without a
// time (12-hour with AM/PM or 24-hour), mm/dd/yyyy and m/d/yyyy (two-digit
// years: 00-29 are 20xx, 30-99 are 19xx), "mmm dd, yyyy" (abbreviated or full
// month names, any letter case, comma optional, optional time), and ISO 8601
// dates and date-times (yyyy-mm-dd, yyyy-mm-ddThh:mm[:ss[.fff]][Z|+hh:mm];
// fractions of a second and the zone are ignored). Dates that do not exist
// (02/30/2004) and years outside 100..9999 give nullopt.
std::optional<DateTime> ParseDate(std::string_view text,
                                  const RegionalSettings& rs = RegionalSettings::UnitedStates());
// As ParseDate, but throws ControlError(kTypeMismatch) naming the text.
DateTime TextToDate(std::string_view text,
                    const RegionalSettings& rs = RegionalSettings::UnitedStates());
// yyyy-mm-ddThh:mm:ss, the form of dumps and of the load document.
std::string DateToIso(const DateTime& d);

// Text helpers shared by several subsystems.
std::string TrimBlanks(std::string_view text);  // spaces only, both ends
std::string ToUpperAscii(std::string_view text);

// A record-set field value that may be Null.
class Value {
 public:
  using Storage = std::variant<std::monostate, std::int16_t, std::int32_t, float, double, Money,
                               DateTime, std::string, bool>;
  Value() = default;
  Value(std::int16_t v) : v_(v) {}
  Value(std::int32_t v) : v_(v) {}
  Value(float v) : v_(v) {}
  Value(double v) : v_(v) {}
  Value(Money v) : v_(v) {}
  Value(DateTime v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}
  Value(const char* v) : v_(std::string(v)) {}
  Value(bool v) : v_(v) {}

  static Value Null() { return Value(); }
  bool IsNull() const { return std::holds_alternative<std::monostate>(v_); }
  const Storage& storage() const { return v_; }

  // Conversions in the host runtime's manner. Null converts to nothing:
  // these throw ControlError(kTypeMismatch) ("Invalid use of Null").
  double ToDouble(const RegionalSettings& rs = RegionalSettings::UnitedStates()) const;
  DateTime ToDate(const RegionalSettings& rs = RegionalSettings::UnitedStates()) const;
  // Default text conversion: numbers by NumberToText (single precision with at
  // most 7 significant digits), money exactly ("1250.5"), dates by DateToText,
  // booleans as "True"/"False". Null throws like the conversions above.
  std::string ToText(const RegionalSettings& rs = RegionalSettings::UnitedStates()) const;
  // As ToText, but Null gives the empty text (grid cells, text boxes).
  std::string ToTextOrEmpty(const RegionalSettings& rs = RegionalSettings::UnitedStates()) const;

  friend bool operator==(const Value&, const Value&) = default;

 private:
  Storage v_;
};

}  // namespace harnolfees
