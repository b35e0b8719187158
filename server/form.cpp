#include "form.hpp"

#include <cctype>

#include "values.hpp"

namespace harnolfees::server {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::variant<std::string, FormError> DecodeStatementBody(std::string_view body) {
  const auto eq = body.find('=');
  if (eq == std::string_view::npos) {
    return FormError{"refused: the body holds no SQL field"};
  }
  std::string name(body.substr(0, eq));
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name != "SQL") {
    return FormError{"refused: the body must hold the SQL field only"};
  }
  std::string_view value = body.substr(eq + 1);
  if (value.find('&') != std::string_view::npos) {
    return FormError{"refused: the body must hold the SQL field only"};
  }
  std::string bytes;
  bytes.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c == '+') {
      bytes += ' ';
    } else if (c == '%') {
      if (i + 2 >= value.size()) {
        return FormError{"refused: invalid form encoding (a % without two hexadecimal digits)"};
      }
      const int hi = HexValue(value[i + 1]);
      const int lo = HexValue(value[i + 2]);
      if (hi < 0 || lo < 0) {
        return FormError{"refused: invalid form encoding (a % without two hexadecimal digits)"};
      }
      const auto b = static_cast<char>(hi * 16 + lo);
      if (b == '\0') return FormError{"refused: the statement holds a NUL byte"};
      bytes += b;
      i += 2;
    } else if (c > 0x20 && c < 0x7F) {
      bytes += static_cast<char>(c);
    } else {
      return FormError{"refused: invalid form encoding (raw byte " + std::to_string(c) +
                       " in the body)"};
    }
  }
  auto utf8 = Windows1252ToUtf8(bytes);
  if (!utf8) {
    return FormError{"refused: the statement holds a byte without a Windows-1252 character"};
  }
  return std::move(*utf8);
}

}  // namespace harnolfees::server
