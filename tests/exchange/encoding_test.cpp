// The Windows-1252 conversions and the form encoding of statements.
#include "harnolfees/encoding.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/test_http_server.hpp"

namespace harnolfees {
namespace {

// Reserved and unreserved ASCII, and characters above ASCII as their
// Windows-1252 byte (the plain cases: the host_members scenario).
TEST(FormEncode, EncodesEveryCharacterAsTheFormExpects) {
  const std::pair<std::string, std::string> cases[] = {
      {"+&/?#", "%2B%26%2F%3F%23"},
      {std::string("\0\t", 2), "%00%09"},
      {"\xC3\xA9\xE2\x82\xAC\xC5\xB8", "%E9%80%9F"},  // e acute, euro sign, Y diaeresis
      {"\xC2\xA0\xC3\xBF\xE2\x80\x99", "%A0%FF%92"},  // no-break space, y diaeresis, quote
  };
  for (const auto& [text, encoded] : cases) EXPECT_EQ(FormEncode(text), encoded) << text;
}

TEST(FormEncode, RefusesWhatWindows1252CannotHold) {
  EXPECT_FALSE(FormEncode("\xE4\xB8\xAD"));         // CJK ideograph
  EXPECT_FALSE(FormEncode("ok \xF0\x9F\x98\x80"));  // emoji after valid text
  EXPECT_FALSE(FormEncode("\xC4\x80"));             // A macron
  EXPECT_FALSE(FormEncode("\xC3"));                 // truncated sequence
  EXPECT_FALSE(FormEncode("\xC0\xA7"));             // overlong apostrophe
  EXPECT_FALSE(FormEncode("\xED\xA0\x80"));         // surrogate
  EXPECT_FALSE(FormEncode("\xE9"));                 // a bare Windows-1252 byte
  EXPECT_FALSE(IsWindows1252Encodable("caf\xC3\xA9 \xE2\x84\xA2 \xE2\x88\x9A"));
  EXPECT_TRUE(IsWindows1252Encodable("caf\xC3\xA9 \xE2\x84\xA2"));
  EXPECT_TRUE(StatementEncodable(" INSERT INTO X VALUES ('\xC3\xA9')"));
}

TEST(Windows1252, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string utf8 = Windows1252ToUtf8(all);
  auto back = Utf8ToWindows1252(utf8);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, all);
  EXPECT_EQ(Windows1252ToUtf8("\x80\x99"), "\xE2\x82\xAC\xE2\x84\xA2");
  EXPECT_EQ(Windows1252ToUtf8("caf\xE9"), "caf\xC3\xA9");
}

TEST(FormEncode, DecodesBackToTheSameText) {
  const std::string texts[] = {
      "",
      " UPDATE MembershipFee SET MembershipFee = 12.5 WHERE EffectivityDate = '3/15/2004'",
      "50% + 25% = 75%\r\nnext line\ttab",
      "Caf\xC3\xA9 \xE2\x82\xAC 100 \xE2\x80\x9Cquoted\xE2\x80\x9D ~!@#$^&*()[]{}|\\<>,;:\"",
  };
  for (const auto& text : texts) {
    auto encoded = FormEncode(text);
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(encoded->find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789*-._+%"),
              std::string::npos);
    EXPECT_EQ(testing::DecodeFormValue(*encoded), text);
  }
}

}  // namespace
}  // namespace harnolfees
