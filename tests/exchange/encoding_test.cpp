// The Windows-1252 conversions and the form encoding of statements.
#include "harnolfees/encoding.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/test_http_server.hpp"

namespace harnolfees {
namespace {

std::string Encoded(std::string_view text) {
  auto out = FormEncode(text);
  EXPECT_TRUE(out.has_value()) << text;
  return out.value_or("<none>");
}

TEST(FormEncode, ReservedAndUnreservedCharacters) {
  EXPECT_EQ(Encoded("a b"), "a+b");
  EXPECT_EQ(Encoded("50%"), "50%25");
  EXPECT_EQ(Encoded("'"), "%27");
  EXPECT_EQ(Encoded("="), "%3D");
  EXPECT_EQ(Encoded("\r\n"), "%0D%0A");
  EXPECT_EQ(Encoded("~"), "%7E");
  EXPECT_EQ(Encoded("+&/?#"), "%2B%26%2F%3F%23");
  EXPECT_EQ(Encoded("AZaz09-_.*"), "AZaz09-_.*");
  EXPECT_EQ(Encoded(""), "");
  EXPECT_EQ(Encoded(std::string("\0\t", 2)), "%00%09");
  EXPECT_EQ(Encoded("DELETE FROM X WHERE A = 'b'"), "DELETE+FROM+X+WHERE+A+%3D+%27b%27");
}

TEST(FormEncode, CharactersAboveAsciiTakeTheirWindows1252Byte) {
  EXPECT_EQ(Encoded("\xC3\xA9"), "%E9");             // e acute
  EXPECT_EQ(Encoded("\xE2\x82\xAC"), "%80");         // euro sign
  EXPECT_EQ(Encoded("\xC5\xB8"), "%9F");             // Y diaeresis
  EXPECT_EQ(Encoded("\xC2\xA0\xC3\xBF"), "%A0%FF");  // no-break space, y diaeresis
  EXPECT_EQ(Encoded("\xE2\x80\x99"), "%92");         // right single quote
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
