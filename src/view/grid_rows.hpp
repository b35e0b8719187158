// The cell texts of one grid row per fee kind, shared by the grid's rendering
// and by the export, which renders a tab without touching what the control
// shows.
#pragma once

#include <optional>
#include <string>

#include "catalogue/fee_kind.hpp"
#include "harnolfees/catalogue.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees::view {

// The value formats of the grid, over one record read through `read` (field
// index to Value). A number or percentage that is Null shows as an empty
// cell; a text that is Null is an error, since nothing can be shown for it.
template <class Read>
class CellFormats {
 public:
  CellFormats(const RegionalSettings& rs, const RecordSet& set, Read read)
      : rs_(rs), set_(set), read_(read) {}

  std::string Date(int field) const {
    const Value& v = read_(field);
    return v.IsNull() ? std::string() : FormatDateMmmDdYyyy(v.ToDate(rs_), rs_);
  }
  std::string Number(int field) const {
    const Value& v = read_(field);
    return v.IsNull() ? std::string() : FormatNumber(v.ToDouble(rs_), -1, rs_);
  }
  std::string Percent(int field, int decimals) const {
    const Value& v = read_(field);
    return v.IsNull() ? std::string() : FormatNumber(v.ToDouble(rs_) * 100.0, decimals, rs_);
  }
  std::string Text(int field) const {
    const Value& v = read_(field);
    if (v.IsNull()) ThrowNull(field);
    return v.ToText(rs_);
  }
  // A stored identifier as a 16-bit integer.
  int Identifier(int field) const {
    const Value& v = read_(field);
    if (v.IsNull()) ThrowNull(field);
    return RoundToInt16(v.ToDouble(rs_));
  }
  // A closing date: blank shows as the empty text; one that is not a date is
  // shown as it was stored.
  std::string Closed(int field) const {
    const Value& closed = read_(field);
    const std::string text = closed.IsNull() ? std::string() : closed.ToText(rs_);
    if (TrimBlanks(text).empty()) return {};
    const std::optional<DateTime> d = ParseDate(text, rs_);
    return d ? FormatDateMmmDdYyyy(*d, rs_) : text;
  }

 private:
  [[noreturn]] void ThrowNull(int field) const {
    throw ControlError(errc::kTypeMismatch,
                       "Invalid use of Null (field " +
                           set_.FieldDefs()[static_cast<std::size_t>(field)].name + " of " +
                           set_.Name() + " is empty)");
  }

  const RegionalSettings& rs_;
  const RecordSet& set_;
  Read read_;
};

// The field positions of a kind's columns, looked up once per rendering.
struct RowFields {
  int effectivity = -1;
  int c[kMaxGridColumns - 1] = {-1, -1, -1, -1, -1, -1};
};

inline RowFields FieldsOfTab(const RecordSet& set, const FeeKind& kind) {
  RowFields f;
  f.effectivity = set.FieldIndex("Effectivity");
  int i = 0;
  for (const GridColumn& column : kind.columns) f.c[i++] = set.FieldIndex(column.field);
  return f;
}

// The text of one cell in the given format. Each case returns its text
// straight into the caller's argument: a cell is written 10,000 times a
// rendering, and a moved string still copies its characters.
template <class Read, class Lookups>
std::string CellText(CellFormat format, int field, const CellFormats<Read>& fmt, Lookups& lookups) {
  switch (format) {
    case CellFormat::Number:
      return fmt.Number(field);
    case CellFormat::Text:
      return fmt.Text(field);
    case CellFormat::Percent3:
      return fmt.Percent(field, 3);
    case CellFormat::Percent6:
      return fmt.Percent(field, 6);
    case CellFormat::AprType:
      return lookups.AprType(PositionForAprOrCreditTypeId(fmt.Identifier(field)));
    case CellFormat::ContractType:
      return lookups.ContractType(PositionForContractTypeId(fmt.Identifier(field)));
    case CellFormat::CreditType:
      return lookups.CreditType(PositionForAprOrCreditTypeId(fmt.Identifier(field)));
    case CellFormat::AccountType:
      return lookups.AccountType(fmt.Text(field));
    case CellFormat::Date:
      return fmt.Date(field);
    case CellFormat::Closed:
      return fmt.Closed(field);
  }
  return {};  // every format is a case above
}

// Writes the cells of grid row r for one record of a fee kind, column by
// column. Lookups gives the names behind identifiers: AprType, ContractType
// and CreditType take the list position, AccountType the account's type as
// text. A failure leaves the cells written so far.
template <class Read, class Lookups>
void WriteRecordRow(Grid& grid, int r, const FeeKind& kind, const RowFields& f,
                    const CellFormats<Read>& fmt, Lookups& lookups, bool showTravelOption) {
  grid.SetTextMatrix(r, 0, fmt.Date(f.effectivity));
  int c = 1;
  for (const GridColumn& column : kind.columns) {
    if (c == kind.travelColumn && !showTravelOption) break;
    grid.SetTextMatrix(r, c, CellText(column.format, f.c[c - 1], fmt, lookups));
    ++c;
  }
}

// The failure of a bank account whose type is not among the account types.
[[noreturn]] inline void ThrowUnknownAccountType(const std::string& type) {
  throw ControlError(errc::kNoCurrentRecord, "No bank account type has the identifier " + type +
                                                 ": the account cannot be shown");
}

}  // namespace harnolfees::view
