// Texts inside the program are UTF-8; the server page exchanges statements in
// the Windows-1252 single-byte code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace harnolfees {

// nullopt when the text is not valid UTF-8 or holds a character that
// Windows-1252 cannot represent.
std::optional<std::string> Utf8ToWindows1252(std::string_view utf8);
// Every byte decodes: the five bytes the code page leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) become the C1 control of the same value, as
// Windows does.
std::string Windows1252ToUtf8(std::string_view bytes);
// The character of a byte; nullopt for the five undefined bytes.
std::optional<char32_t> Windows1252CodePoint(unsigned char byte);

// Appends the UTF-8 form of a code point (at most U+10FFFF; the caller
// excludes surrogates).
void AppendUtf8(std::string& out, char32_t codePoint);

// The form encoding of a UTF-8 text, byte by byte in Windows-1252: blank as
// "+", letters, digits and "*-._" as themselves, every other byte as "%XX".
// nullopt when the text cannot be represented in Windows-1252.
std::optional<std::string> FormEncode(std::string_view utf8);

// True when the text is valid UTF-8 and every character of it exists in
// Windows-1252, so that the server page receives it unchanged. Save and
// delete workflows check their statement with it before they change the
// record set; SubmitStatement refuses a statement that fails it.
bool IsWindows1252Encodable(std::string_view utf8);
inline bool StatementEncodable(const std::string& statement) {
  return IsWindows1252Encodable(statement);
}

}  // namespace harnolfees
