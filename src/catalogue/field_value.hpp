// Conversions between the values the control writes and the typed fields of a
// record set, and the comparisons that filters, searches and sorts make.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "harnolfees/recordset.hpp"
#include "harnolfees/runtime.hpp"

namespace harnolfees::detail {

// The text of a value as messages show it: between single quotes.
std::string QuotedValueText(const Value& value);

// Converts a value to the type of the field. Null stays Null. Throws
// ControlError (kTypeMismatch or kOverflow) naming the value, the field's type,
// the field and the record set.
Value ConvertForField(const FieldDef& def, const Value& value, std::string_view recordSetName);

// Fills record sets from values that ConvertForField has already converted,
// which a load does on another thread; the record sets themselves are only
// touched on the UI thread. A value is kept as the row cell it becomes, or
// for a text field as a text among others kept beside it.
struct LoadedValue {
  static constexpr std::int32_t kCell = -1;  // the value is `cell`
  static constexpr std::int32_t kNull = -2;
  std::int32_t field = 0;     // a declared field
  std::int32_t text = kCell;  // else the text's index, or kNull
  std::uint64_t cell = 0;
};

class RecordSetLoader {
 public:
  // A value converted for the field (or Null); a text moves to `texts`.
  static LoadedValue Make(const RecordSet& rs, int field, Value value,
                          std::vector<std::string>& texts);
  static Value ValueOf(const RecordSet& rs, const LoadedValue& loaded,
                       const std::vector<std::string>& texts);
  // Adds a record at the end of the record set and makes it the current one,
  // with the values written in order (their texts move out of `texts`); the
  // record stays a pending addition unless `commit`, as a record whose
  // reading failed part way does.
  static void Append(RecordSet& rs, std::span<const LoadedValue> values,
                     std::vector<std::string>& texts, bool commit);
};

// Converts the constant of a criterion to the form in which it is compared
// with the field's values: integers as doubles (so that 2.5 matches no
// integer), texts without their trailing blanks for adChar, no size limit.
Value ConvertForComparison(const FieldDef& def, const Value& value, std::string_view recordSetName);

// Letter-case-blind equality and ordering of ASCII texts.
bool TextEqualsNoCase(std::string_view a, std::string_view b);
int CompareTextNoCase(std::string_view a, std::string_view b);
std::string_view WithoutTrailingBlanks(std::string_view text);

}  // namespace harnolfees::detail
