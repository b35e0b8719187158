// A small, strict JSON reader for the tests: it refuses anything that is not
// valid JSON (RFC 8259), including invalid UTF-8 and raw control characters in
// strings, keeps object members in their written order and every value's
// text as written.
#pragma once

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "harnolfees/encoding.hpp"

namespace harnolfees::testing {

struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string raw;   // the value as written, for exact comparisons
  std::string text;  // of a string
  std::vector<Json> items;
  // Object members in written order (two vectors: a pair would need Json complete).
  std::vector<std::string> keys;
  std::vector<Json> values;

  int Int() const { return std::stoi(raw); }
  bool Has(std::string_view key) const {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
  }
  // Throws when absent, so that a test fails with a clear reason.
  const Json& operator[](std::string_view key) const {
    const auto at = std::find(keys.begin(), keys.end(), key);
    if (at == keys.end()) throw std::runtime_error("no member \"" + std::string(key) + "\"");
    return values[static_cast<std::size_t>(at - keys.begin())];
  }
  const Json& operator[](int index) const { return items.at(static_cast<std::size_t>(index)); }
};

class JsonReader {
 public:
  // The value of a whole text; nullopt unless the text is exactly one JSON
  // value.
  static std::optional<Json> Parse(std::string_view text) {
    JsonReader r{text};
    try {
      Json v = r.Value(0);
      r.Blanks();
      if (r.pos_ == text.size()) return v;
    } catch (const std::runtime_error&) {
    }
    return std::nullopt;
  }

 private:
  explicit JsonReader(std::string_view t) : t_(t) {}
  [[noreturn]] static void Fail() { throw std::runtime_error("invalid JSON"); }
  unsigned char Peek() const { return pos_ < t_.size() ? t_[pos_] : (Fail(), 0); }
  bool Take(char c) { return Peek() == static_cast<unsigned char>(c) ? (++pos_, true) : false; }
  void Blanks() {
    while (pos_ < t_.size() && std::string_view(" \t\n\r").find(t_[pos_]) != std::string_view::npos)
      ++pos_;
  }
  void Word(std::string_view w) {
    if (t_.substr(pos_, w.size()) != w) Fail();
    pos_ += w.size();
  }
  void Digits() {
    const std::size_t start = pos_;
    while (pos_ < t_.size() && t_[pos_] >= '0' && t_[pos_] <= '9') ++pos_;
    if (pos_ == start) Fail();
  }

  Json Value(int depth) {
    Blanks();
    const std::size_t start = pos_;
    Json v = Bare(depth);
    v.raw = t_.substr(start, pos_ - start);
    return v;
  }

  Json Bare(int depth) {
    if (depth > 64) Fail();
    Json v;
    if (Take('{')) {
      v.kind = Json::Kind::kObject;
      Blanks();
      if (Take('}')) return v;
      do {
        Blanks();
        v.keys.push_back(String());
        Blanks();
        if (!Take(':')) Fail();
        v.values.push_back(Value(depth + 1));
        Blanks();
      } while (Take(','));
      if (!Take('}')) Fail();
    } else if (Take('[')) {
      v.kind = Json::Kind::kArray;
      Blanks();
      if (Take(']')) return v;
      do {
        v.items.push_back(Value(depth + 1));
        Blanks();
      } while (Take(','));
      if (!Take(']')) Fail();
    } else if (Peek() == '"') {
      v.kind = Json::Kind::kString;
      v.text = String();
    } else if (Peek() == 't' || Peek() == 'f') {
      v.kind = Json::Kind::kBool;
      v.boolean = Peek() == 't';
      Word(v.boolean ? "true" : "false");
    } else if (Peek() == 'n') {
      Word("null");
    } else {
      v.kind = Json::Kind::kNumber;
      Take('-');
      if (!Take('0')) Digits();
      if (pos_ < t_.size() && Take('.')) Digits();
      if (pos_ < t_.size() && (Take('e') || Take('E'))) {
        if (!Take('+')) Take('-');
        Digits();
      }
    }
    return v;
  }

  unsigned Hex4() {
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = static_cast<char>(Peek());
      const std::size_t d = std::string_view("0123456789abcdef").find(h | 0x20);
      if (d == std::string_view::npos) Fail();
      v = v * 16 + static_cast<unsigned>(d);
      ++pos_;
    }
    return v;
  }

  std::string String() {
    if (!Take('"')) Fail();
    std::string out;
    for (;;) {
      const unsigned char c = Peek();
      ++pos_;
      if (c == '"') return out;
      if (c < 0x20) Fail();
      if (c == '\\') {
        const char e = static_cast<char>(Peek());
        ++pos_;
        const std::size_t simple = std::string_view("\"\\/bfnrt").find(e);
        if (simple != std::string_view::npos) {
          out += "\"\\/\b\f\n\r\t"[simple];
        } else if (e == 'u') {
          unsigned cp = Hex4();
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            Word("\\u");
            const unsigned low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail();
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            Fail();
          }
          AppendUtf8(out, cp);
        } else {
          Fail();
        }
        continue;
      }
      // Multi-byte UTF-8, strictly: no overlong forms, surrogates or values past U+10FFFF.
      const int extra = c < 0x80                 ? 0
                        : c >= 0xC2 && c <= 0xDF ? 1
                        : c >= 0xE0 && c <= 0xEF ? 2
                        : c >= 0xF0 && c <= 0xF4 ? 3
                                                 : -1;
      if (extra < 0) Fail();
      unsigned cp = extra == 0 ? c : c & (0x3Fu >> extra);
      for (int i = 0; i < extra; ++i) {
        const unsigned char b = Peek();
        if ((b & 0xC0) != 0x80) Fail();
        cp = (cp << 6) | (b & 0x3F);
        ++pos_;
      }
      static constexpr unsigned kMin[] = {0, 0x80, 0x800, 0x10000};
      if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) Fail();
      out.append(t_.substr(pos_ - static_cast<std::size_t>(extra) - 1,
                           static_cast<std::size_t>(extra) + 1));
    }
  }

  std::string_view t_;
  std::size_t pos_ = 0;
};

}  // namespace harnolfees::testing
