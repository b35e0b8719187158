#include <gtest/gtest.h>

#include "harnolfees/runtime.hpp"
#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

int ErrorOf(std::string_view text) {
  return testing::ControlErrorOf([text] { Money::FromText(text); }).first;
}

TEST(MoneyTest, ReadsNumberTextsExactly) {
  EXPECT_EQ(Money::FromText("1,250.50").Units(), 12505000);
  EXPECT_EQ(Money::FromText(" -3.5 ").Units(), -35000);
  EXPECT_EQ(Money::FromText("0.0725").Units(), 725);
  EXPECT_EQ(Money::FromText("1.5E+3").Units(), 15000000);
  EXPECT_EQ(Money::FromText("922,337,203,685,477.5807").Units(), INT64_MAX);
  EXPECT_EQ(Money::FromText("-922337203685477.5808").Units(), INT64_MIN);
}

TEST(MoneyTest, RoundsToFourDecimalsHalvesToEven) {
  EXPECT_EQ(Money::FromText("0.00005").Units(), 0);
  EXPECT_EQ(Money::FromText("0.00015").Units(), 2);
  EXPECT_EQ(Money::FromText("0.000150001").Units(), 2);
  EXPECT_EQ(Money::FromText("0.00025").Units(), 2);
  EXPECT_EQ(Money::FromText("-0.00025").Units(), -2);
  EXPECT_EQ(Money::FromText("0.000251").Units(), 3);
  EXPECT_EQ(Money::FromText("0.00004999").Units(), 0);
  EXPECT_EQ(Money::FromDouble(0.0725).Units(), 725);
}

TEST(MoneyTest, DistinguishesOverflowFromTypeMismatch) {
  EXPECT_EQ(ErrorOf("922337203685477.5808"), errc::kOverflow);
  EXPECT_EQ(ErrorOf("-922337203685477.5809"), errc::kOverflow);
  EXPECT_EQ(ErrorOf("1E+16"), errc::kOverflow);
  EXPECT_EQ(ErrorOf("1E+999999999999"), errc::kOverflow);
  EXPECT_EQ(ErrorOf("abc"), errc::kTypeMismatch);
  EXPECT_EQ(ErrorOf(""), errc::kTypeMismatch);
  EXPECT_EQ(ErrorOf("1E-999999999999"), 0);
  EXPECT_THROW(Money::FromDouble(1e300), ControlError);
}

TEST(MoneyTest, ExceedsCurrencyRangeIsTrueOnlyForOverflow) {
  EXPECT_TRUE(ExceedsCurrencyRange("1E+16"));
  EXPECT_TRUE(ExceedsCurrencyRange("922,337,203,685,478"));
  EXPECT_TRUE(ExceedsCurrencyRange("-922,337,203,685,477.58086"));
  EXPECT_FALSE(ExceedsCurrencyRange("-922,337,203,685,477.58085"));
  EXPECT_TRUE(ExceedsCurrencyRange("922,337,203,685,477.58075"));
  EXPECT_FALSE(ExceedsCurrencyRange("922,337,203,685,477"));
  EXPECT_FALSE(ExceedsCurrencyRange("922,337,203,685,477.58074"));
  EXPECT_FALSE(ExceedsCurrencyRange("abc"));
  EXPECT_FALSE(ExceedsCurrencyRange(""));
  EXPECT_FALSE(ExceedsCurrencyRange("-120"));
}

}  // namespace
}  // namespace harnolfees
