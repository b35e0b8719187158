// Field values and their conversions in the host runtime's manner.
#include <charconv>
#include <cmath>
#include <type_traits>

#include "harnolfees/runtime.hpp"
#include "runtime/decimal_text.hpp"

namespace harnolfees {
namespace {

// The host's date serial counts days from 30 December 1899; 1 January 1970 is
// day 25569. The fraction is the time of day, taken away from the day count
// for days before the origin.
constexpr std::int32_t kUnixEpochSerial = 25569;

double DateToSerial(const DateTime& d) {
  const double serial = static_cast<double>(d.DaySerial()) + kUnixEpochSerial;
  const double fraction = static_cast<double>(d.SecondOfDay()) / 86400.0;
  return serial < 0 ? serial - fraction : serial + fraction;
}

DateTime SerialToDate(double serial) {
  // Serials of the years 100 to 9999.
  if (!std::isfinite(serial) || serial < -657434.0 || serial >= 2958466.0)
    throw ControlError(errc::kOverflow, "Overflow");
  double whole = std::trunc(serial);
  auto seconds = static_cast<std::int32_t>(std::llround(std::fabs(serial - whole) * 86400.0));
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += serial < 0 ? -1 : 1;
  }
  DateTime d = DateTime::FromSerial(static_cast<std::int32_t>(whole) - kUnixEpochSerial, seconds);
  if (d.Year() < 100 || d.Year() > 9999) throw ControlError(errc::kOverflow, "Overflow");
  return d;
}

// A single-precision value stands for the short decimal it was typed as, so
// 0.0725f becomes the double 0.0725 and not 0.07249999791383743.
double FloatToDouble(float value) {
  if (!std::isfinite(value)) return static_cast<double>(value);
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  double out = 0;
  std::from_chars(buf, r.ptr, out);
  return out;
}

std::string MoneyToText(const Money& m) {
  const std::int64_t units = m.Units();
  const bool negative = units < 0;
  // Unsigned arithmetic keeps the most negative amount representable.
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  std::string out = negative ? "-" : "";
  out += std::to_string(magnitude / Money::kScale);
  std::string fraction = std::to_string(magnitude % Money::kScale);
  fraction.insert(0, 4 - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) out += "." + fraction;
  return out;
}

[[noreturn]] void ThrowNull() { throw ControlError(errc::kTypeMismatch, "Invalid use of Null"); }

}  // namespace

double Value::ToDouble(const RegionalSettings& rs) const {
  return std::visit(
      [&](const auto& v) -> double {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          ThrowNull();
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? -1.0 : 0.0;  // the host's True is -1
        } else if constexpr (std::is_same_v<T, float>) {
          return FloatToDouble(v);
        } else if constexpr (std::is_same_v<T, Money>) {
          return v.ToDouble();
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return DateToSerial(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          std::optional<double> n = ParseNumber(v, rs);
          if (!n) throw ControlError(errc::kTypeMismatch, "Type mismatch");
          return *n;
        } else {
          return static_cast<double>(v);
        }
      },
      v_);
}

DateTime Value::ToDate(const RegionalSettings& rs) const {
  return std::visit(
      [&](const auto& v) -> DateTime {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          ThrowNull();
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return v;
        } else if constexpr (std::is_same_v<T, std::string>) {
          std::optional<DateTime> d = ParseDate(v, rs);
          if (!d) throw ControlError(errc::kTypeMismatch, "Type mismatch");
          return *d;
        } else {
          return SerialToDate(Value(v).ToDouble(rs));
        }
      },
      v_);
}

std::string Value::ToText(const RegionalSettings& rs) const {
  return std::visit(
      [&](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          ThrowNull();
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "True" : "False";
        } else if constexpr (std::is_same_v<T, float>) {
          if (!std::isfinite(v)) return NumberToText(v);
          // Single precision shows at most seven significant digits.
          return detail::DecimalToText(detail::DoubleToDecimal(v, 7), 7);
        } else if constexpr (std::is_same_v<T, double>) {
          return NumberToText(v);
        } else if constexpr (std::is_same_v<T, Money>) {
          return MoneyToText(v);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return DateToText(v, rs);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else {
          return std::to_string(v);
        }
      },
      v_);
}

std::string Value::ToTextOrEmpty(const RegionalSettings& rs) const {
  return IsNull() ? std::string() : ToText(rs);
}

}  // namespace harnolfees
