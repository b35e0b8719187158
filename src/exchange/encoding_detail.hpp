// Pieces of the Windows-1252 conversion shared by the exchange sources.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace harnolfees::detail {

// The Windows-1252 byte of a code point, nullopt when the code page lacks it.
std::optional<unsigned char> Windows1252Byte(char32_t cp);
// Converts, putting "?" for every character the code page lacks and for every
// byte that is not part of well-formed UTF-8.
std::string Windows1252Lenient(std::string_view utf8);
// Appends the form encoding of single-byte text.
void AppendFormEncoded(std::string& out, std::string_view bytes);
bool IsValidUtf8(std::string_view text);

}  // namespace harnolfees::detail
