// Windows-1252 conversions and the form encoding of statements. The server
// page decodes posted statements in Windows-1252, so every text that goes out
// is converted here first; inside the program texts stay UTF-8.
#include "harnolfees/encoding.hpp"

#include <array>
#include <cstdint>

#include "exchange/encoding_detail.hpp"

namespace harnolfees {
namespace {

// Unicode code points of the bytes 0x80..0x9F. The five bytes the code page
// leaves undefined map to the C1 control of the same value, as Windows does,
// so that every byte sequence decodes and encodes back unchanged.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Reads one code point starting at `pos`; returns the number of bytes it
// takes, or 0 when the bytes there are not well-formed UTF-8 (overlong forms,
// surrogates and values above U+10FFFF included).
std::size_t DecodeOne(std::string_view s, std::size_t pos, char32_t& out) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char b0 = byte(pos);
  if (b0 < 0x80) {
    out = b0;
    return 1;
  }
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  out = cp;
  return len;
}

// Appends a converted text; `lenient` replaces what cannot be converted by
// `?`, otherwise the conversion fails.
bool ToWindows1252(std::string_view utf8, std::string& out, bool lenient) {
  out.reserve(out.size() + utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = 0;
    std::size_t len = DecodeOne(utf8, pos, cp);
    if (len == 0) {
      if (!lenient) return false;
      out += '?';
      ++pos;
      continue;
    }
    pos += len;
    if (auto b = detail::Windows1252Byte(cp)) {
      out += static_cast<char>(*b);
    } else {
      if (!lenient) return false;
      out += '?';
    }
  }
  return true;
}

}  // namespace

namespace detail {

std::optional<unsigned char> Windows1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp) return static_cast<unsigned char>(0x80 + i);
  }
  return std::nullopt;
}

std::string Windows1252Lenient(std::string_view utf8) {
  std::string out;
  ToWindows1252(utf8, out, true);
  return out;
}

void AppendFormEncoded(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.reserve(out.size() + bytes.size() * 3);
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    if (c == ' ') {
      out += '+';
    } else if (c == '*' || c == '-' || c == '.' || c == '_' || (c >= '0' && c <= '9') ||
               (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
}

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    std::size_t len = DecodeOne(text, pos, cp);
    if (len == 0) return false;
    pos += len;
  }
  return true;
}

}  // namespace detail

std::optional<std::string> Utf8ToWindows1252(std::string_view utf8) {
  std::string out;
  if (!ToWindows1252(utf8, out, false)) return std::nullopt;
  return out;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    if (b >= 0x80 && b < 0xA0) {
      AppendUtf8(out, kHighControls[b - 0x80]);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

std::optional<char32_t> Windows1252CodePoint(unsigned char byte) {
  if (byte < 0x80 || byte >= 0xA0) return byte;
  const char32_t cp = kHighControls[byte - 0x80];
  if (cp == byte) return std::nullopt;  // undefined: mapped to itself above
  return cp;
}

bool IsWindows1252Encodable(std::string_view utf8) {
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = 0;
    std::size_t len = DecodeOne(utf8, pos, cp);
    if (len == 0 || !detail::Windows1252Byte(cp)) return false;
    pos += len;
  }
  return true;
}

std::optional<std::string> FormEncode(std::string_view utf8) {
  auto bytes = Utf8ToWindows1252(utf8);
  if (!bytes) return std::nullopt;
  std::string out;
  detail::AppendFormEncoded(out, *bytes);
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
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

}  // namespace harnolfees
