// Texts of any bytes through the number, money and date conversions: the
// numeric test and the reading agree, and whatever is read and then written
// reads back as the same value. Only ControlError may leave a conversion.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "harnolfees/runtime.hpp"

namespace {

using namespace harnolfees;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void Numbers(std::string_view text) {
  const std::optional<double> read = ParseNumber(text);
  Check(IsNumeric(text) == read.has_value());
  if (!read) return;
  Check(std::isfinite(*read));

  // The default text reads back to a value whose default text is the same.
  const std::string written = NumberToText(*read);
  const std::optional<double> again = ParseNumber(written);
  Check(again.has_value());
  Check(NumberToText(*again) == written);
  Check(TextToNumber(written) == *again);

  // FormatNumber's text, grouping included, is numeric and lies within half
  // a unit of its last decimal of the value.
  for (int decimals : {-1, 0, 2, 3, 6}) {
    const std::string shown = FormatNumber(*read, decimals);
    const std::optional<double> back = ParseNumber(shown);
    Check(back.has_value());
    const int places = decimals < 0 ? RegionalSettings::UnitedStates().defaultDecimals : decimals;
    const double unit = std::pow(10.0, -places);
    // Beyond 15 significant digits the text itself is rounded.
    const double slack = std::fabs(*read) * 1e-14;
    Check(std::fabs(*back - *read) <= unit / 2 + slack);
  }

  try {
    const std::int16_t small = RoundToInt16(*read);
    Check(std::fabs(*read - small) <= 0.5);
  } catch (const ControlError& e) {
    Check(e.number() == errc::kOverflow);
    Check(std::fabs(*read) > 32767);
  }
}

void MoneyTexts(std::string_view text) {
  bool overflow = false;
  try {
    const harnolfees::Money m = harnolfees::Money::FromText(text);
    // Money reads back exactly from its own text.
    const std::string written = Value(m).ToText();
    Check(harnolfees::Money::FromText(written) == m);
    Check(IsNumeric(text));
  } catch (const ControlError& e) {
    overflow = e.number() == errc::kOverflow;
    Check(overflow || e.number() == errc::kTypeMismatch);
  }
  Check(ExceedsCurrencyRange(text) == overflow);
}

void Dates(std::string_view text) {
  const std::optional<DateTime> read = ParseDate(text);
  if (!read) return;
  const DateTime d = *read;
  Check(d.Year() >= 100 && d.Year() <= 9999);

  // Every written form reads back as the same day, the full forms as the same
  // moment.
  const std::optional<DateTime> fromDefault = ParseDate(DateToText(d));
  Check(fromDefault.has_value() && *fromDefault == d);
  const std::optional<DateTime> fromIso = ParseDate(DateToIso(d));
  Check(fromIso.has_value() && *fromIso == d);
  const std::optional<DateTime> fromNumeric = ParseDate(FormatDateMmDdYyyy(d));
  Check(fromNumeric.has_value() && *fromNumeric == d.DateOnly());
  const std::optional<DateTime> fromNamed = ParseDate(FormatDateMmmDdYyyy(d));
  Check(fromNamed.has_value() && *fromNamed == d.DateOnly());

  // The date pickers' range: one year on, two months back, a missing day
  // becoming the month's last.
  try {
    const DateTime later = d.AddYears(1);
    Check(later.Month() == d.Month() && later.Day() <= d.Day());
    const DateTime earlier = d.AddMonths(-2);
    Check(earlier < d);
  } catch (const ControlError& e) {
    Check(e.number() == errc::kInvalidProcedureCall);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Numbers(text);
  MoneyTexts(text);
  Dates(text);
  try {
    const double v = Val(text);
    Check(std::isfinite(v));
  } catch (const ControlError& e) {
    Check(e.number() == errc::kOverflow);
  }
  return 0;
}
