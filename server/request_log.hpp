// The request log: one line per request, whatever the request brought.
#pragma once

#include <string>
#include <string_view>

namespace harnolfees::server {

struct RequestLogEntry {
  std::string time;  // local time, 2026-12-07T13:14:00
  std::string peer;  // address:port of the client
  std::string user = "-";
  std::string center = "-";
  std::string kind = "-";
  std::string outcome = "-";
  int status = 0;
  double ms = 0;
  std::string method;
  std::string path;  // as the server decoded it
};

// The bytes of a text that may go into the log as they are: printable ASCII
// other than the blank and the backslash. Every other byte is written as
// \xHH, so that a line break, an escape sequence or a blank in a request
// cannot start a line or a field of its own, and the text can be read back.
std::string EscapeForLog(std::string_view text);

// The line of one request, ending in its one line break.
std::string RequestLogLine(const RequestLogEntry& entry);

}  // namespace harnolfees::server
