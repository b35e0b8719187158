// Money: exact decimal conversion of number texts to ten-thousandths.
#include <charconv>
#include <cmath>
#include <limits>

#include "harnolfees/runtime.hpp"
#include "runtime/decimal_text.hpp"

namespace harnolfees {
namespace {

Money FromDecimal(const detail::Decimal& d) {
  // Anything of 10^16 or more is far beyond the range; rejecting it here also
  // keeps the scaled digit string short.
  if (d.Order() > 16) throw ControlError(errc::kOverflow, "Overflow");
  const std::string scaled = detail::RoundToScale(d, 4, true);
  if (scaled.size() > 19) throw ControlError(errc::kOverflow, "Overflow");
  std::uint64_t magnitude = 0;
  if (!scaled.empty()) {
    auto r = std::from_chars(scaled.data(), scaled.data() + scaled.size(), magnitude);
    if (r.ec != std::errc()) throw ControlError(errc::kOverflow, "Overflow");
  }
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (d.negative ? 1 : 0);
  if (magnitude > limit) throw ControlError(errc::kOverflow, "Overflow");
  if (!d.negative) return Money::FromUnits(static_cast<std::int64_t>(magnitude));
  // Negate in unsigned arithmetic so that -2^63 needs no signed overflow.
  return Money::FromUnits(static_cast<std::int64_t>(0 - magnitude));
}

}  // namespace

Money Money::FromText(std::string_view text, const RegionalSettings& rs) {
  std::optional<detail::Decimal> d = detail::ScanNumber(text, rs);
  if (!d) throw ControlError(errc::kTypeMismatch, "Type mismatch");
  return FromDecimal(*d);
}

Money Money::FromDouble(double value) {
  if (!std::isfinite(value)) throw ControlError(errc::kOverflow, "Overflow");
  return FromDecimal(detail::DoubleToDecimal(value, 17));
}

bool ExceedsCurrencyRange(std::string_view text, const RegionalSettings& rs) {
  try {
    Money::FromText(text, rs);
    return false;
  } catch (const ControlError& e) {
    return e.number() == errc::kOverflow;
  } catch (...) {
    return false;
  }
}

}  // namespace harnolfees
