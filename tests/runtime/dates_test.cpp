#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "harnolfees/runtime.hpp"
#include "support/fake_host.hpp"

namespace harnolfees {
namespace {

DateTime D(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
  return DateTime::FromParts(y, m, d, h, mi, s);
}

TEST(DateTimeTest, CountsDaysFromTheEpoch) {
  EXPECT_EQ(D(1970, 1, 1).DaySerial(), 0);
  EXPECT_EQ(D(2004, 3, 15).DaySerial(), 12492);
  EXPECT_EQ(D(1969, 12, 31).DaySerial(), -1);
  const DateTime t = D(2004, 2, 29, 23, 59, 58);
  EXPECT_EQ((std::array{t.Year(), t.Month(), t.Day(), t.Hour(), t.Minute(), t.Second()}),
            (std::array{2004, 2, 29, 23, 59, 58}));
  EXPECT_EQ(DateTime::FromSerial(0, 86400 + 5), D(1970, 1, 2, 0, 0, 5));
  EXPECT_EQ(DateTime::FromSerial(0, -1), D(1969, 12, 31, 23, 59, 59));
  EXPECT_THROW(DateTime::FromSerial(INT32_MAX, 86400), ControlError);
  EXPECT_EQ(DateTime::FromSerial(INT32_MIN, 0).DateOnly().SecondOfDay(), 0);
  EXPECT_GT(DateTime::FromSerial(INT32_MAX, 86399).Year(), 9999);
}

TEST(DateTimeTest, RefusesInvalidParts) {
  // Each part is checked at both ends.
  const std::array<int, 6> invalid[] = {
      {2004, 2, 30, 0, 0, 0}, {2003, 2, 29, 0, 0, 0}, {1900, 2, 29, 0, 0, 0},
      {2004, 13, 1, 0, 0, 0}, {99, 1, 1, 0, 0, 0},    {10000, 1, 1, 0, 0, 0},
      {2004, 1, 1, 24, 0, 0}, {2004, 0, 1, 0, 0, 0},  {2004, 1, 0, 0, 0, 0},
      {2004, 1, 1, -1, 0, 0}, {2004, 1, 1, 0, 60, 0}, {2004, 1, 1, 0, -1, 0},
      {2004, 1, 1, 0, 0, 60}, {2004, 1, 1, 0, 0, -1}};
  for (const auto& [y, m, d, h, mi, s] : invalid)
    EXPECT_FALSE(DateTime::TryFromParts(y, m, d, h, mi, s))
        << y << "-" << m << "-" << d << " " << h << ":" << mi << ":" << s;
  EXPECT_TRUE(DateTime::TryFromParts(2000, 2, 29));
  EXPECT_TRUE(DateTime::TryFromParts(2004, 12, 31, 23, 59, 59));
  EXPECT_EQ(DateTime::DaysInMonth(2004, 2), 29);
  const std::pair<int, int> outside[] = {{2004, 0}, {2004, 13}, {99, 1}, {10000, 1}};
  for (const auto& [year, month] : outside)
    EXPECT_EQ(DateTime::DaysInMonth(year, month), 0) << year << "-" << month;
  EXPECT_THROW(D(2004, 4, 31), ControlError);
}

TEST(DateTimeTest, AddMonthsClampsToTheMonthEnd) {
  EXPECT_EQ(D(2004, 2, 29).AddYears(1), D(2005, 2, 28));
  EXPECT_EQ(D(2004, 4, 30).AddMonths(-2), D(2004, 2, 29));
  EXPECT_EQ(D(2004, 1, 31).AddMonths(1), D(2004, 2, 29));
  EXPECT_EQ(D(2004, 11, 15, 8).AddMonths(3), D(2005, 2, 15, 8));
  EXPECT_EQ(D(2004, 1, 15).AddMonths(-13), D(2002, 12, 15));
  EXPECT_THROW(D(100, 1, 1).AddMonths(-1), ControlError);
  EXPECT_THROW(D(9999, 12, 1).AddMonths(1), ControlError);
  EXPECT_THROW(D(2004, 1, 1).AddMonths(2147483647), ControlError);
}

TEST(DateFormatTest, WritesTheFixedFormsAndTheDefaultText) {
  EXPECT_EQ(FormatDateMmmDdYyyy(D(2004, 1, 5)), "Jan 05, 2004");
  EXPECT_EQ(FormatDateMmmDdYyyy(D(2004, 12, 31)), "Dec 31, 2004");
  EXPECT_EQ(FormatDateMmmDdYyyy(D(100, 3, 9)), "Mar 09, 0100");
  // Serials beyond the years that dates are made of still show their year.
  EXPECT_EQ(FormatDateMmmDdYyyy(DateTime::FromSerial(D(9999, 12, 31).DaySerial() + 1, 0)),
            "Jan 01, 10000");
  RegionalSettings rs;
  rs.monthAbbreviations[6] = "Juli";
  EXPECT_EQ(FormatDateMmmDdYyyy(D(2004, 7, 4), rs), "Juli 04, 2004");
  EXPECT_EQ(FormatDateMmDdYyyy(D(2004, 1, 5)), "01/05/2004");
  rs.dateSeparator = '-';
  EXPECT_EQ(FormatDateMmDdYyyy(D(2004, 1, 5), rs), "01-05-2004");
  EXPECT_EQ(DateToIso(D(2004, 3, 15)), "2004-03-15T00:00:00");
  EXPECT_EQ(DateToIso(D(987, 3, 5, 7, 8, 9)), "0987-03-05T07:08:09");
  // The default text shows the time only when it is not midnight.
  EXPECT_EQ(DateToText(D(2004, 3, 15)), "3/15/2004");
  EXPECT_EQ(DateToText(D(2004, 3, 15, 15, 4, 5)), "3/15/2004 3:04:05 PM");
  EXPECT_EQ(DateToText(D(2004, 3, 15, 0, 0, 1)), "3/15/2004 12:00:01 AM");
  EXPECT_EQ(DateToText(D(2004, 3, 15, 12, 30, 0)), "3/15/2004 12:30:00 PM");
}

TEST(DateParseTest, ReadsTheAcceptedFormsAndRefusesInvalidDatesAndTexts) {
  const std::pair<DateTime, std::vector<const char*>> cases[] = {
      {D(2004, 3, 15), {"3/15/2004", "2004-03-15", "3/15/04"}},
      {D(2004, 3, 5), {" 03/05/2004 "}},
      {D(2004, 3, 15, 15, 4, 5),
       {"3/15/2004 3:04:05 PM", "3/15/2004 15:04:05", "2004-03-15 15:04:05",
        "2004-03-15T15:04:05.250Z", "2004-03-15T15:04:05+05:30"}},
      {D(2004, 3, 15, 0, 0, 1), {"3/15/2004 12:00:01 am"}},
      {D(2004, 3, 15, 15, 4), {"3/15/2004 15:04", "2004-03-15T15:04"}},
      {D(2004, 1, 5), {"Jan 05, 2004", "jAN 5 2004"}},
      {D(2004, 9, 30), {"September 30, 2004"}}};
  for (const auto& [date, texts] : cases)
    for (const char* text : texts) EXPECT_EQ(ParseDate(text), date) << text;
  for (const char* text : {"", "02/30/2004", "13/01/2004", "abc", "3/15/2004 25:00:00",
                           "3/15/2004 13:00 PM", "Jan 32, 2004", "Foo 01, 2004", "2004-03-15T15",
                           "2004-03-15 x", "3/15/2004x", "3/15/20045", "3x15x2004"})
    EXPECT_FALSE(ParseDate(text).has_value()) << text;
  EXPECT_EQ(testing::ControlErrorOf([] { TextToDate("02/30/2004"); }),
            std::make_pair(errc::kTypeMismatch,
                           std::string("Type mismatch: '02/30/2004' is not a date")));
}

TEST(DateParseTest, FormattedDatesReadBack) {
  for (std::int32_t day = -700000; day < 2900000; day += 997) {
    const DateTime d = DateTime::FromSerial(day, (day * 37) % 86400 < 0 ? 0 : (day * 37) % 86400);
    if (d.Year() < 100 || d.Year() > 9999) continue;
    ASSERT_EQ(ParseDate(DateToText(d)), d) << DateToText(d);
    ASSERT_EQ(ParseDate(DateToIso(d)), d) << DateToIso(d);
    ASSERT_EQ(ParseDate(FormatDateMmmDdYyyy(d)), d.DateOnly());
    ASSERT_EQ(ParseDate(FormatDateMmDdYyyy(d)), d.DateOnly());
  }
}

}  // namespace
}  // namespace harnolfees
