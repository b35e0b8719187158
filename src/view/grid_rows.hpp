// The cell texts of one grid row per fee kind, shared by the grid's rendering
// and by the export, which renders a tab without touching what the control
// shows.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>

#include "harnolfees/catalogue.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees::view {

inline constexpr int kTravelTab = 8;
inline constexpr int kBankAccountTab = 9;
// The order of the renewal fees when the travel option is off.
inline constexpr const char* kTravelTabSort = "Effectivity DESC, MemberAccessLevelID";

// The number of grid columns a tab shows: without the travel option, tab 8
// leaves out its last column.
inline int ShownColumnCount(int tab, bool showTravelOption) {
  constexpr int kTravelTabColumnsWithoutTravel = 4;
  return tab == kTravelTab && !showTravelOption ? kTravelTabColumnsWithoutTravel
                                                : GridColumnCount(tab);
}

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

// The field positions a tab's row needs, looked up once per rendering.
struct RowFields {
  int effectivity = -1;
  int c[6] = {-1, -1, -1, -1, -1, -1};
};

inline RowFields FieldsOfTab(const RecordSet& set, int tab) {
  RowFields f;
  f.effectivity = set.FieldIndex("Effectivity");
  auto use = [&](std::initializer_list<const char*> names) {
    int i = 0;
    for (const char* name : names) f.c[i++] = set.FieldIndex(name);
  };
  switch (tab) {
    case 1:
      use({"MembershipFee", "Term", "MembershipRoyalty", "MinimumRoyalty", "RoyaltyReserve"});
      break;
    case 2:
      use({"ValuePlusFee", "CenterPortion", "HarnolPortion", "HealthFee"});
      break;
    case 3:
      use({"ValuePlusRenewalFee", "CenterPortion", "HarnolPortion", "HealthFee"});
      break;
    case 4:
      use({"RenewalOptionFee"});
      break;
    case 5:
      use({"BetaAPR", "BetaAPRTypeID"});
      break;
    case 6:
      use({"BetaProcessingFee", "BetaContractTypeID"});
      break;
    case 7:
      use({"BetaReserve", "ContractType", "CreditTypeBitwiseValue"});
      break;
    case 8:
      use({"MemberAccessLevelDescription", "MembershipRenewalFee", "CenterPortion",
           "TravelMembership"});
      break;
    case 9:
      use({"Type", "RoutingNumber", "AccountNumber", "SweepSpan", "Opened", "Closed"});
      break;
    default:
      use({"Membership", "Renewal", "Merchandise"});
      break;
  }
  return f;
}

// Writes the cells of grid row r for one record of `tab`, column by column.
// Lookups gives the names behind identifiers: AprType, ContractType and
// CreditType take the list position, AccountType the account's type as text.
// A failure leaves the cells written so far.
template <class Read, class Lookups>
void WriteRecordRow(Grid& grid, int r, int tab, const RowFields& f, const CellFormats<Read>& fmt,
                    Lookups& lookups, bool showTravelOption) {
  grid.SetTextMatrix(r, 0, fmt.Date(f.effectivity));
  switch (tab) {
    case 1:
      grid.SetTextMatrix(r, 1, fmt.Number(f.c[0]));
      grid.SetTextMatrix(r, 2, fmt.Text(f.c[1]));
      grid.SetTextMatrix(r, 3, fmt.Percent(f.c[2], 3));
      grid.SetTextMatrix(r, 4, fmt.Number(f.c[3]));
      grid.SetTextMatrix(r, 5, fmt.Percent(f.c[4], 3));
      break;
    case 2:
    case 3:
      for (int c = 1; c <= 4; ++c) grid.SetTextMatrix(r, c, fmt.Number(f.c[c - 1]));
      break;
    case 4:
      grid.SetTextMatrix(r, 1, fmt.Number(f.c[0]));
      break;
    case 5:
      grid.SetTextMatrix(r, 1, fmt.Percent(f.c[0], 3));
      grid.SetTextMatrix(r, 2,
                         lookups.AprType(PositionForAprOrCreditTypeId(fmt.Identifier(f.c[1]))));
      break;
    case 6:
      grid.SetTextMatrix(r, 1, fmt.Number(f.c[0]));
      grid.SetTextMatrix(r, 2,
                         lookups.ContractType(PositionForContractTypeId(fmt.Identifier(f.c[1]))));
      break;
    case 7:
      grid.SetTextMatrix(r, 1, fmt.Percent(f.c[0], 3));
      grid.SetTextMatrix(r, 2,
                         lookups.ContractType(PositionForContractTypeId(fmt.Identifier(f.c[1]))));
      grid.SetTextMatrix(r, 3,
                         lookups.CreditType(PositionForAprOrCreditTypeId(fmt.Identifier(f.c[2]))));
      break;
    case kTravelTab:
      grid.SetTextMatrix(r, 1, fmt.Text(f.c[0]));
      grid.SetTextMatrix(r, 2, fmt.Number(f.c[1]));
      grid.SetTextMatrix(r, 3, fmt.Percent(f.c[2], 3));
      if (showTravelOption) grid.SetTextMatrix(r, 4, fmt.Text(f.c[3]));
      break;
    case kBankAccountTab:
      grid.SetTextMatrix(r, 1, lookups.AccountType(fmt.Text(f.c[0])));
      grid.SetTextMatrix(r, 2, fmt.Text(f.c[1]));
      grid.SetTextMatrix(r, 3, fmt.Text(f.c[2]));
      grid.SetTextMatrix(r, 4, fmt.Text(f.c[3]));
      grid.SetTextMatrix(r, 5, fmt.Date(f.c[4]));
      grid.SetTextMatrix(r, 6, fmt.Closed(f.c[5]));
      break;
    default:
      for (int c = 1; c <= 3; ++c) grid.SetTextMatrix(r, c, fmt.Percent(f.c[c - 1], 6));
      break;
  }
}

// The failure of a bank account whose type is not among the account types.
[[noreturn]] inline void ThrowUnknownAccountType(const std::string& type) {
  throw ControlError(errc::kNoCurrentRecord, "No bank account type has the identifier " + type +
                                                 ": the account cannot be shown");
}

}  // namespace harnolfees::view
