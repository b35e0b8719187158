// Rendering a fee kind's record set into the grid, and captioning the entry
// form below it.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>

#include "harnolfees/control.hpp"
#include "view/grid_rows.hpp"

namespace harnolfees {

namespace {

// Each heading character needs about this many twips to stay readable.
constexpr int kTwipsPerHeadingCharacter = 82;
// The even share leaves a little room beside the columns.
constexpr double kColumnShareSlack = 1.05;

int CharacterCount(std::string_view text) {
  int n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

// The text of the list item at a position, read the way the form reads it:
// select it, take the selected text, select nothing again.
std::string ItemTextAt(ComboBox& combo, int position) {
  combo.SetListIndex(position);
  std::string text = combo.Text();
  combo.SetListIndex(-1);
  return text;
}

// The names behind identifiers, read through the form's lists and the
// cursor of the account types.
class FormLookups {
 public:
  FormLookups(Surface& s, RecordSet& accountTypes, const RegionalSettings& rs)
      : s_(s), accountTypes_(accountTypes), rs_(rs) {}
  std::string AprType(int position) { return ItemTextAt(s_.cboAPRType, position); }
  std::string ContractType(int position) { return ItemTextAt(s_.cboType, position); }
  std::string CreditType(int position) { return ItemTextAt(s_.cboBitwise, position); }
  std::string AccountType(const std::string& type) {
    const bool anyTypes = accountTypes_.RecordCount() != 0;
    if (anyTypes) {
      accountTypes_.MoveFirst();
      accountTypes_.Find("BankAccountTypeID =  '" + type + "'");
    }
    if (!anyTypes || accountTypes_.IsEOF()) view::ThrowUnknownAccountType(type);
    return accountTypes_.GetValue("Description").ToText(rs_);
  }

 private:
  Surface& s_;
  RecordSet& accountTypes_;
  const RegionalSettings& rs_;
};

}  // namespace

void HarnolFeesCtlCenter::FillGrid(int tab) {
  Surface& s = surface_;
  Grid& grid = s.grdFees;

  for (int i = 1; i <= 7; ++i) {
    const auto slot = static_cast<std::size_t>(i);
    s.lblField[slot].SetCaption("");
    s.txtField[slot].SetText("");
    s.txtField[slot].SetVisible(false);
    s.txtField[slot].SetEnabled(false);
  }
  ComboBox& access = s.cboAccessLevel;
  access.SetEnabled(false);
  access.SetBackColor(SystemColor::ButtonFace);
  access.SetEnabled(false);
  access.SetListIndex(-1);
  access.SetVisible(false);

  RecordSet& set = recordSets_(tab);
  const FeeKind& kind = FeeKindOf(tab);
  if (kind.accessLevel && !state_.ShowTravelOption) set.SetSort(kind.sortWithoutTravel);
  const int n = kind.ShownColumnCount(state_.ShowTravelOption);

  grid.SetCols(n);
  grid.SetRow(state_.SavedGridRow[static_cast<std::size_t>(tab)]);
  grid.Clear();

  for (int c = 0; c < n; ++c) {
    const std::string& heading = GridHeadings(tab, c);
    grid.SetTextMatrix(0, c, heading);
    const double share = grid.Width() / (n * kColumnShareSlack);
    const int allowance = kTwipsPerHeadingCharacter * CharacterCount(heading);
    grid.SetColWidth(c, share > allowance ? RoundToInt32(share) : allowance);
  }

  if (set.RecordCount() != 0) {
    set.MoveFirst();
    grid.ReserveRows(static_cast<int>(std::min<long>(set.RecordCount() + 1, INT32_MAX)));
    int r = 1;
    s.cboBitwise.SetVisible(false);
    const view::RowFields f = view::FieldsOfTab(set, kind);
    const view::CellFormats fmt(*regional_, set, [&set](int field) { return set.GetValue(field); });
    FormLookups lookups(s, recordSets_(kBankAccountTypesRecordSet), *regional_);
    while (!set.IsEOF()) {
      view::WriteRecordRow(grid, r, kind, f, fmt, lookups, state_.ShowTravelOption);
      if (kind.accessLevel) {
        s.lblField[3].SetCaption("Membership Access Level");
        access.SetVisible(true);
        access.SetEnabled(false);
        access.SetBackColor(SystemColor::ButtonFace);
        access.SetEnabled(false);
        access.SetListIndex(-1);
      }
      ++r;
      if (grid.Rows() < r + 1) grid.SetRows(r + 1);
      set.MoveNext();
    }
  }

  if (!state_.ViewMode) ShowEntryFields(tab);
}

void HarnolFeesCtlCenter::ShowEntryFields(int tab) {
  Surface& s = surface_;
  const FeeKind& kind = FeeKindOf(tab);
  const int n = GridColumnCount(tab);
  for (int i = 0; i < n; ++i) {
    // The travel flag has its check box instead of a text box.
    if (i == kind.travelColumn) continue;
    s.lblField[static_cast<std::size_t>(i)].SetCaption(GridHeadings(tab, i));
    if (i > 0) s.txtField[static_cast<std::size_t>(i)].SetVisible(true);
  }
  s.DTPicker1[0].SetVisible(true);

  // The entry mode reads as a Boolean: browsing is 0, adding and editing are
  // not.
  if (TextToNumber(s.tabFees.Tag(), *regional_) != 0) {
    for (int i = 1; i <= 7; ++i) {
      TextBox& box = s.txtField[static_cast<std::size_t>(i)];
      if (box.Visible()) {
        box.SetEnabled(true);
        box.SetBackColor(SystemColor::WindowBackground);
      }
    }
    s.DTPicker1[0].SetFocus();
  }

  if (kind.accessLevel) {
    s.cboAccessLevel.SetVisible(true);
    s.chkTravel.SetVisible(state_.ShowTravelOption);
  } else {
    s.cboAccessLevel.SetVisible(false);
    s.chkTravel.SetVisible(false);
  }
}

void HarnolFeesCtlCenter::FillGridContained(int tab) {
  try {
    FillGrid(tab);
  } catch (const std::exception& e) {
    host_.MsgBox(e.what(), msgbox::kOk, "");
  }
}

}  // namespace harnolfees
