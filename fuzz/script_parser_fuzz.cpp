// Operator scripts of any bytes: the parser must neither crash nor accept a
// line it cannot account for, and the driver's JSON text of any bytes must be
// valid UTF-8 without raw control characters.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json.hpp"
#include "script.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace harnolfees::driver;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const ParsedScript script = ParseScript(text);
  if (script.errorLine != 0 && script.error.empty()) __builtin_trap();
  for (const auto& line : script.commands) {
    if (line.number <= 0 || (script.errorLine != 0 && line.number >= script.errorLine)) {
      __builtin_trap();
    }
  }

  const ParsedLine one = ParseScriptLine(text);
  if ((one.status == ParsedLine::Status::kError) == one.error.empty()) __builtin_trap();

  std::string json;
  AppendJsonString(json, text);
  for (std::size_t i = 0; i < json.size();) {
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8At(json, i, cp);
    if (length == 0 || cp < 0x20) __builtin_trap();
    i += length;
  }
  return 0;
}
