#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include "harnolfees/runtime.hpp"
#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

using testing::ControlErrorOf;

// Grouped, signed, decimal and exponent forms are numbers; a text that is not
// a number as a whole is not.
TEST(NumericTest, AcceptsNumberFormsAndRefusesTextsThatAreNotWholeNumbers) {
  for (const char* text : {"1,234.50", " 12 ", "-3.50", ".5", "5.", "1E+16", "+7", "2e-3",
                           "922,337,203,685,477", "0", "1,2"})
    EXPECT_TRUE(IsNumeric(text)) << text;
  for (const char* text : {"", " ", "abc", "12abc", "1.2.3", "--1", "+-1", ".", "-", "1E", "1E+",
                           ",1", "1,", "1,,2", "1.5,0", "$5", "1 2", "1E999"})
    EXPECT_FALSE(IsNumeric(text)) << text;
  // ParseNumber reads the values.
  EXPECT_EQ(ParseNumber("1,234.50"), 1234.5);
  EXPECT_EQ(ParseNumber(" -3.50 "), -3.5);
  EXPECT_EQ(ParseNumber("1E+16"), 1e16);
  EXPECT_EQ(ParseNumber("1E-400"), 0.0);
  EXPECT_FALSE(std::signbit(*ParseNumber("-1E-400")));
  EXPECT_FALSE(std::signbit(*ParseNumber("-0.000")));
  RegionalSettings de;
  de.decimalSeparator = ',';
  de.groupSeparator = '.';
  EXPECT_EQ(ParseNumber("1.234,5", de), 1234.5);
  EXPECT_FALSE(IsNumeric("1,2,3", de));
  EXPECT_EQ(
      ControlErrorOf([] { TextToNumber("x1"); }),
      std::make_pair(errc::kTypeMismatch, std::string("Type mismatch: 'x1' is not a number")));
}

// Plain text up to fifteen integer digits, exponent form beyond and for
// small magnitudes.
TEST(NumberToTextTest, WritesShortestPlainTextOrExponentForm) {
  const std::pair<double, const char*> cases[] = {{0.0725, "0.0725"},
                                                  {1250, "1250"},
                                                  {3.5, "3.5"},
                                                  {-3.5, "-3.5"},
                                                  {0.1 + 0.2, "0.3"},
                                                  {-0.0, "0"},
                                                  {0.0001, "0.0001"},
                                                  {123456789012345.0, "123456789012345"},
                                                  {922337203685477.0, "922337203685477"},
                                                  {1e16, "1E+16"},
                                                  {1e15, "1E+15"},
                                                  {1.5e-7, "1.5E-07"},
                                                  {-2.5e20, "-2.5E+20"},
                                                  {0.00001, "1E-05"},
                                                  {1.25e200, "1.25E+200"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(NumberToText(value), text) << value;
}

// A number's text as its significant digits and the power of ten of the
// first of them, whatever the form it is written in.
std::pair<std::string, int> Scientific(const std::string& text) {
  const std::size_t e = text.find_first_of("Ee");
  const int exponent = e == std::string::npos ? 0 : std::stoi(text.substr(e + 1));
  std::string digits;
  int integerDigits = 0;
  bool point = false;
  for (char c : text.substr(0, e)) {
    if (c == '.') point = true;
    if (c < '0' || c > '9') continue;
    digits += c;
    if (!point) ++integerDigits;
  }
  const std::size_t lead = digits.find_first_not_of('0');
  if (lead == std::string::npos) return {"", 0};
  digits.erase(0, lead);
  digits.erase(digits.find_last_not_of('0') + 1);
  return {digits, integerDigits - 1 - static_cast<int>(lead) + exponent};
}

// Fifteen significant digits, rounded as the exact binary value: checked
// against the C library's rounding, for random values, short values
// (0.0725 * 100), values whose shortest form stands exactly halfway (sixteen
// digits ending in 5) and values where rounding up carries into a new
// leading digit.
TEST(NumberToTextTest, ShowsTheValueRoundedToFifteenDigitsAsTheExactValue) {
  std::mt19937_64 random(20261207);
  std::uniform_int_distribution<std::int64_t> fifteen(100000000000000, 999999999999999);
  std::uniform_int_distribution<int> exponent(-12, 12);
  std::uniform_int_distribution<int> wide(-15, 14);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> shortDigits(1, 999999);
  for (int i = 0; i < 40000; ++i) {
    std::string text = std::to_string(i % 4 == 0 ? 999999999999999 : fifteen(random));
    text += i % 2 == 0 ? "5" : "49";
    double value = std::strtod((text + "e" + std::to_string(exponent(random))).c_str(), nullptr);
    if (i % 3 == 1) value = -mantissa(random) * std::pow(10.0, wide(random));
    if (i % 3 == 2) value = shortDigits(random) * std::pow(10.0, wide(random) - 6);
    char reference[64];
    std::snprintf(reference, sizeof reference, "%.14e", value);
    ASSERT_EQ(Scientific(NumberToText(value)), Scientific(reference))
        << text << " read as " << value << ", shown as " << NumberToText(value);
  }
}

// A single shows seven digits of its value, rounded as the exact value.
TEST(NumberToTextTest, SinglesShowTheirValueRoundedToSevenDigits) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<float> mantissa(1.0f, 10.0f);
  std::uniform_int_distribution<int> exponent(-3, 9);
  for (int i = 0; i < 20000; ++i) {
    float value = mantissa(random) * std::pow(10.0f, static_cast<float>(exponent(random)));
    if (i % 5 == 0) value = std::nextafter(9.9999995f * std::pow(10.0f, exponent(random)), 0.0f);
    char reference[64];
    std::snprintf(reference, sizeof reference, "%.6e", static_cast<double>(value));
    const std::string text = Value(value).ToText();
    ASSERT_EQ(Scientific(text), Scientific(reference)) << reference << " shown as " << text;
  }
}

// Groups, pads the decimals, rounds halves of the decimal text away from
// zero and never shows a negative zero.
TEST(FormatNumberTest, GroupsPadsAndRoundsHalvesAwayFromZero) {
  EXPECT_EQ(FormatNumber(1234.5), "1,234.50");
  const std::tuple<double, int, const char*> cases[] = {{0.0725 * 100, 6, "7.250000"},
                                                        {5, 3, "5.000"},
                                                        {0.5, 2, "0.50"},
                                                        {-1234567.891, 1, "-1,234,567.9"},
                                                        {999.996, 2, "1,000.00"},
                                                        {12.5, 0, "13"},
                                                        {2.675, 2, "2.68"},
                                                        {-2.675, 2, "-2.68"},
                                                        {1.005, 2, "1.01"},
                                                        {0.125, 2, "0.13"},
                                                        {-0.001, 2, "0.00"},
                                                        {-0.0, 2, "0.00"},
                                                        {-1e-300, 0, "0"}};
  for (const auto& [value, decimals, text] : cases)
    EXPECT_EQ(FormatNumber(value, decimals), text) << value << " to " << decimals;
  // Up to 255 decimals; more is an invalid argument.
  EXPECT_EQ(FormatNumber(1, 255), "1." + std::string(255, '0'));
  EXPECT_THROW(FormatNumber(1, 256), ControlError);
  EXPECT_THROW(FormatNumber(NAN, 2), ControlError);
  // Regional settings: no leading zero, a spaced sign, swapped separators.
  RegionalSettings rs;
  rs.leadingZero = false;
  rs.negativeSign = "- ";
  rs.groupSeparator = '.';
  rs.decimalSeparator = ',';
  rs.defaultDecimals = 3;
  EXPECT_EQ(FormatNumber(-0.5, -1, rs), "- ,500");
  EXPECT_EQ(FormatNumber(1234567, 0, rs), "1.234.567");
}

TEST(FormatNumberTest, ReadsBackWithinHalfAUnitOfTheLastDecimal) {
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> value(-1e6, 1e6);
  for (int i = 0; i < 3000; ++i) {
    const double v = value(gen);
    const int decimals = i % 7;
    const std::string text = FormatNumber(v, decimals);
    const std::optional<double> back = ParseNumber(text);
    ASSERT_TRUE(back.has_value()) << text;
    // Half a unit of the last decimal, plus the rounding to 15 significant digits.
    ASSERT_LE(std::fabs(*back - v), 0.5 * std::pow(10.0, -decimals) + std::fabs(v) * 5e-15) << text;
    const std::size_t point = text.find('.');
    if (decimals == 0)
      ASSERT_EQ(point, std::string::npos) << text;
    else
      ASSERT_EQ(text.size() - point - 1, static_cast<std::size_t>(decimals)) << text;
  }
}

// Val reads the leading number; the text helpers trim only blanks and upper
// only ASCII letters.
TEST(ValTest, ReadsTheLeadingNumberAndTextHelpersTouchOnlyAscii) {
  const std::pair<const char*, double> cases[] = {{"12abc", 12}, {"abc", 0},   {" -3.5e2x", -350},
                                                  {"", 0},       {"1,234", 1}, {"7e", 7},
                                                  {".5.", 0.5},  {" 1 2", 12}};
  for (const auto& [text, value] : cases) EXPECT_EQ(Val(text), value) << text;
  EXPECT_EQ(ControlErrorOf([] { Val("1e999"); }).first, errc::kOverflow);
  EXPECT_EQ(TrimBlanks("  a b \t "), "a b \t");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(ToUpperAscii("abc-Xyz 1\xe9"), "ABC-XYZ 1\xe9");
}

// Rounding to integers takes halves to even; out of range overflows.
TEST(RoundingTest, HalvesGoToEvenAndOutOfRangeOverflows) {
  const std::pair<double, int> cases[] = {{2.5, 2},  {3.5, 4},         {-2.5, -2},
                                          {2.51, 3}, {32767.4, 32767}, {-32768.5, -32768}};
  for (const auto& [value, rounded] : cases) EXPECT_EQ(RoundToInt16(value), rounded) << value;
  EXPECT_EQ(RoundToInt32(-7.49), -7);
  for (double v : {32767.5, -32768.51, 1e10, static_cast<double>(NAN)})
    EXPECT_EQ(ControlErrorOf([v] { RoundToInt16(v); }).first, errc::kOverflow) << v;
  EXPECT_THROW(RoundToInt32(2147483647.5), ControlError);
  EXPECT_EQ(RoundToInt32(2147483647.4), 2147483647);
}

}  // namespace
}  // namespace harnolfees
