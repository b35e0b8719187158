// The lookup lists behind the combo boxes that the load document does not
// fill, and the one correspondence between list positions and identifiers.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {

// Splits at every occurrence of the separator, keeping empty pieces. An empty
// text gives no piece at all and an empty separator gives the whole text as
// one piece, as the host runtime's Split does.
std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) {
    pieces.push_back(text);
    return pieces;
  }
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, start)) {
    pieces.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

}  // namespace

void HarnolFeesCtlCenter::PopulateComboBox(const std::string& ptCmbPopulate) {
  surface_.cboTerm.Clear();
  surface_.cboType.Clear();
  surface_.cboBitwise.Clear();
  try {
    ComboBox* lists[] = {&surface_.cboTerm, &surface_.cboType, &surface_.cboBitwise};
    // Whatever follows the last table separator is not a list, and whatever
    // follows the last field separator of a list is not an item.
    const std::vector<std::string_view> tables = Split(ptCmbPopulate, state_.TableSeparator);
    for (std::size_t i = 0; i + 1 < tables.size() && i < 3; ++i) {
      const std::vector<std::string_view> items = Split(tables[i], state_.FieldSeparator);
      for (std::size_t j = 0; j + 1 < items.size(); ++j) lists[i]->AddItem(std::string(items[j]));
    }
  } catch (...) {
    // The host gets no error from this member; what was added stays.
  }
}

void HarnolFeesCtlCenter::FillBankAccountTypes() {
  ComboBox& box = surface_.cboBanckAccType;
  box.Clear();
  RecordSet& types = recordSets_(kBankAccountTypesRecordSet);
  if (types.RecordCount() == 0) return;
  types.MoveFirst();
  const int description = types.FieldIndex("Description");
  const int id = types.FieldIndex("BankAccountTypeID");
  while (!types.IsEOF()) {
    box.AddItem(types.GetValue(description).ToText(*regional_));
    // The identifier the type is stored under, which need not follow the
    // item's position; one beyond 32 bits is left at 0 and refused on save.
    const Value& identifier = types.GetValue(id);
    const double number = identifier.IsNull() ? 0.0 : identifier.ToDouble(*regional_);
    if (std::fabs(number) <= 2147483647.0) {
      box.SetItemData(box.NewIndex(), static_cast<std::int32_t>(std::lround(number)));
    }
    types.MoveNext();
  }
}

// The server numbers APR types and credit types from 1 and delivers them in
// that order, so the item at position p stands for p + 1.
int AprOrCreditTypeIdForPosition(int position) {
  if (position < 0) return 0;
  return position < std::numeric_limits<int>::max() ? position + 1 : position;
}

int PositionForAprOrCreditTypeId(int id) {
  return id > std::numeric_limits<int>::min() ? id - 1 : id;
}

}  // namespace harnolfees
