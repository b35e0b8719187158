// The save rules of the membership fee, the two Value Plus fees and the
// renewal option fee.
#include <string>

#include "catalogue/fee_kind.hpp"
#include "editing/save_common.hpp"
#include "editing/save_rules.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees {

using editing::FieldKind;
using editing::FieldRule;
using editing::NumberEntry;

namespace {

// What tells the two Value Plus tabs apart: names, messages and the uneven
// blanks of their statements.
struct ValuePlusTexts {
  const char* feeName;
  const char* feeField;
  const char* feeEmpty;
  const char* feeInvalid;
  const char* feeTooLarge;
  const char* centerPortionInvalid;
  const char* insertHead;
  const char* insertTail;
  const char* updateHead;
  const char* updateFeePiece;
  const char* updateAfterFee;
  const char* updateBeforeHarnol;
};

const ValuePlusTexts& TextsForValuePlus(SaveRule rule) {
  static const ValuePlusTexts kValuePlusFee{
      "Value Plus Fee",
      "ValuePlusFee",
      "Please enter Value Plus Fee",
      "Please enter a valid Value Plus Fee",
      "Value Plus Fee is too large.",
      "Please enter a valid Center Portion ",
      "  INSERT INTO ValuePlusFee ( CenterID, EffectivityDate, ValuePlusFee, CenterPortion, "
      "HarnolPortion, HealthFee, RecordLastUpdated) ",
      ",  GETDATE()) ",
      " UPDATE ValuePlusFee SET EffectivityDate = '",
      "', ValuePlusFee =  ",
      ",  ",
      ", HarnolPortion = "};
  static const ValuePlusTexts kValuePlusRenewalFee{
      "Value Plus Renewal Fee",
      "ValuePlusRenewalFee",
      "Please enter Value Plus Renewal Fee",
      "Please enter a valid Value Plus Renewal Fee",
      "Value Plus Renewal Fee is too large.",
      "Please enter a valid  Center Portion ",
      " INSERT INTO ValuePlusRenewalFee ( CenterID, EffectivityDate, ValuePlusRenewalFee, "
      "CenterPortion, HarnolPortion, HealthFee, RecordLastUpdated) ",
      ", GETDATE())",
      " UPDATE ValuePlusRenewalFee SET EffectivityDate = '",
      "', ValuePlusRenewalFee =  ",
      ", ",
      ", HarnolPortion =  "};
  return rule == SaveRule::ValuePlusFee ? kValuePlusFee : kValuePlusRenewalFee;
}

}  // namespace

void editing::SaveRules::SaveMembershipFee() {
  Surface& s = surface;
  const RegionalSettings& rs = regional();
  const int tab = state.CurrentTab;
  std::string date = DateToText(s.DTPicker1[0].Value(), rs);
  std::string fee = s.txtField[1].Text();
  std::string term = s.cboTerm.Text();
  std::string royalty = s.txtField[3].Text();
  std::string minimum = s.txtField[4].Text();
  std::string reserve = s.txtField[5].Text();

  date = control.ValidateEffectiveDate(date, editing::kFocusEffectiveDate, state.EditOldEffectivity,
                                       state.EditOldType, tab, editing::kNoTypeKey,
                                       editing::kCheckDuplicateDate, editing::kAccessLevelUnused,
                                       editing::kTravelUnused);
  if (date.empty()) return;

  const FieldRule feeRule{FieldKind::Amount, "Please enter Membership Fee",
                          "Please enter a valid Membership Fee", "Membership Fee is too large."};
  if (!editing::PassesFieldTests(host, rs, fee, feeRule, s.txtField[1])) return;
  const NumberEntry feeEntry = editing::Normalise(fee, rs);

  const FieldRule termRule{FieldKind::Count, "Please enter Term", "Please enter a valid Term", ""};
  if (!editing::PassesFieldTests(host, rs, term, termRule, s.cboTerm)) return;
  const NumberEntry termEntry = editing::Normalise(term, rs);

  const FieldRule royaltyRule{FieldKind::Percentage, "Please enter Membership Royalty",
                              "Please enter a valid Membership Royalty between 0 to 100",
                              "Please enter a valid Membership Royalty between 0 to 100"};
  if (!editing::PassesFieldTests(host, rs, royalty, royaltyRule, s.txtField[3])) return;
  const NumberEntry royaltyEntry = editing::Normalise(royalty, rs);

  const FieldRule minimumRule{FieldKind::Amount, "Please enter Minimum Royalty",
                              "Please enter a valid Minimum Royalty",
                              "Minimum Royalty is too large."};
  if (!editing::PassesFieldTests(host, rs, minimum, minimumRule, s.txtField[4])) return;
  const NumberEntry minimumEntry = editing::Normalise(minimum, rs);

  const FieldRule reserveRule{FieldKind::Percentage, "Please enter Royalty Reserve",
                              "Please enter a valid Royalty Reserve",
                              "Please enter a valid Royalty Reserve between 0 to 100"};
  if (!editing::PassesFieldTests(host, rs, reserve, reserveRule, s.txtField[5])) return;
  const NumberEntry reserveEntry = editing::Normalise(reserve, rs);
  if (reserveEntry.value == 0) {
    const int answer = host.MsgBox("Are you sure that you want to set the Royalty Reserve to 0?",
                                   msgbox::kYesNo, editing::kValidationTitle);
    if (answer != msgbox::kAnswerYes) {
      s.txtField[5].SetFocus();
      return;
    }
  }

  const std::string club = std::to_string(state.ClubID);
  editing::SavePlan plan;
  plan.tab = tab;
  plan.insertStatement = [&] {
    return std::string(" INSERT INTO MembershipFee ( CenterID, EffectivityDate, MembershipFee, ") +
           " Term, MembershipRoyalty, MinimumRoyalty, RoyaltyReserve, RecordLastUpdated) " +
           " VALUES (" + club + ", '" + date + "', " + feeEntry.text + ", " + termEntry.text +
           ", " + royaltyEntry.FractionText() + ", " + minimumEntry.text + ", " +
           reserveEntry.FractionText() + ",  GETDATE()) ";
  };
  plan.updateStatement = [&](RecordSet& r) -> std::optional<std::string> {
    const Value& old = r.GetValue("OldEffectivity");
    if (old.IsNull()) {
      editing::Refuse(host, editing::kUnconfirmedEditMessage, nullptr);
      return std::nullopt;
    }
    return " UPDATE MembershipFee SET  EffectivityDate = '" + date +
           "',  MembershipFee = " + feeEntry.text + ", " + " Term = " + termEntry.text +
           ",   MembershipRoyalty = " + royaltyEntry.FractionText() +
           ",   MinimumRoyalty = " + minimumEntry.text + ", " +
           " RoyaltyReserve = " + reserveEntry.FractionText() +
           ",   RecordLastUpdated = GETDATE() WHERE  EffectivityDate = '" + old.ToText(regional()) +
           "' AND CenterID = " + club;
  };
  plan.writeFields = [&](RecordSet& r, bool) {
    r.Fields("CenterID").setValue(state.ClubID);
    r.Fields("Effectivity").setValue(date);
    r.Fields("MembershipFee").setValue(feeEntry.text);
    r.Fields("MembershipRoyalty").setValue(royaltyEntry.Fraction());
    r.Fields("MinimumRoyalty").setValue(minimumEntry.text);
    r.Fields("Term").setValue(termEntry.text);
    r.Fields("RoyaltyReserve").setValue(reserveEntry.Fraction());
  };
  FinishSave(plan);
}

void editing::SaveRules::SaveValuePlusFee(int tab) {
  Surface& s = surface;
  const RegionalSettings& rs = regional();
  const ValuePlusTexts& t = TextsForValuePlus(FeeKindOf(tab).save);
  std::string date = DateToText(s.DTPicker1[0].Value(), rs);
  std::string fee = s.txtField[1].Text();
  std::string center = s.txtField[2].Text();
  std::string harnol = s.txtField[3].Text();
  std::string health = s.txtField[4].Text();

  date = control.ValidateEffectiveDate(date, editing::kFocusEffectiveDate, state.EditOldEffectivity,
                                       state.EditOldType, tab, editing::kNoTypeKey,
                                       editing::kCheckDuplicateDate, editing::kAccessLevelUnused,
                                       editing::kTravelUnused);
  if (date.empty()) return;

  const std::string feeName = t.feeName;
  if (!editing::PassesFieldTests(host, rs, fee,
                                 {FieldKind::Amount, t.feeEmpty, t.feeInvalid, t.feeTooLarge},
                                 s.txtField[1])) {
    return;
  }
  const NumberEntry feeEntry = editing::Normalise(fee, rs);

  if (!editing::PassesFieldTests(host, rs, center,
                                 {FieldKind::Amount, "Please enter Center Portion ",
                                  t.centerPortionInvalid, "Center Portion is too large."},
                                 s.txtField[2])) {
    return;
  }
  // The portions are shares of the fee: each total must stay below it.
  const double centerValue = editing::AbsoluteValue(center, rs);
  if (!(centerValue < feeEntry.value)) {
    editing::Refuse(host, "The Center Portion should be less than " + feeName, &s.txtField[2]);
    return;
  }
  const NumberEntry centerEntry = editing::Normalise(center, rs);

  if (!editing::PassesFieldTests(
          host, rs, harnol,
          {FieldKind::Amount, "Please enter Harnol Portion", "Please enter a valid Harnol Portion",
           "Harnol Portion is too large."},
          s.txtField[3])) {
    return;
  }
  const double harnolValue = editing::AbsoluteValue(harnol, rs);
  if (!(centerEntry.value + harnolValue < feeEntry.value)) {
    editing::Refuse(host,
                    "The Total of Center Portion and Harnol Portion should be less than " + feeName,
                    &s.txtField[3]);
    return;
  }
  const NumberEntry harnolEntry = editing::Normalise(harnol, rs);

  if (!editing::PassesFieldTests(host, rs, health,
                                 {FieldKind::Amount, "Please enter Health Fee ",
                                  "Please enter a valid Health Fee", "Health Fee is too large."},
                                 s.txtField[4])) {
    return;
  }
  const double healthValue = editing::AbsoluteValue(health, rs);
  if (!(centerEntry.value + harnolEntry.value + healthValue < feeEntry.value)) {
    editing::Refuse(host,
                    "The Total of The Center Portion, Harnol Portion and Health Fee should be "
                    "less than " +
                        feeName,
                    &s.txtField[4]);
    return;
  }
  const NumberEntry healthEntry = editing::Normalise(health, rs);

  const std::string club = std::to_string(state.ClubID);
  editing::SavePlan plan;
  plan.tab = tab;
  plan.insertStatement = [&] {
    return std::string(t.insertHead) + " VALUES (" + club + ", '" + date + "', " + feeEntry.text +
           ", " + centerEntry.text + ", " + harnolEntry.text + ", " + healthEntry.text +
           t.insertTail;
  };
  plan.updateStatement = [&](RecordSet& r) -> std::optional<std::string> {
    const Value& old = r.GetValue("OldEffectivity");
    if (old.IsNull()) {
      editing::Refuse(host, editing::kUnconfirmedEditMessage, nullptr);
      return std::nullopt;
    }
    return std::string(t.updateHead) + date + t.updateFeePiece + feeEntry.text + t.updateAfterFee +
           " CenterPortion =  " + centerEntry.text + t.updateBeforeHarnol + harnolEntry.text +
           ", HealthFee =  " + healthEntry.text + ", " +
           " RecordLastUpdated = GETDATE() WHERE    EffectivityDate = '" + old.ToText(regional()) +
           "' AND CenterID = " + club;
  };
  plan.writeFields = [&](RecordSet& r, bool) {
    r.Fields("CenterID").setValue(state.ClubID);
    r.Fields("Effectivity").setValue(date);
    r.Fields(t.feeField).setValue(feeEntry.text);
    r.Fields("CenterPortion").setValue(centerEntry.text);
    r.Fields("HarnolPortion").setValue(harnolEntry.text);
    r.Fields("HealthFee").setValue(healthEntry.text);
  };
  FinishSave(plan);
}

void editing::SaveRules::SaveRenewalOptionFee() {
  Surface& s = surface;
  const RegionalSettings& rs = regional();
  const int tab = state.CurrentTab;
  std::string date = DateToText(s.DTPicker1[0].Value(), rs);
  std::string fee = s.txtField[1].Text();

  date = control.ValidateEffectiveDate(date, editing::kFocusEffectiveDate, state.EditOldEffectivity,
                                       state.EditOldType, tab, editing::kNoTypeKey,
                                       editing::kCheckDuplicateDate, editing::kAccessLevelUnused,
                                       editing::kTravelUnused);
  if (date.empty()) return;

  const FieldRule feeRule{FieldKind::Amount, "Please enter Renewal Option Fee",
                          "Please enter a valid Renewal Option Fee",
                          "Renewal Option Fee is too large."};
  if (!editing::PassesFieldTests(host, rs, fee, feeRule, s.txtField[1])) return;
  const NumberEntry feeEntry = editing::Normalise(fee, rs);

  const std::string club = std::to_string(state.ClubID);
  editing::SavePlan plan;
  plan.tab = tab;
  plan.insertStatement = [&] {
    return std::string(
               " INSERT INTO RenewalOptionFee ( CenterID, EffectivityDate, RenewalOptionFee, "
               "RecordLastUpdated) ") +
           " VALUES (" + club + ", '" + date + "', " + feeEntry.text + ",  GETDATE()) ";
  };
  plan.updateStatement = [&](RecordSet& r) -> std::optional<std::string> {
    const Value& old = r.GetValue("OldEffectivity");
    if (old.IsNull()) {
      editing::Refuse(host, editing::kUnconfirmedEditMessage, nullptr);
      return std::nullopt;
    }
    return " UPDATE RENEWALOPTIONFEE SET EffectivityDate = '" + date +
           "', RenewalOptionFee = " + feeEntry.text + ", RecordLastUpdated = GETDATE() " +
           "  WHERE  EffectivityDate = '" + old.ToText(regional()) + "' AND CenterID = " + club;
  };
  plan.writeFields = [&](RecordSet& r, bool) {
    r.Fields("CenterID").setValue(state.ClubID);
    r.Fields("Effectivity").setValue(date);
    r.Fields("RenewalOptionFee").setValue(feeEntry.text);
  };
  FinishSave(plan);
}

}  // namespace harnolfees
