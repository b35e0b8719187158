#include <algorithm>
// Number texts: the numeric test, text-to-number, the default number text,
// FormatNumber, Val and the integer roundings.
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "harnolfees/runtime.hpp"
#include "runtime/decimal_text.hpp"

namespace harnolfees {
namespace detail {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exponents beyond this cannot name any double or money value; saturating
// keeps the arithmetic safe for texts such as "1E99999999999999999999".
constexpr std::int64_t kExponentCap = 1'000'000'000;

// Adds one unit of the last place to a run of decimal digits; returns
// whether it carried into a new leading digit ("999" became "1000").
bool AddOneToLastDigit(std::string& digits) {
  std::size_t i = digits.size();
  while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
  if (i > 0) {
    ++digits[i - 1];
    return false;
  }
  digits.insert(digits.begin(), '1');
  return true;
}

void Normalise(Decimal& d) {
  std::size_t lead = d.digits.find_first_not_of('0');
  if (lead == std::string::npos) {
    d.digits.clear();
    d.exponent = 0;
    d.negative = false;
    return;
  }
  d.digits.erase(0, lead);
  std::size_t last = d.digits.find_last_not_of('0');
  d.exponent += static_cast<std::int64_t>(d.digits.size() - 1 - last);
  d.digits.resize(last + 1);
}

}  // namespace

std::optional<Decimal> ScanNumber(std::string_view text, const RegionalSettings& rs) {
  Decimal d;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    d.negative = text[i] == '-';
    ++i;
  }
  bool anyDigit = false;
  while (i < n) {
    char c = text[i];
    if (IsDigit(c)) {
      d.digits += c;
      anyDigit = true;
      ++i;
    } else if (c == rs.groupSeparator && anyDigit && i + 1 < n && IsDigit(text[i + 1])) {
      ++i;  // a grouping separator only ever stands between two digits
    } else {
      break;
    }
  }
  std::int64_t fractionDigits = 0;
  if (i < n && text[i] == rs.decimalSeparator) {
    ++i;
    while (i < n && IsDigit(text[i])) {
      d.digits += text[i];
      ++fractionDigits;
      anyDigit = true;
      ++i;
    }
  }
  if (!anyDigit) return std::nullopt;
  std::int64_t exponent = 0;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      ++i;
    }
    if (i >= n || !IsDigit(text[i])) return std::nullopt;
    while (i < n && IsDigit(text[i])) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (negativeExponent) exponent = -exponent;
  }
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) return std::nullopt;
  d.exponent = exponent - fractionDigits;
  Normalise(d);
  return d;
}

Decimal DoubleToDecimal(double value, int maxDigits) {
  Decimal d;
  if (value == 0 || !std::isfinite(value)) return d;
  char buf[64];
  // The shortest digits that read back as the value are also its rounding to
  // any number of digits up to 15 that is at least as large: they lie within
  // half a unit of the last place of a double, closer than half a unit of the
  // 15th digit.
  // Both conversions write "d[.ddd]e<sign><digits>", read here in one pass:
  // every grid cell of a number comes through here.
  std::to_chars_result r =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
  const char* e = std::find(buf, r.ptr, 'e');
  const auto mantissaDigits = static_cast<std::size_t>(e - buf > 1 ? e - buf - 1 : 1);
  const auto allowed = static_cast<std::size_t>(std::max(maxDigits, 1));
  // Shortest digits too many for maxDigits are rounded as they stand, unless
  // they are exactly halfway: no number of fewer digits lies between them and
  // the value (it would have been the shortest form), so the rounding of the
  // digits is the rounding of the value. Only the halfway case, and a
  // rounding to 16 digits, take the slower conversion that rounds the exact
  // binary value.
  const bool tooMany = maxDigits < 17 && (maxDigits > 15 || mantissaDigits > allowed);
  const bool halfway = mantissaDigits == allowed + 1 && e[-1] == '5';
  if (tooMany && (maxDigits > 15 || halfway)) {
    r = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific,
                      maxDigits - 1);
    e = std::find(buf, r.ptr, 'e');
  }
  d.digits.reserve(static_cast<std::size_t>(e - buf));
  for (const char* p = buf; p != e; ++p) {
    if (IsDigit(*p)) d.digits += *p;
  }
  const char* p = e + 1;
  const bool negativeExponent = p != r.ptr && *p == '-';
  if (p != r.ptr && (*p == '-' || *p == '+')) ++p;
  int exponent = 0;
  for (; p != r.ptr; ++p) exponent = exponent * 10 + (*p - '0');
  if (negativeExponent) exponent = -exponent;
  if (d.digits.size() > allowed && maxDigits <= 15) {
    const bool up = d.digits[allowed] >= '5';
    d.digits.resize(allowed);
    if (up && AddOneToLastDigit(d.digits)) {
      // 9.99... became 10.0...: one more place before the point.
      d.digits.pop_back();
      ++exponent;
    }
  }
  d.exponent = exponent - static_cast<std::int64_t>(d.digits.size()) + 1;
  d.negative = value < 0;
  Normalise(d);
  return d;
}

std::optional<double> DecimalToDouble(const Decimal& d) {
  if (d.IsZero()) return 0.0;
  if (d.Order() > 310) return std::nullopt;
  if (d.Order() < -330) return 0.0;
  std::string text = d.digits + "e" + std::to_string(d.exponent);
  double value = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec == std::errc::result_out_of_range) {
    if (d.Order() > 0) return std::nullopt;
    return 0.0;  // below the smallest double: no sign, like "-0"
  } else if (r.ec != std::errc()) {
    return std::nullopt;
  }
  return d.negative ? -value : value;
}

std::string DecimalToText(const Decimal& d, int maxOrder) {
  if (d.IsZero()) return "0";
  std::string out = d.negative ? "-" : "";
  const std::int64_t order = d.Order();
  const std::int64_t sciExponent = order - 1;
  const auto len = static_cast<std::int64_t>(d.digits.size());
  if (sciExponent >= maxOrder || sciExponent < -4) {
    out += d.digits[0];
    if (len > 1) {
      out += '.';
      out.append(d.digits, 1);
    }
    out += 'E';
    out += sciExponent < 0 ? '-' : '+';
    std::string e = std::to_string(sciExponent < 0 ? -sciExponent : sciExponent);
    if (e.size() < 2) out += '0';
    out += e;
    return out;
  }
  if (order > 0) {
    if (order >= len) {
      out += d.digits;
      out.append(static_cast<std::size_t>(order - len), '0');
    } else {
      out.append(d.digits, 0, static_cast<std::size_t>(order));
      out += '.';
      out.append(d.digits, static_cast<std::size_t>(order));
    }
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-order), '0');
    out += d.digits;
  }
  return out;
}

}  // namespace detail

using detail::Decimal;

const RegionalSettings& RegionalSettings::UnitedStates() {
  static const RegionalSettings settings;
  return settings;
}

bool IsNumeric(std::string_view text, const RegionalSettings& rs) {
  return ParseNumber(text, rs).has_value();
}

std::optional<double> ParseNumber(std::string_view text, const RegionalSettings& rs) {
  std::optional<Decimal> d = detail::ScanNumber(text, rs);
  if (!d) return std::nullopt;
  return detail::DecimalToDouble(*d);
}

double TextToNumber(std::string_view text, const RegionalSettings& rs) {
  std::optional<double> value = ParseNumber(text, rs);
  if (!value)
    throw ControlError(errc::kTypeMismatch,
                       "Type mismatch: '" + std::string(text) + "' is not a number");
  return *value;
}

std::string NumberToText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  return detail::DecimalToText(detail::DoubleToDecimal(value, 15), 15);
}

namespace detail {

std::string RoundToScale(const Decimal& d, int decimals, bool halfToEven) {
  if (d.IsZero()) return "";
  const auto len = static_cast<std::int64_t>(d.digits.size());
  const std::int64_t drop = -static_cast<std::int64_t>(decimals) - d.exponent;
  if (drop <= 0) {
    std::string out;
    out.reserve(static_cast<std::size_t>(len - drop));
    out += d.digits;
    out.append(static_cast<std::size_t>(-drop), '0');
    return out;
  }
  if (drop > len) return "";
  // The digits carry no leading zero, so neither does what is kept of them.
  std::string kept(d.digits, 0, static_cast<std::size_t>(len - drop));
  const char roundDigit = d.digits[static_cast<std::size_t>(len - drop)];
  const bool moreAfter = drop > 1;  // digits carry no trailing zeros
  bool up;
  if (roundDigit != '5' || !halfToEven) {
    up = roundDigit >= '5';
  } else if (moreAfter) {
    up = true;
  } else {
    up = !kept.empty() && ((kept.back() - '0') % 2 == 1);
  }
  if (up) AddOneToLastDigit(kept);
  return kept;
}

}  // namespace detail

std::string FormatNumber(double value, int decimals, const RegionalSettings& rs) {
  if (decimals < 0) decimals = rs.defaultDecimals;
  if (decimals > 255)
    throw ControlError(errc::kInvalidProcedureCall, "Invalid procedure call or argument");
  if (!std::isfinite(value)) throw ControlError(errc::kOverflow, "Overflow");
  // Fifteen significant digits, as the default text shows the value, so that
  // 0.0725 * 100 formats as 7.25 and not as the binary neighbour below it.
  const Decimal d = detail::DoubleToDecimal(value, 15);
  std::string scaled = detail::RoundToScale(d, decimals, false);
  const bool isZero = scaled.empty();
  const auto fractionSize = static_cast<std::size_t>(decimals);
  if (scaled.size() < fractionSize + 1) scaled.insert(0, fractionSize + 1 - scaled.size(), '0');
  const std::size_t integerSize = scaled.size() - fractionSize;
  const auto group = static_cast<std::size_t>(rs.groupSize > 0 ? rs.groupSize : 0);
  const bool grouped = group > 0 && integerSize > group;
  const bool noInteger = !rs.leadingZero && integerSize == 1 && scaled[0] == '0' && decimals > 0;

  // The text is written once, into room for all of it.
  std::string out;
  out.reserve(rs.negativeSign.size() + integerSize + (grouped ? integerSize / group : 0) + 1 +
              fractionSize);
  if (d.negative && !isZero) out += rs.negativeSign;
  if (grouped) {
    for (std::size_t i = 0; i < integerSize; ++i) {
      if (i > 0 && (integerSize - i) % group == 0) out += rs.groupSeparator;
      out += scaled[i];
    }
  } else if (!noInteger) {
    out.append(scaled, 0, integerSize);
  }
  if (decimals > 0) {
    out += rs.decimalSeparator;
    out.append(scaled, integerSize, fractionSize);
  }
  return out;
}

double Val(std::string_view text) {
  // The classic Val ignores blanks, tabs and line feeds anywhere in the text.
  std::string packed;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') packed += c;
  std::size_t i = 0;
  const std::size_t n = packed.size();
  bool negative = false;
  if (i < n && (packed[i] == '+' || packed[i] == '-')) negative = packed[i++] == '-';
  const std::size_t start = i;
  bool anyDigit = false;
  while (i < n && packed[i] >= '0' && packed[i] <= '9') {
    anyDigit = true;
    ++i;
  }
  if (i < n && packed[i] == '.') {
    ++i;
    while (i < n && packed[i] >= '0' && packed[i] <= '9') {
      anyDigit = true;
      ++i;
    }
  }
  if (!anyDigit) return 0;
  if (i < n && (packed[i] == 'E' || packed[i] == 'e')) {
    std::size_t j = i + 1;
    if (j < n && (packed[j] == '+' || packed[j] == '-')) ++j;
    if (j < n && packed[j] >= '0' && packed[j] <= '9') {
      while (j < n && packed[j] >= '0' && packed[j] <= '9') ++j;
      i = j;
    }
  }
  std::optional<Decimal> d = detail::ScanNumber(std::string_view(packed).substr(start, i - start),
                                                RegionalSettings::UnitedStates());
  if (!d) return 0;
  std::optional<double> value = detail::DecimalToDouble(*d);
  if (!value) throw ControlError(errc::kOverflow, "Overflow");
  return negative ? -*value : *value;
}

namespace {

template <typename Int>
Int RoundHalfEven(double value) {
  if (!std::isfinite(value)) throw ControlError(errc::kOverflow, "Overflow");
  double r = std::floor(value);
  const double rest = value - r;  // exact for every finite double
  if (rest > 0.5 || (rest == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
  if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
      r > static_cast<double>(std::numeric_limits<Int>::max()))
    throw ControlError(errc::kOverflow, "Overflow");
  return static_cast<Int>(r);
}

}  // namespace

std::int16_t RoundToInt16(double value) { return RoundHalfEven<std::int16_t>(value); }
std::int32_t RoundToInt32(double value) { return RoundHalfEven<std::int32_t>(value); }

std::string TrimBlanks(std::string_view text) {
  std::size_t b = text.find_first_not_of(' ');
  if (b == std::string_view::npos) return "";
  std::size_t e = text.find_last_not_of(' ');
  return std::string(text.substr(b, e - b + 1));
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace harnolfees
