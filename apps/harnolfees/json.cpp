#include "json.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace harnolfees::driver {

std::size_t DecodeUtf8At(std::string_view text, std::size_t pos, char32_t& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  std::size_t length;
  char32_t cp;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1Fu;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0Fu;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07u;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - pos < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  codePoint = cp;
  return length;
}

namespace {

void AppendByteEscape(std::string& out, unsigned char b) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[b >> 4];
  out += kHex[b & 0x0F];
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          if (c < 0x20 || c == 0x7F) {
            AppendByteEscape(out, c);
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    char32_t cp;
    const std::size_t length = DecodeUtf8At(text, i, cp);
    if (length == 0) {
      AppendByteEscape(out, c);
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  out += '"';
}

void AppendJsonDouble(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void AppendJsonSingle(std::string& out, float value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void AppendJsonMoney(std::string& out, std::int64_t tenThousandths) {
  // Through unsigned arithmetic, so that the most negative amount has a magnitude.
  const bool negative = tenThousandths < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(tenThousandths)
                                           : static_cast<std::uint64_t>(tenThousandths);
  if (negative) out += '-';
  out += std::to_string(magnitude / 10000);
  unsigned fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", fraction);
    std::string_view text(digits, 4);
    while (text.back() == '0') text.remove_suffix(1);
    out += '.';
    out.append(text);
  }
}

void JsonBuilder::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!hasMember_.empty()) {
    if (hasMember_.back()) out_ += ',';
    hasMember_.back() = true;
  }
}

JsonBuilder& JsonBuilder::BeginObject() {
  BeforeValue();
  out_ += '{';
  hasMember_.push_back(false);
  return *this;
}

JsonBuilder& JsonBuilder::EndObject() {
  out_ += '}';
  if (!hasMember_.empty()) hasMember_.pop_back();
  return *this;
}

JsonBuilder& JsonBuilder::BeginArray() {
  BeforeValue();
  out_ += '[';
  hasMember_.push_back(false);
  return *this;
}

JsonBuilder& JsonBuilder::EndArray() {
  out_ += ']';
  if (!hasMember_.empty()) hasMember_.pop_back();
  return *this;
}

JsonBuilder& JsonBuilder::Key(std::string_view key) {
  BeforeValue();
  AppendJsonString(out_, key);
  out_ += ':';
  afterKey_ = true;
  return *this;
}

JsonBuilder& JsonBuilder::String(std::string_view text) {
  BeforeValue();
  AppendJsonString(out_, text);
  return *this;
}

JsonBuilder& JsonBuilder::Int(std::int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
  return *this;
}

JsonBuilder& JsonBuilder::Double(double value) {
  BeforeValue();
  AppendJsonDouble(out_, value);
  return *this;
}

JsonBuilder& JsonBuilder::Single(float value) {
  BeforeValue();
  AppendJsonSingle(out_, value);
  return *this;
}

JsonBuilder& JsonBuilder::Money(std::int64_t tenThousandths) {
  BeforeValue();
  AppendJsonMoney(out_, tenThousandths);
  return *this;
}

JsonBuilder& JsonBuilder::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
  return *this;
}

JsonBuilder& JsonBuilder::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

}  // namespace harnolfees::driver
