#include "catalogue/field_value.hpp"

#include <cfloat>
#include <cmath>
#include <optional>
#include <variant>

namespace harnolfees::detail {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Characters, not bytes: a declared size counts what the operator typed.
std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

[[noreturn]] void Refuse(int number, const FieldDef& def, const Value& value,
                         std::string_view recordSetName, std::string_view reason = {}) {
  std::string text = QuotedValueText(value) + " cannot be converted to " + FieldTypeName(def.type) +
                     " for field '" + def.name + "' of record set " + std::string(recordSetName);
  if (!reason.empty()) text += " (" + std::string(reason) + ")";
  throw ControlError(number, text);
}

// The number a value stands for, when it stands for one. Booleans count as
// the host runtime counts them: True is -1.
std::optional<double> NumberOf(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::optional<double> {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::int32_t> ||
                      std::is_same_v<T, float> || std::is_same_v<T, double>) {
          return static_cast<double>(v);
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? -1.0 : 0.0;
        } else if constexpr (std::is_same_v<T, Money>) {
          return v.ToDouble();
        } else if constexpr (std::is_same_v<T, std::string>) {
          return ParseNumber(v);
        } else {
          return std::nullopt;
        }
      },
      value.storage());
}

double RequireNumber(const FieldDef& def, const Value& value, std::string_view recordSetName) {
  std::optional<double> number = NumberOf(value);
  if (!number) Refuse(errc::kTypeMismatch, def, value, recordSetName);
  if (!std::isfinite(*number)) Refuse(errc::kOverflow, def, value, recordSetName, "out of range");
  return *number;
}

template <typename Round>
auto RoundInteger(const FieldDef& def, const Value& value, std::string_view recordSetName,
                  Round round) {
  double number = RequireNumber(def, value, recordSetName);
  try {
    return round(number);
  } catch (const ControlError&) {
    Refuse(errc::kOverflow, def, value, recordSetName, "out of range");
  }
}

Money ToMoney(const FieldDef& def, const Value& value, std::string_view recordSetName) {
  if (const auto* money = std::get_if<Money>(&value.storage())) return *money;
  try {
    if (const auto* text = std::get_if<std::string>(&value.storage())) {
      return Money::FromText(*text);
    }
    if (const auto* small = std::get_if<std::int16_t>(&value.storage())) {
      return Money::FromUnits(std::int64_t{*small} * Money::kScale);
    }
    if (const auto* whole = std::get_if<std::int32_t>(&value.storage())) {
      return Money::FromUnits(std::int64_t{*whole} * Money::kScale);
    }
    if (const auto* flag = std::get_if<bool>(&value.storage())) {
      return Money::FromUnits(*flag ? -Money::kScale : 0);
    }
  } catch (const ControlError& e) {
    Refuse(e.number() == errc::kOverflow ? errc::kOverflow : errc::kTypeMismatch, def, value,
           recordSetName, e.number() == errc::kOverflow ? "out of range" : "");
  }
  double number = RequireNumber(def, value, recordSetName);
  try {
    return Money::FromDouble(number);
  } catch (const ControlError&) {
    Refuse(errc::kOverflow, def, value, recordSetName, "out of range");
  }
}

DateTime ToDate(const FieldDef& def, const Value& value, std::string_view recordSetName) {
  if (const auto* date = std::get_if<DateTime>(&value.storage())) return *date;
  if (const auto* text = std::get_if<std::string>(&value.storage())) {
    if (std::optional<DateTime> date = ParseDate(*text)) return *date;
  }
  Refuse(errc::kTypeMismatch, def, value, recordSetName);
}

float ToSingle(const FieldDef& def, const Value& value, std::string_view recordSetName) {
  if (const auto* single = std::get_if<float>(&value.storage())) {
    if (std::isfinite(*single)) return *single;
  }
  double number = RequireNumber(def, value, recordSetName);
  if (std::fabs(number) > FLT_MAX)
    Refuse(errc::kOverflow, def, value, recordSetName, "out of range");
  return static_cast<float>(number);
}

}  // namespace

std::string QuotedValueText(const Value& value) {
  if (value.IsNull()) return "Null";
  return "'" + value.ToText() + "'";
}

Value ConvertForField(const FieldDef& def, const Value& value, std::string_view recordSetName) {
  if (value.IsNull()) return Value::Null();
  switch (def.type) {
    case FieldType::SmallInt:
      if (const auto* small = std::get_if<std::int16_t>(&value.storage())) return *small;
      return Value(RoundInteger(def, value, recordSetName, RoundToInt16));
    case FieldType::Integer:
      if (const auto* whole = std::get_if<std::int32_t>(&value.storage())) return *whole;
      return Value(RoundInteger(def, value, recordSetName, RoundToInt32));
    case FieldType::Single:
      return Value(ToSingle(def, value, recordSetName));
    case FieldType::Double:
      return Value(RequireNumber(def, value, recordSetName));
    case FieldType::Currency:
      return Value(ToMoney(def, value, recordSetName));
    case FieldType::Date:
      return Value(ToDate(def, value, recordSetName));
    case FieldType::Char:
    case FieldType::VarChar: {
      std::string text = std::holds_alternative<std::string>(value.storage())
                             ? std::get<std::string>(value.storage())
                             : value.ToText();
      if (def.size > 0 && CharacterCount(text) > static_cast<std::size_t>(def.size)) {
        Refuse(errc::kOverflow, def, value, recordSetName,
               "longer than " + std::to_string(def.size) + " characters");
      }
      return Value(std::move(text));
    }
  }
  Refuse(errc::kTypeMismatch, def, value, recordSetName);
}

Value ConvertForComparison(const FieldDef& def, const Value& value,
                           std::string_view recordSetName) {
  if (value.IsNull()) return Value::Null();
  switch (def.type) {
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::Double:
      return Value(RequireNumber(def, value, recordSetName));
    case FieldType::Single:
      return Value(ToSingle(def, value, recordSetName));
    case FieldType::Currency:
      return Value(ToMoney(def, value, recordSetName));
    case FieldType::Date:
      return Value(ToDate(def, value, recordSetName));
    case FieldType::Char:
      return Value(std::string(WithoutTrailingBlanks(value.ToText())));
    case FieldType::VarChar:
      return Value(value.ToText());
  }
  Refuse(errc::kTypeMismatch, def, value, recordSetName);
}

bool TextEqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

int CompareTextNoCase(std::string_view a, std::string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(LowerAscii(a[i]));
    auto y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string_view WithoutTrailingBlanks(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return text.substr(0, end);
}

}  // namespace harnolfees::detail

namespace harnolfees {

const char* FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::SmallInt:
      return "adSmallInt";
    case FieldType::Integer:
      return "adInteger";
    case FieldType::Single:
      return "adSingle";
    case FieldType::Double:
      return "adDouble";
    case FieldType::Currency:
      return "adCurrency";
    case FieldType::Date:
      return "adDate";
    case FieldType::Char:
      return "adChar";
    case FieldType::VarChar:
      return "adVarChar";
  }
  return "adEmpty";
}

}  // namespace harnolfees
