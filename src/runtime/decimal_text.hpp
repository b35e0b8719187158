// Decimal number texts shared by the numeric test, the number and money
// conversions and the formats, so that all of them read and write numbers the
// same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "harnolfees/runtime.hpp"

namespace harnolfees::detail {

// A decimal number: digits * 10^exponent, negated when negative. The digits
// carry neither leading nor trailing zeros; zero has no digits and no sign.
struct Decimal {
  bool negative = false;
  std::string digits;
  std::int64_t exponent = 0;

  bool IsZero() const { return digits.empty(); }
  // Position of the leading digit: the value lies in [10^(order-1), 10^order).
  std::int64_t Order() const { return static_cast<std::int64_t>(digits.size()) + exponent; }
};

// Reads the accepted number form (see IsNumeric) exactly, without going through
// a binary double. Returns nullopt when the text is not a number.
std::optional<Decimal> ScanNumber(std::string_view text, const RegionalSettings& rs);

// The decimal digits of a double rounded to at most maxDigits significant
// digits (shortest form when fewer digits read back to the same value).
Decimal DoubleToDecimal(double value, int maxDigits);

// digits * 10^exponent correctly rounded, taken by one exact division or
// multiplication: every whole number below 2^53 is exact in a double, and so
// is every power of ten up to 10^22. nullopt beyond those bounds.
inline std::optional<double> ShortDecimalToDouble(std::uint64_t digits, int exponent) {
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (digits >= (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22) return std::nullopt;
  const auto d = static_cast<double>(digits);
  return exponent < 0 ? d / kPowersOfTen[-exponent] : d * kPowersOfTen[exponent];
}

// The double nearest to a decimal; nullopt when beyond the double range.
std::optional<double> DecimalToDouble(const Decimal& d);

// The default text of a decimal: plain digits when the order lies within
// (-4, maxOrder], exponent form "1.5E-07" otherwise.
std::string DecimalToText(const Decimal& d, int maxOrder);

// The digits of |d| * 10^decimals rounded to an integer, without leading zeros
// ("" for zero); halves go away from zero or to even. Callers keep the order of
// d small, since the result is padded with zeros.
std::string RoundToScale(const Decimal& d, int decimals, bool halfToEven);

bool IsBlank(char c);

}  // namespace harnolfees::detail
