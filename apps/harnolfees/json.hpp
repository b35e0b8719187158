// JSON Lines output of the headless driver.
//
// Texts inside the control are UTF-8, but nothing guarantees it: the server,
// the operator script (\xHH escapes) and the lookup lists can all carry bytes
// that are not valid UTF-8. Valid sequences are written unchanged; every byte
// that is not part of a valid sequence is written as the escape \u00XX of its
// own value, so the line stays valid JSON and the byte stays recognisable
// (a reader sees the character whose Latin-1 code is that byte).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace harnolfees::driver {

// The length of the valid UTF-8 sequence that starts at `pos` (1 to 4), or 0
// when the byte there does not start one (stray continuation byte, overlong
// form, surrogate, beyond U+10FFFF, truncated). Stores the code point.
std::size_t DecodeUtf8At(std::string_view text, std::size_t pos, char32_t& codePoint);

// Appends `text` as a JSON string literal, quotes included.
void AppendJsonString(std::string& out, std::string_view text);
// Appends a JSON number; NaN and infinities, which JSON cannot carry, as null.
void AppendJsonDouble(std::string& out, double value);
// The shortest decimal text that reads back to the same single.
void AppendJsonSingle(std::string& out, float value);
// A money amount of ten-thousandths, exactly: 12.5, -0.0725, 3.
void AppendJsonMoney(std::string& out, std::int64_t tenThousandths);

// Builds one JSON value, inserting commas itself.
class JsonBuilder {
 public:
  JsonBuilder& BeginObject();
  JsonBuilder& EndObject();
  JsonBuilder& BeginArray();
  JsonBuilder& EndArray();
  JsonBuilder& Key(std::string_view key);
  JsonBuilder& String(std::string_view text);
  JsonBuilder& Int(std::int64_t value);
  JsonBuilder& Double(double value);
  JsonBuilder& Single(float value);
  JsonBuilder& Money(std::int64_t tenThousandths);
  JsonBuilder& Bool(bool value);
  JsonBuilder& Null();

  // Shorthands for a key followed by its value.
  JsonBuilder& Field(std::string_view key, std::string_view text) { return Key(key).String(text); }
  JsonBuilder& Field(std::string_view key, const char* text) { return Key(key).String(text); }
  JsonBuilder& Field(std::string_view key, const std::string& text) {
    return Key(key).String(text);
  }
  JsonBuilder& Field(std::string_view key, int value) { return Key(key).Int(value); }
  JsonBuilder& Field(std::string_view key, bool value) { return Key(key).Bool(value); }

  const std::string& str() const { return out_; }
  std::string Take() { return std::move(out_); }

 private:
  void BeforeValue();
  std::string out_;
  // One entry per open object or array: whether it already has a member.
  std::vector<bool> hasMember_;
  bool afterKey_ = false;
};

}  // namespace harnolfees::driver
