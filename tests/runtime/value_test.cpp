#include <gtest/gtest.h>

#include <functional>

#include "harnolfees/runtime.hpp"
#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

void ExpectNullRefused(const std::function<void()>& conversion) {
  EXPECT_EQ(testing::ControlErrorOf(conversion),
            std::make_pair(errc::kTypeMismatch, std::string("Invalid use of Null")));
}

TEST(ValueTest, NullConvertsToNothing) {
  const Value null = Value::Null();
  EXPECT_TRUE(null.IsNull());
  ExpectNullRefused([&] { null.ToDouble(); });
  ExpectNullRefused([&] { null.ToDate(); });
  ExpectNullRefused([&] { null.ToText(); });
  EXPECT_EQ(null.ToTextOrEmpty(), "");
  EXPECT_EQ(Value(std::int16_t{7}).ToTextOrEmpty(), "7");
}

// A single stands for its short decimal; the other kinds take the default
// conversions.
TEST(ValueTest, ToTextShowsEveryKind) {
  const Value rate(0.0725f);
  EXPECT_EQ(rate.ToDouble(), 0.0725);
  EXPECT_EQ(rate.ToText(), "0.0725");
  EXPECT_EQ(FormatNumber(rate.ToDouble() * 100, 6), "7.250000");
  EXPECT_EQ(Value(1.0f / 3.0f).ToText(), "0.3333333");
  EXPECT_EQ(Value(12345678.0f).ToText(), "1.234568E+07");
  EXPECT_EQ(Value(std::int16_t{-12}).ToText(), "-12");
  EXPECT_EQ(Value(std::int32_t{100000}).ToText(), "100000");
  EXPECT_EQ(Value(0.1 + 0.2).ToText(), "0.3");
  EXPECT_EQ(Value(Money::FromText("1250.5")).ToText(), "1250.5");
  EXPECT_EQ(Value(Money::FromText("1250")).ToText(), "1250");
  EXPECT_EQ(Value(Money::FromText("-0.0001")).ToText(), "-0.0001");
  EXPECT_EQ(Value(Money::FromUnits(INT64_MIN)).ToText(), "-922337203685477.5808");
  EXPECT_EQ(Value(DateTime::FromParts(2004, 3, 15, 15, 4, 5)).ToText(), "3/15/2004 3:04:05 PM");
  EXPECT_EQ(Value(true).ToText(), "True");
  EXPECT_EQ(Value(false).ToText(), "False");
  EXPECT_EQ(Value("as is ").ToText(), "as is ");
}

// Dates count days from 12/30/1899 with the time as the fraction, both ways.
TEST(ValueTest, ToDoubleReadsEveryKindAndToDateReadsTextsAndSerials) {
  EXPECT_EQ(Value(std::int32_t{-5}).ToDouble(), -5);
  EXPECT_EQ(Value(Money::FromText("12.3456")).ToDouble(), 12.3456);
  EXPECT_EQ(Value("1,234.5").ToDouble(), 1234.5);
  EXPECT_EQ(Value(true).ToDouble(), -1);
  EXPECT_EQ(Value(DateTime::FromParts(1899, 12, 30)).ToDouble(), 0);
  EXPECT_EQ(Value(DateTime::FromParts(2004, 3, 15, 6)).ToDouble(), 38061.25);
  EXPECT_EQ(Value(DateTime::FromParts(1899, 12, 29, 6)).ToDouble(), -1.25);
  EXPECT_THROW(Value("abc").ToDouble(), ControlError);
  const DateTime d = DateTime::FromParts(2004, 3, 15);
  EXPECT_EQ(Value(d).ToDate(), d);
  EXPECT_EQ(Value("03/15/2004").ToDate(), d);
  EXPECT_EQ(Value(38061.25).ToDate(), DateTime::FromParts(2004, 3, 15, 6));
  EXPECT_EQ(Value(-1.25).ToDate(), DateTime::FromParts(1899, 12, 29, 6));
  EXPECT_THROW(Value("02/30/2004").ToDate(), ControlError);
  EXPECT_THROW(Value(1e9).ToDate(), ControlError);
}

}  // namespace
}  // namespace harnolfees
