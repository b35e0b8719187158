// Conversions between the values the control writes and the typed fields of a
// record set, and the comparisons that filters, searches and sorts make.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "harnolfees/recordset.hpp"
#include "harnolfees/runtime.hpp"

namespace harnolfees::detail {

// The text of a value as messages show it: between single quotes.
std::string QuotedValueText(const Value& value);

// Converts a value to the type of the field. Null stays Null. Throws
// ControlError (kTypeMismatch or kOverflow) naming the value, the field's type,
// the field and the record set.
Value ConvertForField(const FieldDef& def, const Value& value, std::string_view recordSetName);

// Converts the constant of a criterion to the form in which it is compared
// with the field's values: integers as doubles (so that 2.5 matches no
// integer), texts without their trailing blanks for adChar, no size limit.
Value ConvertForComparison(const FieldDef& def, const Value& value, std::string_view recordSetName);

// Letter-case-blind equality and ordering of ASCII texts.
bool TextEqualsNoCase(std::string_view a, std::string_view b);
int CompareTextNoCase(std::string_view a, std::string_view b);
std::string_view WithoutTrailingBlanks(std::string_view text);

}  // namespace harnolfees::detail
