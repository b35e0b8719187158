#include <gtest/gtest.h>

#include "harnolfees/runtime.hpp"
#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

int ErrorOf(std::string_view text) {
  return testing::ControlErrorOf([text] { Money::FromText(text); }).first;
}

// Number texts are read exactly and rounded to four decimals, halves to even.
TEST(MoneyTest, ReadsNumberTextsExactlyRoundingHalvesToEven) {
  const std::pair<const char*, std::int64_t> cases[] = {{"1,250.50", 12505000},
                                                        {" -3.5 ", -35000},
                                                        {"0.0725", 725},
                                                        {"1.5E+3", 15000000},
                                                        {"922,337,203,685,477.5807", INT64_MAX},
                                                        {"-922337203685477.5808", INT64_MIN},
                                                        {"0.00005", 0},
                                                        {"0.00015", 2},
                                                        {"0.000150001", 2},
                                                        {"0.00025", 2},
                                                        {"-0.00025", -2},
                                                        {"0.000251", 3},
                                                        {"0.00004999", 0}};
  for (const auto& [text, units] : cases) EXPECT_EQ(Money::FromText(text).Units(), units) << text;
  EXPECT_EQ(Money::FromDouble(0.0725).Units(), 725);
}

TEST(MoneyTest, DistinguishesOverflowFromTypeMismatchAndTellsOverflowAhead) {
  for (const char* text :
       {"922337203685477.5808", "-922337203685477.5809", "1E+16", "1E+999999999999"})
    EXPECT_EQ(ErrorOf(text), errc::kOverflow) << text;
  EXPECT_EQ(ErrorOf("abc"), errc::kTypeMismatch);
  EXPECT_EQ(ErrorOf(""), errc::kTypeMismatch);
  EXPECT_EQ(ErrorOf("1E-999999999999"), 0);
  EXPECT_THROW(Money::FromDouble(1e300), ControlError);
  // The range check is true only for what overflows.
  for (const char* text :
       {"1E+16", "922,337,203,685,478", "-922,337,203,685,477.58086", "922,337,203,685,477.58075"})
    EXPECT_TRUE(ExceedsCurrencyRange(text)) << text;
  for (const char* text : {"-922,337,203,685,477.58085", "922,337,203,685,477",
                           "922,337,203,685,477.58074", "abc", "", "-120"})
    EXPECT_FALSE(ExceedsCurrencyRange(text)) << text;
}

}  // namespace
}  // namespace harnolfees
