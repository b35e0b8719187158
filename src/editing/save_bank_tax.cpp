// The save rules of the bank accounts and of the five levels of sales tax.
#include <cmath>
#include <string>

#include "editing/save_common.hpp"
#include "editing/save_rules.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {
// The text boxes under a bank account's opened and closed date pickers.
constexpr int kOpenedBox = 5;
constexpr int kClosedBox = 6;
}  // namespace

using editing::FieldKind;
using editing::FieldRule;
using editing::NumberEntry;

namespace {

// The server's columns for routing and account numbers hold 20 characters.
constexpr std::size_t kAccountNumberSize = 20;

}  // namespace

void editing::SaveRules::SaveBankAccount() {
  Surface& s = surface;
  const RegionalSettings& rs = regional();
  const int tab = state.CurrentTab;
  ComboBox& typeBox = s.cboBanckAccType;

  std::string date = DateToText(s.DTPicker1[0].Value(), rs);
  std::string type = typeBox.Text();
  const std::string routing = s.txtField[2].Text();
  const std::string account = s.txtField[3].Text();
  const std::string sweep = s.txtField[4].Text();
  std::string opened = DateToText(s.DTPicker1[1].Value(), rs);
  std::string closed = s.DTPicker1[2].Visible() ? DateToText(s.DTPicker1[2].Value(), rs) : "";

  // The type text goes between quotes into the lookup and, without a
  // lookup list, unquoted into the statement: a quote would break both.
  if (type.find('\'') != std::string::npos) {
    editing::Refuse(host,
                    "Please select a valid Bank Account Type: a type cannot contain a quote (')",
                    &typeBox);
    return;
  }
  RecordSet& types = sets(kBankAccountTypesRecordSet);
  if (!type.empty() && types.RecordCount() != 0) {
    types.MoveFirst();
    types.Find("Description =  '" + type + "'");
    if (types.IsEOF()) {
      editing::Refuse(host, "Please select a valid  Bank Account Type", &typeBox);
      return;
    }
    type = types.GetValue("BankAccountTypeID").ToText(rs);
  }
  if (!type.empty() && !IsNumeric(type, rs)) {
    // Only an identifier may stand unquoted in a statement.
    editing::Refuse(host, "Please select a valid  Bank Account Type", &typeBox);
    return;
  }
  const double typeValue = Val(type);
  if (!(std::fabs(typeValue) <= 32767)) {
    editing::Refuse(
        host,
        "Please select a valid Bank Account Type: its identifier " + type + " is out of range",
        &typeBox);
    return;
  }
  const std::int16_t typeKey = RoundToInt16(typeValue);

  date = control.ValidateEffectiveDate(
      date, editing::kFocusEffectiveDate, state.EditOldEffectivity, state.EditOldType, tab, typeKey,
      editing::kCheckDuplicateDate, editing::kAccessLevelUnused, editing::kTravelUnused);
  if (date.empty()) return;

  if (type.empty()) {
    editing::Refuse(host, "Please enter Type", &typeBox);
    return;
  }
  if (routing.empty()) {
    editing::Refuse(host, "Please enter Routing Number", &s.txtField[2]);
    return;
  }
  if (!IsNumeric(routing, rs)) {
    editing::Refuse(host, "Please enter a valid Routing Number", &s.txtField[2]);
    return;
  }
  if (Val(routing) < 0) {
    editing::Refuse(host, "Please enter a valid positive Routing Number", &s.txtField[2]);
    return;
  }
  if (routing.size() > kAccountNumberSize) {
    editing::Refuse(host, "Please enter a Routing Number of at most 20 characters", &s.txtField[2]);
    return;
  }
  if (account.empty()) {
    editing::Refuse(host, "Please enter Account Number", &s.txtField[3]);
    return;
  }
  if (!IsNumeric(account, rs)) {
    editing::Refuse(host, "Please enter a valid Account Number", &s.txtField[3]);
    return;
  }
  if (Val(account) < 0) {
    editing::Refuse(host, "Please enter a valid positive Account Number", &s.txtField[3]);
    return;
  }
  if (account.size() > kAccountNumberSize) {
    editing::Refuse(host, "Please enter an Account Number of at most 20 characters",
                    &s.txtField[3]);
    return;
  }
  const FieldRule sweepRule{FieldKind::Count, "Please enter Sweep Span",
                            "Please enter a valid Sweep Span", ""};
  if (!editing::PassesFieldTests(host, rs, sweep, sweepRule, s.txtField[4])) return;
  const NumberEntry sweepEntry = editing::Normalise(sweep, rs);

  opened = control.ValidateEffectiveDate(
      opened, kOpenedBox, state.EditOldEffectivity, state.EditOldType, editing::kNoTab,
      editing::kNoTypeKey, "Opened Date", editing::kAccessLevelUnused, editing::kTravelUnused);
  if (opened.empty()) {
    s.DTPicker1[1].SetFocus();
    return;
  }
  if (!closed.empty()) {
    closed = control.ValidateEffectiveDate(
        closed, kClosedBox, state.EditOldEffectivity, state.EditOldType, editing::kNoTab,
        editing::kNoTypeKey, "Closed Date", editing::kAccessLevelUnused, editing::kTravelUnused);
    if (closed.empty()) {
      s.DTPicker1[2].SetFocus();
      return;
    }
    if (!(TextToDate(closed, rs) > TextToDate(opened, rs))) {
      editing::Refuse(host, "Date Opened should be less than Date Closed", &s.DTPicker1[2]);
      return;
    }
  }

  const std::string club = std::to_string(state.ClubID);
  editing::SavePlan plan;
  plan.tab = tab;
  plan.insertStatement = [&] {
    return std::string(
               " INSERT INTO BankAccount ( CenterID, Type, EffectivityDate, RoutingNumber, "
               "AccountNumber, SweepSpan, Opened, Closed, RecordLastUpdated) ") +
           " VALUES (" + club + ", " + type + ", '" + date + "', '" + routing + "', '" + account +
           "', " + sweepEntry.text + ", '" + opened + "', " +
           (closed.empty() ? std::string("NULL") : "'" + closed + "'") + ",   GETDATE()) ";
  };
  plan.updateStatement = [&](RecordSet& r) -> std::optional<std::string> {
    const Value& oldDate = r.GetValue("OldEffectivity");
    const Value& oldType = r.GetValue("OldType");
    if (oldDate.IsNull() || oldType.IsNull()) {
      editing::Refuse(host, editing::kUnconfirmedEditMessage, nullptr);
      return std::nullopt;
    }
    return " UPDATE BankAccount SET Type = " + type + ",   EffectivityDate =  '" + date +
           "',   RoutingNumber = '" + routing + "',   AccountNumber = '" + account +
           "',   SweepSpan = " + sweepEntry.text + ",    Opened = '" + opened + "'  " +
           (closed.empty() ? std::string(", Closed = NULL ") : ", Closed = '" + closed + "'") +
           ", RecordLastUpdated = GETDATE() Where   EffectivityDate = '" +
           oldDate.ToText(regional()) + "' AND CenterID = " + club +
           " AND  Type = " + oldType.ToText(regional());
  };
  plan.writeFields = [&](RecordSet& r, bool adding) {
    r.Fields("ObjectID").setValue(state.ClubID);
    r.Fields("AccountNumber").setValue(account);
    r.Fields("Type").setValue(type);
    r.Fields("RoutingNumber").setValue(routing);
    r.Fields("SweepSpan").setValue(sweepEntry.text);
    r.Fields("Opened").setValue(opened);
    if (!adding || !closed.empty()) r.Fields("Closed").setValue(closed);
    r.Fields("Effectivity").setValue(date);
  };
  FinishSave(plan);
}

void editing::SaveRules::SaveSalesTax(int tab) {
  Surface& s = surface;
  const RegionalSettings& rs = regional();
  const int salesTaxType = FeeTab(tab).salesTaxType;

  std::string date = DateToText(s.DTPicker1[0].Value(), rs);
  const std::string membership = s.txtField[1].Text();
  const std::string renewal = s.txtField[2].Text();
  const std::string merchandise = s.txtField[3].Text();

  date = control.ValidateEffectiveDate(date, editing::kFocusEffectiveDate, state.EditOldEffectivity,
                                       state.EditOldType, tab, editing::kNoTypeKey,
                                       editing::kCheckDuplicateDate, editing::kAccessLevelUnused,
                                       editing::kTravelUnused);
  if (date.empty()) return;

  const FieldRule membershipRule{
      FieldKind::Percentage, "Please enter Membership Sales Taxes ",
      "Please enter a valid Membership Sales Tax value between 0 to 100",
      "Please enter a valid Membership Sales Tax value between 0 to 100"};
  if (!editing::PassesFieldTests(host, rs, membership, membershipRule, s.txtField[1])) return;
  const NumberEntry membershipEntry = editing::Normalise(membership, rs);

  const FieldRule renewalRule{FieldKind::Percentage, "Please enter Renewal Sales Taxes ",
                              "Please enter a valid Renewal Sales Tax value between 0 to 100",
                              "Please enter a valid Renewal Sales Tax value between 0 to 100"};
  if (!editing::PassesFieldTests(host, rs, renewal, renewalRule, s.txtField[2])) return;
  const NumberEntry renewalEntry = editing::Normalise(renewal, rs);

  const FieldRule merchandiseRule{
      FieldKind::Percentage, "Please enter Merchandise Sales Taxes ",
      "Please enter a valid Merchandise Sales Tax value between 0 to 100",
      "Please enter a valid Merchandise Sales Tax value between 0 to 100"};
  if (!editing::PassesFieldTests(host, rs, merchandise, merchandiseRule, s.txtField[3])) return;
  const NumberEntry merchandiseEntry = editing::Normalise(merchandise, rs);

  const std::string club = std::to_string(state.ClubID);
  const std::string typeDigit = std::to_string(salesTaxType);
  editing::SavePlan plan;
  plan.tab = tab;
  plan.insertStatement = [&] {
    return std::string(" INSERT INTO SalesTax ( CenterID, Type, EffectivityDate, ") +
           " Membership, Renewal, Merchandise, RecordLastUpdated) " + " VALUES (" + club + ",  " +
           typeDigit + " , '" + date + "', " + membershipEntry.FractionText() + ", " +
           renewalEntry.FractionText() + ", " + merchandiseEntry.FractionText() + ",  GETDATE()) ";
  };
  plan.updateStatement = [&](RecordSet& r) -> std::optional<std::string> {
    const Value& oldDate = r.GetValue("OldEffectivity");
    if (oldDate.IsNull()) {
      editing::Refuse(host, editing::kUnconfirmedEditMessage, nullptr);
      return std::nullopt;
    }
    return " UPDATE SalesTax SET  EffectivityDate = '" + date +
           "',  Membership = " + membershipEntry.FractionText() + ", " +
           " Renewal = " + renewalEntry.FractionText() +
           ",   Merchandise = " + merchandiseEntry.FractionText() + ", " +
           "  RecordLastUpdated = GETDATE() WHERE  EffectivityDate = '" +
           oldDate.ToText(regional()) + "' AND CenterID = " + club + " AND Type = " + typeDigit +
           " ";
  };
  plan.writeFields = [&](RecordSet& r, bool) {
    r.Fields("CenterID").setValue(state.ClubID);
    r.Fields("Effectivity").setValue(date);
    r.Fields("Membership").setValue(membershipEntry.Fraction());
    r.Fields("Renewal").setValue(renewalEntry.Fraction());
    r.Fields("Merchandise").setValue(merchandiseEntry.Fraction());
    r.Fields("Type").setValue(static_cast<std::int16_t>(salesTaxType));
  };
  FinishSave(plan);
}

}  // namespace harnolfees
