// Rendering a fee kind's record set into the grid, and captioning the entry
// form below it.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {

constexpr int kTravelTab = 8;
constexpr int kBankAccountTab = 9;
// Without the travel option, tab 8 leaves out its last column.
constexpr int kTravelTabColumnsWithoutTravel = 4;
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

// The value formats of the grid. A number or percentage that is Null shows
// as an empty cell; a text that is Null is an error, since nothing can be
// shown for it.
class CellFormats {
 public:
  CellFormats(const RegionalSettings& rs, const RecordSet& set) : rs_(rs), set_(set) {}

  std::string Date(int field) const {
    const Value& v = set_.GetValue(field);
    return v.IsNull() ? std::string() : FormatDateMmmDdYyyy(v.ToDate(rs_), rs_);
  }
  std::string Number(int field) const {
    const Value& v = set_.GetValue(field);
    return v.IsNull() ? std::string() : FormatNumber(v.ToDouble(rs_), -1, rs_);
  }
  std::string Percent(int field, int decimals) const {
    const Value& v = set_.GetValue(field);
    return v.IsNull() ? std::string() : FormatNumber(v.ToDouble(rs_) * 100.0, decimals, rs_);
  }
  std::string Text(int field) const {
    const Value& v = set_.GetValue(field);
    if (v.IsNull()) {
      throw ControlError(errc::kTypeMismatch,
                         "Invalid use of Null (field " +
                             set_.FieldDefs()[static_cast<std::size_t>(field)].name + " of " +
                             set_.Name() + " is empty)");
    }
    return v.ToText(rs_);
  }
  // A stored identifier as a 16-bit integer.
  int Identifier(int field) const {
    const Value& v = set_.GetValue(field);
    if (v.IsNull()) {
      throw ControlError(errc::kTypeMismatch,
                         "Invalid use of Null (field " +
                             set_.FieldDefs()[static_cast<std::size_t>(field)].name + " of " +
                             set_.Name() + " is empty)");
    }
    return RoundToInt16(v.ToDouble(rs_));
  }

 private:
  const RegionalSettings& rs_;
  const RecordSet& set_;
};

// The text of the list item at a position, read the way the form reads it:
// select it, take the selected text, select nothing again.
std::string ItemTextAt(ComboBox& combo, int position) {
  combo.SetListIndex(position);
  std::string text = combo.Text();
  combo.SetListIndex(-1);
  return text;
}

// The field positions a tab's row needs, looked up once per rendering.
struct RowFields {
  int effectivity = -1;
  int c[6] = {-1, -1, -1, -1, -1, -1};
};

RowFields FieldsOfTab(const RecordSet& set, int tab) {
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
  int n = 0;
  if (tab == kTravelTab && !state_.ShowTravelOption) {
    set.SetSort("Effectivity DESC, MemberAccessLevelID");
    n = kTravelTabColumnsWithoutTravel;
  } else {
    n = GridColumnCount(tab);
  }

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
    const RowFields f = FieldsOfTab(set, tab);
    const CellFormats fmt(*regional_, set);
    RecordSet* accountTypes =
        tab == kBankAccountTab ? &recordSets_(kBankAccountTypesRecordSet) : nullptr;
    while (!set.IsEOF()) {
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
          grid.SetTextMatrix(
              r, 2, ItemTextAt(s.cboAPRType, PositionForAprOrCreditTypeId(fmt.Identifier(f.c[1]))));
          break;
        case 6:
          grid.SetTextMatrix(r, 1, fmt.Number(f.c[0]));
          grid.SetTextMatrix(
              r, 2, ItemTextAt(s.cboType, PositionForContractTypeId(fmt.Identifier(f.c[1]))));
          break;
        case 7:
          grid.SetTextMatrix(r, 1, fmt.Percent(f.c[0], 3));
          grid.SetTextMatrix(
              r, 2, ItemTextAt(s.cboType, PositionForContractTypeId(fmt.Identifier(f.c[1]))));
          grid.SetTextMatrix(
              r, 3, ItemTextAt(s.cboBitwise, PositionForAprOrCreditTypeId(fmt.Identifier(f.c[2]))));
          break;
        case 8:
          grid.SetTextMatrix(r, 1, fmt.Text(f.c[0]));
          grid.SetTextMatrix(r, 2, fmt.Number(f.c[1]));
          grid.SetTextMatrix(r, 3, fmt.Percent(f.c[2], 3));
          if (state_.ShowTravelOption) grid.SetTextMatrix(r, 4, fmt.Text(f.c[3]));
          break;
        case 9: {
          const std::string type = fmt.Text(f.c[0]);
          const bool anyTypes = accountTypes->RecordCount() != 0;
          if (anyTypes) {
            accountTypes->MoveFirst();
            accountTypes->Find("BankAccountTypeID =  '" + type + "'");
          }
          if (!anyTypes || accountTypes->IsEOF()) {
            throw ControlError(errc::kNoCurrentRecord, "No bank account type has the identifier " +
                                                           type + ": the account cannot be shown");
          }
          grid.SetTextMatrix(r, 1, accountTypes->GetValue("Description").ToText(*regional_));
          grid.SetTextMatrix(r, 2, fmt.Text(f.c[1]));
          grid.SetTextMatrix(r, 3, fmt.Text(f.c[2]));
          grid.SetTextMatrix(r, 4, fmt.Text(f.c[3]));
          grid.SetTextMatrix(r, 5, fmt.Date(f.c[4]));
          const Value& closed = set.GetValue(f.c[5]);
          const std::string closedText =
              closed.IsNull() ? std::string() : closed.ToText(*regional_);
          if (TrimBlanks(closedText).empty()) {
            grid.SetTextMatrix(r, 6, "");
          } else {
            // A closing date that is not a date is shown as it was stored.
            const std::optional<DateTime> d = ParseDate(closedText, *regional_);
            grid.SetTextMatrix(r, 6, d ? FormatDateMmmDdYyyy(*d, *regional_) : closedText);
          }
          break;
        }
        default:
          for (int c = 1; c <= 3; ++c) grid.SetTextMatrix(r, c, fmt.Percent(f.c[c - 1], 6));
          break;
      }
      if (tab == kTravelTab) {
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
  const int n = GridColumnCount(tab);
  for (int i = 0; i < n; ++i) {
    if (tab == kTravelTab && i == 4) continue;
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

  if (tab == kTravelTab) {
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
