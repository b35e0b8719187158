// Deleting a record that was added while the control is open: the record is
// shown in the form, the operator confirms, and the server's row is removed
// by its key as the server knows it.
#include <string>

#include "catalogue/fee_kind.hpp"
#include "editing/deletion.hpp"
#include "editing/save_common.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {

std::string AmountText(const Value& v, const RegionalSettings& rs) {
  return v.IsNull() ? std::string() : FormatNumber(v.ToDouble(rs), -1, rs);
}

// The record sets hold percentages as fractions; the form shows percent.
std::string PercentText(const Value& v, const RegionalSettings& rs) {
  return v.IsNull() ? std::string() : FormatNumber(v.ToDouble(rs) * 100, 3, rs);
}

std::string PlainText(const Value& v, const RegionalSettings& rs) {
  return v.IsNull() ? std::string() : v.ToText(rs);
}

// Opened is a date, Closed a text that holds one (or nothing).
std::string DateCellText(const Value& v, const RegionalSettings& rs) {
  if (v.IsNull()) return "";
  if (std::holds_alternative<DateTime>(v.storage())) {
    return FormatDateMmmDdYyyy(std::get<DateTime>(v.storage()), rs);
  }
  const std::string text = TrimBlanks(v.ToText(rs));
  if (text.empty()) return "";
  const std::optional<DateTime> d = ParseDate(text, rs);
  return d ? FormatDateMmmDdYyyy(*d, rs) : text;
}

// A record's date may lie outside the range the picker was last given; the
// picker is widened rather than the refill failing.
void ShowDate(DatePicker& picker, const Value& v, const RegionalSettings& rs) {
  if (v.IsNull()) return;
  const DateTime d = v.ToDate(rs);
  if (d < picker.MinDate()) picker.SetMinDate(d);
  if (d > picker.MaxDate()) picker.SetMaxDate(d);
  picker.SetValue(d);
}

int PositionOf(const Value& v, const RegionalSettings& rs, IdentifierRule rule) {
  if (v.IsNull()) return -1;
  return PositionForIdentifier(rule, static_cast<int>(RoundToInt32(v.ToDouble(rs))));
}

std::string ReopeningStatement(const std::string& club) {
  return "UPDATE dbo.MembershipRenewalFee SET ExpirationDate = NULL WHERE CenterID = " + club +
         " AND ExpirationDate IS NOT NULL AND MemberAccessLevelID = 3" +
         " AND MemberAccessLevelID NOT IN (SELECT MemberAccessLevelID FROM "
         "dbo.MembershipRenewalFee WHERE CenterID = " +
         club +
         " and ISNULL(ExpirationDate, '2099-01-01') > GETDATE() AND MemberAccessLevelID = 3 )" +
         " AND dbo.MembershipRenewalFee.ExpirationDate = (SELECT MAX(ExpirationDate) FROM "
         "dbo.MembershipRenewalFee WHERE CenterID = " +
         club + " AND ExpirationDate IS NOT NULL AND MemberAccessLevelID = 3)";
}

}  // namespace

void HarnolFeesCtlCenter::cmdDelete_Click() {
  // Set aside while a statement is on its way, like the other buttons.
  if (state_.Submitting) return;
  editing::Deletion{*this, state_, surface_, recordSets_, host_, *regional_}.Run();
}

void editing::Deletion::Run() {
  Surface& s = surface;
  const RegionalSettings& rs = regional;
  if (s.grdFees.Text().empty() || s.grdFees.Row() == 0) {
    host.MsgBox("Please select the record to be Deleted", msgbox::kOk + msgbox::kExclamation,
                editing::kRowTitle);
    return;
  }
  state.DeletePending = true;
  const int tab = state.CurrentTab;
  if (tab < 1 || tab > kTabCount) return;
  RecordSet& records = sets(tab);
  if (records.IsBOF() && records.IsEOF()) return;
  editing::PositionOnGridRow(surface.grdFees, records);
  if (!records.HasCurrentRecord()) return;

  const Value& added = records.GetValue("IsAdded");
  if (added.IsNull() || added.ToDouble(rs) != 1) {
    host.MsgBox("You can only delete a record that has been added in this session.",
                editing::kRefusalButtons, editing::kDeletionTitle);
    return;
  }
  // Until the server confirms an addition the record has no server key; a
  // DELETE without one would address no row or the wrong rows. (A missing
  // travel bit reads as 0.)
  const FeeKind& kind = FeeKindOf(tab);
  for (const ServerKey& key : kind.serverKeys) {
    if (!key.asBit && records.GetValue(key.copy).IsNull()) {
      host.MsgBox(editing::kUnconfirmedDeleteMessage, editing::kRefusalButtons,
                  editing::kDeletionTitle);
      return;
    }
  }

  RefillEntryForm(tab, records);

  if (host.MsgBox("Do you want to Delete the Record?", msgbox::kYesNo + msgbox::kQuestion,
                  editing::kRowTitle) != msgbox::kAnswerYes) {
    return;
  }

  const std::string club = std::to_string(state.ClubID);
  std::string statement = std::string(kind.deleteHead) +
                          records.GetValue("OldEffectivity").ToText(rs) +
                          "' AND CenterID = " + club;
  for (const ServerKey& key : kind.serverKeys) {
    if (key.deleteClause == nullptr) continue;
    const Value& old = records.GetValue(key.copy);
    statement += key.deleteClause + (key.asBit ? editing::TravelBitText(old) : old.ToText(rs));
  }
  if (kind.info->salesTaxType != 0) {
    statement += " AND Type = " + std::to_string(kind.info->salesTaxType) + " ";
  }
  if (!editing::StatementCanBeSent(host, statement, editing::kDeletionTitle)) return;
  state.LastStatement = statement;
  control.SubmitStatement(state.LastStatement);

  // The reopening follows only a deletion the server carried out: its
  // confirmation would otherwise be taken for the deletion's and remove a
  // record that the server still holds.
  if (kind.accessLevel && !state.DeletePending) {
    state.LastStatement = ReopeningStatement(club);
    control.SubmitStatement(state.LastStatement);
  }
}

void editing::Deletion::RefillEntryForm(int tab, RecordSet& r) {
  Surface& s = surface;
  const RegionalSettings& rs = regional;
  const FeeKind& kind = FeeKindOf(tab);
  auto overlayAt = [&kind](int slot) -> const ComboOverlay& {
    for (const ComboOverlay& o : kind.combos) {
      if (o.slot == slot) return o;
    }
    throw ControlError(errc::kSubscriptOutOfRange, "No combo box lies over that field");
  };
  ShowDate(s.DTPicker1[0], r.GetValue("Effectivity"), rs);
  for (const RefillField& f : kind.refill) {
    TextBox& box = s.txtField[static_cast<std::size_t>(f.slot)];
    const Value& v = r.GetValue(f.field);
    switch (f.format) {
      case RefillFormat::Amount:
        box.SetText(AmountText(v, rs));
        break;
      case RefillFormat::Percent:
        box.SetText(PercentText(v, rs));
        break;
      case RefillFormat::Plain:
        box.SetText(PlainText(v, rs));
        break;
      case RefillFormat::Date:
        box.SetText(DateCellText(v, rs));
        break;
      case RefillFormat::ComboText:
        (s.*overlayAt(f.slot).box).SetText(PlainText(v, rs));
        break;
      case RefillFormat::ComboItem: {
        const ComboOverlay& c = overlayAt(f.slot);
        editing::SelectPositionOrNothing(s.*c.box, PositionOf(v, rs, c.rule));
        break;
      }
      case RefillFormat::AccountType: {
        RecordSet& types = sets(kBankAccountTypesRecordSet);
        bool found = false;
        if (!v.IsNull() && types.RecordCount() != 0) {
          types.MoveFirst();
          types.Find("BankAccountTypeID =  '" + v.ToText(rs) + "'");
          if (!types.IsEOF()) {
            s.cboBanckAccType.SetText(PlainText(types.GetValue("Description"), rs));
            found = true;
          }
        }
        // A type the list does not know shows as no selection.
        if (!found) s.cboBanckAccType.SetListIndex(-1);
        break;
      }
    }
  }
}

}  // namespace harnolfees
