#include <gtest/gtest.h>

#include <limits>

#include "json.hpp"
#include "support/mini_json.hpp"

namespace harnolfees::driver {
namespace {

using harnolfees::testing::JsonReader;

// What one of the writers appends for `value`.
template <typename Value>
std::string Json(void (*append)(std::string&, Value), Value value) {
  std::string out;
  append(out, value);
  return out;
}

std::string Quoted(std::string_view text) { return Json(AppendJsonString, text); }

TEST(JsonStrings, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(Quoted("plain"), "\"plain\"");
  EXPECT_EQ(Quoted("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(Quoted("\n\r\t"), R"("\n\r\t")");
  EXPECT_EQ(Quoted(std::string("\0\x01\x1f\x7f", 4)), R"("\u0000\u0001\u001f\u007f")");
}

TEST(JsonStrings, ValidUtf8PassesAndInvalidBytesBecomeTheirOwnCodePoint) {
  EXPECT_EQ(Quoted("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"),
            "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"");
  // A Windows-1252 e-acute, a stray continuation byte, an overlong slash, an
  // encoded surrogate, a truncated sequence and a byte beyond U+10FFFF.
  EXPECT_EQ(Quoted("caf\xe9"), R"("caf\u00e9")");
  EXPECT_EQ(Quoted("\x80"), R"("\u0080")");
  EXPECT_EQ(Quoted("\xc0\xaf"), R"("\u00c0\u00af")");
  EXPECT_EQ(Quoted("\xed\xa0\x80"), R"("\u00ed\u00a0\u0080")");
  EXPECT_EQ(Quoted("\xe2\x82"), R"("\u00e2\u0082")");
  EXPECT_EQ(Quoted("\xf5\x80\x80\x80"), R"("\u00f5\u0080\u0080\u0080")");
}

TEST(JsonStrings, EveryByteStringGivesValidJson) {
  // All two-byte strings cover every lead byte followed by every possible next byte.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; b += 7) {
      const std::string text{static_cast<char>(a), static_cast<char>(b), '\xbf'};
      ASSERT_TRUE(JsonReader::Parse(Quoted(text)).has_value()) << a << " " << b;
    }
  }
}

TEST(JsonNumbers, MoneyIsExactSinglesAndDoublesShortest) {
  auto money = [](std::int64_t units) { return Json(AppendJsonMoney, units); };
  EXPECT_EQ(money(0), "0");
  EXPECT_EQ(money(2505000), "250.5");
  EXPECT_EQ(money(-725), "-0.0725");
  EXPECT_EQ(money(10001), "1.0001");
  EXPECT_EQ(money(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808");
  EXPECT_EQ(Json(AppendJsonSingle, 0.0725f), "0.0725");
  EXPECT_EQ(Json(AppendJsonDouble, 0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(Json(AppendJsonDouble, std::numeric_limits<double>::quiet_NaN()), "null");
}

}  // namespace
}  // namespace harnolfees::driver
