// A small, strict JSON reader for the driver tests: it refuses anything that
// is not valid JSON (RFC 8259), including invalid UTF-8 and raw control
// characters in strings, and keeps object members in their written order.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace harnolfees::testing {

struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string numberText;  // as written, for exact comparisons
  std::string text;
  std::vector<Json> items;
  // Object members in written order (two vectors: a pair would need Json complete).
  std::vector<std::string> keys;
  std::vector<Json> values;

  bool IsNull() const { return kind == Kind::kNull; }
  // Member by key; throws when absent, so a test fails with a clear reason.
  const Json& operator[](std::string_view key) const {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == key) return values[i];
    }
    throw std::runtime_error("no member \"" + std::string(key) + "\"");
  }
  const Json& operator[](std::size_t index) const { return items.at(index); }
  const Json& operator[](int index) const { return items.at(static_cast<std::size_t>(index)); }
  bool Has(std::string_view key) const {
    for (const std::string& k : keys) {
      if (k == key) return true;
    }
    return false;
  }
  const std::vector<std::string>& Keys() const { return keys; }
  int Int() const { return static_cast<int>(number); }
};

class JsonReader {
 public:
  // The value of a whole text; nullopt when the text is not exactly one JSON value.
  static std::optional<Json> Parse(std::string_view text) {
    JsonReader r(text);
    try {
      Json v = r.Value(0);
      r.Blanks();
      if (r.pos_ != text.size()) return std::nullopt;
      return v;
    } catch (const std::runtime_error&) {
      return std::nullopt;
    }
  }

 private:
  explicit JsonReader(std::string_view t) : t_(t) {}
  [[noreturn]] static void Fail() { throw std::runtime_error("invalid JSON"); }
  void Blanks() {
    while (pos_ < t_.size() &&
           (t_[pos_] == ' ' || t_[pos_] == '\t' || t_[pos_] == '\n' || t_[pos_] == '\r')) {
      ++pos_;
    }
  }
  char Peek() {
    if (pos_ >= t_.size()) Fail();
    return t_[pos_];
  }
  void Expect(std::string_view word) {
    if (t_.substr(pos_, word.size()) != word) Fail();
    pos_ += word.size();
  }
  Json Value(int depth) {
    if (depth > 64) Fail();
    Blanks();
    Json v;
    const char c = Peek();
    if (c == '{') {
      v.kind = Json::Kind::kObject;
      ++pos_;
      Blanks();
      if (Peek() == '}') {
        ++pos_;
        return v;
      }
      for (;;) {
        Blanks();
        if (Peek() != '"') Fail();
        std::string key = String();
        Blanks();
        Expect(":");
        v.keys.push_back(std::move(key));
        v.values.push_back(Value(depth + 1));
        Blanks();
        if (Peek() == ',') {
          ++pos_;
          continue;
        }
        Expect("}");
        return v;
      }
    }
    if (c == '[') {
      v.kind = Json::Kind::kArray;
      ++pos_;
      Blanks();
      if (Peek() == ']') {
        ++pos_;
        return v;
      }
      for (;;) {
        v.items.push_back(Value(depth + 1));
        Blanks();
        if (Peek() == ',') {
          ++pos_;
          continue;
        }
        Expect("]");
        return v;
      }
    }
    if (c == '"') {
      v.kind = Json::Kind::kString;
      v.text = String();
      return v;
    }
    if (c == 't') {
      Expect("true");
      v.kind = Json::Kind::kBool;
      v.boolean = true;
      return v;
    }
    if (c == 'f') {
      Expect("false");
      v.kind = Json::Kind::kBool;
      return v;
    }
    if (c == 'n') {
      Expect("null");
      return v;
    }
    v.kind = Json::Kind::kNumber;
    const std::size_t start = pos_;
    auto digits = [&] {
      const std::size_t s = pos_;
      while (pos_ < t_.size() && t_[pos_] >= '0' && t_[pos_] <= '9') ++pos_;
      if (pos_ == s) Fail();
    };
    if (Peek() == '-') ++pos_;
    if (Peek() == '0') {
      ++pos_;
    } else {
      digits();
    }
    if (pos_ < t_.size() && t_[pos_] == '.') {
      ++pos_;
      digits();
    }
    if (pos_ < t_.size() && (t_[pos_] == 'e' || t_[pos_] == 'E')) {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      digits();
    }
    v.numberText = std::string(t_.substr(start, pos_ - start));
    v.number = std::stod(v.numberText);
    return v;
  }
  static void PutUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  std::uint32_t Hex4() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = Peek();
      ++pos_;
      v <<= 4;
      if (h >= '0' && h <= '9') {
        v |= static_cast<std::uint32_t>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        v |= static_cast<std::uint32_t>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        v |= static_cast<std::uint32_t>(h - 'A' + 10);
      } else {
        Fail();
      }
    }
    return v;
  }
  std::string String() {
    Expect("\"");
    std::string out;
    for (;;) {
      const auto c = static_cast<unsigned char>(Peek());
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c < 0x20) Fail();
      if (c == '\\') {
        ++pos_;
        const char e = Peek();
        ++pos_;
        switch (e) {
          case '"':
          case '\\':
          case '/':
            out += e;
            break;
          case 'b':
            out += '\b';
            break;
          case 'f':
            out += '\f';
            break;
          case 'n':
            out += '\n';
            break;
          case 'r':
            out += '\r';
            break;
          case 't':
            out += '\t';
            break;
          case 'u': {
            std::uint32_t cp = Hex4();
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              Expect("\\u");
              const std::uint32_t low = Hex4();
              if (low < 0xDC00 || low > 0xDFFF) Fail();
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
              Fail();
            }
            PutUtf8(out, cp);
            break;
          }
          default:
            Fail();
        }
        continue;
      }
      if (c < 0x80) {
        out += static_cast<char>(c);
        ++pos_;
        continue;
      }
      // A multi-byte UTF-8 sequence, checked strictly.
      int length = 0;
      std::uint32_t cp = 0, minimum = 0;
      if (c >= 0xC2 && c <= 0xDF) {
        length = 2, cp = c & 0x1F, minimum = 0x80;
      } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, cp = c & 0x0F, minimum = 0x800;
      } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, cp = c & 0x07, minimum = 0x10000;
      } else {
        Fail();
      }
      if (pos_ + static_cast<std::size_t>(length) > t_.size()) Fail();
      for (int i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(t_[pos_ + static_cast<std::size_t>(i)]);
        if ((b & 0xC0) != 0x80) Fail();
        cp = (cp << 6) | (b & 0x3F);
      }
      if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) Fail();
      out.append(t_.substr(pos_, static_cast<std::size_t>(length)));
      pos_ += static_cast<std::size_t>(length);
    }
  }

  std::string_view t_;
  std::size_t pos_ = 0;
};

}  // namespace harnolfees::testing
