// The body of a statement submission: one form field, SQL, form-encoded byte
// by byte in Windows-1252 (blank as "+", other bytes as "%XX").
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace harnolfees::server {

struct FormError {
  std::string message;
};

// The statement text of the body, converted to UTF-8, or the reason the body
// is refused. Only the field "SQL" (any letter case) is accepted; raw bytes
// must be printable ASCII other than the blank; every "%" must introduce two hexadecimal digits;
// NUL bytes and bytes without a Windows-1252 character are refused.
std::variant<std::string, FormError> DecodeStatementBody(std::string_view body);

}  // namespace harnolfees::server
