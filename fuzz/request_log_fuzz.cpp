// Feeds arbitrary bytes to the request log as the fields a client controls:
// the line must stay one line of printable ASCII with its fields in place,
// and each field must read back as the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "request_log.hpp"

using namespace harnolfees::server;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The inverse of the log's escaping.
std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    Check(i + 3 < text.size() && text[i + 1] == 'x');
    const int hi = Hex(text[i + 2]);
    const int lo = Hex(text[i + 3]);
    Check(hi >= 0 && lo >= 0);
    out += static_cast<char>(hi * 16 + lo);
    i += 3;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first byte, when there is one, says where the method ends and the
  // path begins; a second cut gives the user.
  const std::size_t cut = size ? static_cast<std::size_t>(data[0]) % size : 0;
  RequestLogEntry entry;
  entry.time = "2026-12-07T13:14:00";
  entry.peer = "127.0.0.1:40000";
  entry.method = std::string(input.substr(0, cut));
  entry.path = std::string(input.substr(cut));
  entry.user = std::string(input.substr(cut / 2, cut / 2));
  entry.status = 200;
  const std::string line = RequestLogLine(entry);

  Check(!line.empty() && line.back() == '\n');
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    Check(c >= 0x20 && c < 0x7F);
    if (c == ' ') {
      fields.push_back(std::string_view(line).substr(start, i - start));
      start = i + 1;
    }
  }
  fields.push_back(std::string_view(line).substr(start, line.size() - 1 - start));
  Check(fields.size() == 10);
  Check(fields[2].substr(0, 5) == "user=");
  Check(Unescape(fields[2].substr(5)) == entry.user);
  Check(Unescape(fields[8]) == entry.method);
  Check(Unescape(fields[9]) == entry.path);
  return 0;
}
