// Texts of any bytes through the control's form encoding: the result uses only
// the characters the form encoding allows, and every text that the server page
// can receive decodes back to itself, both by the fee server's own decoding
// and by a plain percent decoding followed by Windows-1252.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "form.hpp"
#include "harnolfees/control.hpp"
#include "harnolfees/encoding.hpp"

namespace {

using namespace harnolfees;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

class QuietHost final : public HostServices {
 public:
  int MsgBox(const std::string&, int, const std::string&) override { return msgbox::kAnswerOk; }
  void SetMousePointer(int) override {}
  void DoEvents() override {}
  void PostEvent(std::function<void()>) override {}
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // the encoding writes capital digits only
}

// Percent decoding to bytes; nullopt when the text is not in the form the
// encoding writes.
std::optional<std::string> PercentDecode(std::string_view encoded) {
  std::string bytes;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '+') {
      bytes += ' ';
    } else if (c == '%') {
      if (i + 2 >= encoded.size()) return std::nullopt;
      const int hi = HexValue(encoded[i + 1]);
      const int lo = HexValue(encoded[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      bytes += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      bytes += c;
    }
  }
  return bytes;
}

bool HoldsRefusedCharacter(std::string_view utf8) {
  if (utf8.find('\0') != std::string_view::npos) return true;
  for (const char* c1 : {"\xC2\x81", "\xC2\x8D", "\xC2\x8F", "\xC2\x90", "\xC2\x9D"}) {
    if (utf8.find(c1) != std::string_view::npos) return true;
  }
  return false;
}

bool Plain(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
         c == '-' || c == '.' || c == '_';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static QuietHost host;
  static HarnolFeesCtlCenter control(host);
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string encoded = control.urlEncode(text);
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '%') {
      Check(i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 &&
            HexValue(encoded[i + 2]) >= 0);
      i += 2;
    } else {
      Check(c == '+' || Plain(c));
    }
  }
  Check(text.empty() == encoded.empty());

  if (!IsWindows1252Encodable(text)) return 0;
  const std::optional<std::string> viaLibrary = FormEncode(text);
  Check(viaLibrary.has_value() && *viaLibrary == encoded);

  const std::optional<std::string> bytes = PercentDecode(encoded);
  Check(bytes.has_value());
  Check(Windows1252ToUtf8(*bytes) == text);

  // The fee server refuses a NUL character and the five C1 controls that
  // stand for the bytes Windows-1252 leaves undefined (the control's statements
  // hold numbers, dates and fixed texts, never these), and nothing else.
  const auto decoded = server::DecodeStatementBody("SQL=" + encoded);
  if (HoldsRefusedCharacter(text)) {
    Check(std::holds_alternative<server::FormError>(decoded));
  } else {
    const std::string* statement = std::get_if<std::string>(&decoded);
    Check(statement != nullptr && *statement == text);
  }
  return 0;
}
