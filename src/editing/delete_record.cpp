// Deleting a record that was added while the control is open: the record is
// shown in the form, the operator confirms, and the server's row is removed
// by its key as the server knows it.
#include <string>

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

int PositionOf(const Value& v, const RegionalSettings& rs, int (*position)(int)) {
  if (v.IsNull()) return -1;
  return position(static_cast<int>(RoundToInt32(v.ToDouble(rs))));
}

const char* DeleteHead(int tab) {
  switch (tab) {
    case 1:
      return " DELETE FROM MembershipFee WHERE   EffectivityDate = '";
    case 2:
      return " DELETE FROM VALUEPLUSFEE WHERE   EffectivityDate = '";
    case 3:
      return " DELETE FROM VALUEPLUSRENEWALFEE WHERE   EffectivityDate = '";
    case 4:
      return " DELETE FROM RENEWALOPTIONFEE WHERE   EffectivityDate = '";
    case 5:
      return " DELETE FROM BETAAPR WHERE   EffectivityDate = '";
    case 6:
      return " DELETE FROM BETAPROCESSINGFEE WHERE   EffectivityDate = '";
    case 7:
      return " DELETE FROM BETARESERVE WHERE   EffectivityDate = '";
    case 8:
      return " DELETE FROM MEMBERSHIPRENEWALFEE WHERE   EffectivityDate = '";
    case 9:
      return " DELETE FROM BANKACCOUNT WHERE   EffectivityDate = '";
    default:
      return " DELETE FROM SALESTAX WHERE   EffectivityDate = '";
  }
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
  DeleteSelectedRecord();
}

void HarnolFeesCtlCenter::DeleteSelectedRecord() {
  Surface& s = surface_;
  const RegionalSettings& rs = regional();
  if (s.grdFees.Text().empty() || s.grdFees.Row() == 0) {
    host_.MsgBox("Please select the record to be Deleted", msgbox::kOk + msgbox::kExclamation,
                 editing::kRowTitle);
    return;
  }
  state_.DeletePending = true;
  const int tab = state_.CurrentTab;
  if (tab < 1 || tab > kTabCount) return;
  RecordSet& records = recordSets_(tab);
  if (records.IsBOF() && records.IsEOF()) return;
  PositionOnGridRow(records);
  if (!records.HasCurrentRecord()) return;

  const Value& added = records.GetValue("IsAdded");
  if (added.IsNull() || added.ToDouble(rs) != 1) {
    host_.MsgBox("You can only delete a record that has been added in this session.",
                 editing::kRefusalButtons, editing::kDeletionTitle);
    return;
  }
  // Until the server confirms an addition the record has no server key; a
  // DELETE without one would address no row or the wrong rows.
  const bool typed = tab == 5 || tab == 6 || tab == 7 || tab == 9;
  if (records.GetValue("OldEffectivity").IsNull() ||
      (typed && records.GetValue("OldType").IsNull()) ||
      (tab == 8 && records.GetValue("OldMemberAccessLevelID").IsNull())) {
    host_.MsgBox(editing::kUnconfirmedDeleteMessage, editing::kRefusalButtons,
                 editing::kDeletionTitle);
    return;
  }

  RefillEntryForm(tab, records);

  if (host_.MsgBox("Do you want to Delete the Record?", msgbox::kYesNo + msgbox::kQuestion,
                   editing::kRowTitle) != msgbox::kAnswerYes) {
    return;
  }

  const std::string club = std::to_string(state_.ClubID);
  std::string statement = std::string(DeleteHead(tab)) +
                          records.GetValue("OldEffectivity").ToText(rs) +
                          "' AND CenterID = " + club;
  switch (tab) {
    case 5:
      statement += " AND BetaAPRTypeID = " + records.GetValue("OldType").ToText(rs);
      break;
    case 6:
      statement += " AND BetaContractTypeID = " + records.GetValue("OldType").ToText(rs);
      break;
    case 7:
      statement += " AND  ContractType = " + records.GetValue("OldType").ToText(rs);
      break;
    case 8:
      // Without the access level and the travel bit the DELETE would remove
      // every renewal fee of the center on that date.
      statement +=
          " AND MemberAccessLevelID = " + records.GetValue("OldMemberAccessLevelID").ToText(rs) +
          " AND isnull(TravelMembership,0) = " +
          editing::TravelBitText(records.GetValue("OldTravelMembership"));
      break;
    case 9:
      statement += " AND  Type = " + records.GetValue("OldType").ToText(rs);
      break;
    case 1:
    case 2:
    case 3:
    case 4:
      break;
    default:
      statement += " AND Type = " + std::to_string(FeeTab(tab).salesTaxType) + " ";
      break;
  }
  if (!StatementCanBeSent(statement, editing::kDeletionTitle)) return;
  state_.LastStatement = statement;
  SubmitStatement(state_.LastStatement);

  // The reopening follows only a deletion the server carried out: its
  // confirmation would otherwise be taken for the deletion's and remove a
  // record that the server still holds.
  if (tab == 8 && !state_.DeletePending) {
    state_.LastStatement = ReopeningStatement(club);
    SubmitStatement(state_.LastStatement);
  }
}

void HarnolFeesCtlCenter::RefillEntryForm(int tab, RecordSet& r) {
  Surface& s = surface_;
  const RegionalSettings& rs = regional();
  auto text = [&](int i, const std::string& t) {
    s.txtField[static_cast<std::size_t>(i)].SetText(t);
  };
  if (tab != 9) ShowDate(s.DTPicker1[0], r.GetValue("Effectivity"), rs);
  switch (tab) {
    case 1:
      text(1, AmountText(r.GetValue("MembershipFee"), rs));
      s.cboTerm.SetText(PlainText(r.GetValue("Term"), rs));
      text(3, PercentText(r.GetValue("MembershipRoyalty"), rs));
      text(4, AmountText(r.GetValue("MinimumRoyalty"), rs));
      text(5, PercentText(r.GetValue("RoyaltyReserve"), rs));
      break;
    case 2:
    case 3:
      text(1, AmountText(r.GetValue(tab == 2 ? "ValuePlusFee" : "ValuePlusRenewalFee"), rs));
      text(2, AmountText(r.GetValue("CenterPortion"), rs));
      text(3, AmountText(r.GetValue("HarnolPortion"), rs));
      text(4, AmountText(r.GetValue("HealthFee"), rs));
      break;
    case 4:
      text(1, AmountText(r.GetValue("RenewalOptionFee"), rs));
      break;
    case 5:
      text(1, PercentText(r.GetValue("BetaAPR"), rs));
      editing::SelectPositionOrNothing(
          s.cboAPRType, PositionOf(r.GetValue("BetaAPRTypeID"), rs, PositionForAprOrCreditTypeId));
      break;
    case 6:
      text(1, AmountText(r.GetValue("BetaProcessingFee"), rs));
      editing::SelectPositionOrNothing(
          s.cboType, PositionOf(r.GetValue("BetaContractTypeID"), rs, PositionForContractTypeId));
      break;
    case 7:
      text(1, PercentText(r.GetValue("BetaReserve"), rs));
      editing::SelectPositionOrNothing(
          s.cboType, PositionOf(r.GetValue("ContractType"), rs, PositionForContractTypeId));
      editing::SelectPositionOrNothing(
          s.cboBitwise,
          PositionOf(r.GetValue("CreditTypeBitwiseValue"), rs, PositionForAprOrCreditTypeId));
      break;
    case 8:
      text(2, AmountText(r.GetValue("MembershipRenewalFee"), rs));
      text(3, PercentText(r.GetValue("CenterPortion"), rs));
      break;
    case 9: {
      RecordSet& types = recordSets_(kBankAccountTypesRecordSet);
      bool found = false;
      const Value& type = r.GetValue("Type");
      if (!type.IsNull() && types.RecordCount() != 0) {
        types.MoveFirst();
        types.Find("BankAccountTypeID =  '" + type.ToText(rs) + "'");
        if (!types.IsEOF()) {
          s.cboBanckAccType.SetText(PlainText(types.GetValue("Description"), rs));
          found = true;
        }
      }
      // A type the list does not know shows as no selection.
      if (!found) s.cboBanckAccType.SetListIndex(-1);
      ShowDate(s.DTPicker1[0], r.GetValue("Effectivity"), rs);
      text(2, PlainText(r.GetValue("RoutingNumber"), rs));
      text(3, PlainText(r.GetValue("AccountNumber"), rs));
      text(4, PlainText(r.GetValue("SweepSpan"), rs));
      text(5, DateCellText(r.GetValue("Opened"), rs));
      text(6, DateCellText(r.GetValue("Closed"), rs));
      break;
    }
    default:
      text(1, PercentText(r.GetValue("Membership"), rs));
      text(2, PercentText(r.GetValue("Renewal"), rs));
      text(3, PercentText(r.GetValue("Merchandise"), rs));
      break;
  }
}

}  // namespace harnolfees
