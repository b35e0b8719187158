#include "request_log.hpp"

#include <cstdio>

namespace harnolfees::server {

std::string EscapeForLog(std::string_view text) {
  static const char* kHex = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c > 0x20 && c < 0x7F && c != '\\') {
      out += ch;
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string RequestLogLine(const RequestLogEntry& e) {
  char ms[32];
  std::snprintf(ms, sizeof ms, "%.2f", e.ms);
  std::string line;
  line.reserve(128 + e.path.size());
  line += EscapeForLog(e.time);
  line += ' ';
  line += EscapeForLog(e.peer);
  line += " user=" + EscapeForLog(e.user);
  line += " center=" + EscapeForLog(e.center);
  line += " kind=" + EscapeForLog(e.kind);
  line += " outcome=" + EscapeForLog(e.outcome);
  line += " status=" + std::to_string(e.status);
  line += " ms=";
  line += ms;
  line += ' ' + EscapeForLog(e.method);
  line += ' ' + EscapeForLog(e.path);
  line += '\n';
  return line;
}

}  // namespace harnolfees::server
