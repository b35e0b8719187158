// The save rules of the financing terms: Beta APR, Beta processing fee and
// Beta reserve, each keyed by its date and its type.
#include <string>

#include "editing/save_common.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees {

using editing::FieldKind;
using editing::FieldRule;
using editing::NumberEntry;

void HarnolFeesCtlCenter::SaveFinancingTerm(int tab) {
  Surface& s = surface_;
  const RegionalSettings& rs = regional();
  ComboBox& typeBox = tab == 5 ? s.cboAPRType : s.cboType;

  std::string date = DateToText(s.DTPicker1[0].Value(), rs);
  const std::string typeText = typeBox.Text();
  const int typeId = tab == 5 ? AprOrCreditTypeIdForPosition(typeBox.ListIndex())
                              : ContractTypeIdForPosition(typeBox.ListIndex());
  std::string value = s.txtField[1].Text();

  date = ValidateEffectiveDate(date, 0, state_.EditOldEffectivity, state_.EditOldType, tab, typeId,
                               "", 3, 0);
  if (date.empty()) return;

  FieldRule rule;
  const char* typeMissing = "";
  switch (tab) {
    case 5:
      rule = {FieldKind::Percentage, "Please enter Beta APR",
              "Please enter a valid Beta APR between 0 to 100",
              "Please enter a valid Beta APR between 0 to 100"};
      typeMissing = "Please Select the APR type ";
      break;
    case 6:
      rule = {FieldKind::Amount, "Please enter Beta Processing Fee",
              "Please enter a valid Beta Processing Fee", "Beta Processing Fee is too large."};
      typeMissing = "Please Select the Beta Processing Fee type ";
      break;
    default:
      rule = {FieldKind::Percentage, "Please enter Beta Reserve",
              "Please enter a valid Beta Reserve between 0 to 100",
              "Please enter a valid Beta Reserve between 0 to 100"};
      typeMissing = "Please Select the Beta Reserve type ";
      break;
  }
  if (!editing::PassesFieldTests(host_, rs, value, rule, s.txtField[1])) return;
  const NumberEntry entry = editing::Normalise(value, rs);

  if (TrimBlanks(typeText).empty()) {
    editing::Refuse(host_, typeMissing, &typeBox);
    return;
  }
  // The credit type is optional: without one the record carries the
  // identifier that stands for no selection.
  const int creditId = AprOrCreditTypeIdForPosition(s.cboBitwise.ListIndex());

  const std::string club = std::to_string(state_.ClubID);
  const std::string type = std::to_string(typeId);
  const std::string credit = std::to_string(creditId);
  SavePlan plan;
  plan.tab = tab;
  plan.insertStatement = [&]() -> std::string {
    switch (tab) {
      case 5:
        return std::string(
                   " INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
                   "RecordLastUpdated) ") +
               " VALUES (" + club + ", '" + date + "', " + entry.FractionText() + ", " + type +
               ",  GETDATE()) ";
      case 6:
        return std::string(
                   " INSERT INTO BetaProcessingFee ( CenterID, BetaContractTypeID, "
                   "EffectivityDate, BetaProcessingFee, RecordLastUpdated) ") +
               " VALUES (" + club + ", " + type + ", '" + date + "', " + entry.text +
               ",  GETDATE()) ";
      default:
        return std::string(
                   " INSERT INTO BetaReserve(  CenterID, ContractType, CreditTypeBitwiseValue, "
                   "EffectivityDate, BetaReserve, RecordLastUpdated) ") +
               " Values (" + club + ", " + type + ", " + credit + ", '" + date + "', " +
               entry.FractionText() + ",   GETDATE()) ";
    }
  };
  plan.updateStatement = [&](RecordSet& r) -> std::optional<std::string> {
    const Value& oldDate = r.GetValue("OldEffectivity");
    const Value& oldTypeValue = r.GetValue("OldType");
    if (oldDate.IsNull() || oldTypeValue.IsNull()) {
      editing::Refuse(host_, editing::kUnconfirmedEditMessage, nullptr);
      return std::nullopt;
    }
    const std::string old = oldDate.ToText(regional());
    const std::string oldType = oldTypeValue.ToText(regional());
    switch (tab) {
      case 5:
        return " UPDATE BETAAPR SET EffectivityDate ='" + date +
               "', BetaAPR = " + entry.FractionText() + ", BetaAPRTypeID = " + type +
               ", RecordLastUpdated = GETDATE() " + " WHERE EffectivityDate = '" + old +
               "' AND CenterID = " + club + " AND BetaAPRTypeID = " + oldType;
      case 6:
        return " UPDATE BETAPROCESSINGFEE SET BetaContractTypeID = " + type +
               ", EffectivityDate ='" + date + "', BetaProcessingFee = " + entry.text +
               ", RecordLastUpdated = GETDATE() " + "  WHERE  EffectivityDate = '" + old +
               "' AND CenterID = " + club + " AND  BetaContractTypeID = " + oldType;
      default:
        return " UPDATE BetaReserve SET ContractType = " + type +
               ", CreditTypeBitwiseValue = " + credit + ", EffectivityDate =  '" + date +
               "',  BetaReserve =  " + entry.FractionText() + ", " +
               " RecordLastUpdated = GETDATE() WHERE    EffectivityDate = '" + old +
               "' AND CenterID = " + club + " AND  ContractType = " + oldType;
    }
  };
  plan.writeFields = [&](RecordSet& r, bool) {
    r.Fields("CenterID").setValue(state_.ClubID);
    r.Fields("Effectivity").setValue(date);
    switch (tab) {
      case 5:
        r.Fields("BetaAPR").setValue(entry.Fraction());
        r.Fields("BetaAPRTypeID").setValue(typeId);
        break;
      case 6:
        r.Fields("BetaProcessingFee").setValue(entry.text);
        r.Fields("BetaContractTypeID").setValue(typeId);
        break;
      default:
        r.Fields("BetaReserve").setValue(entry.Fraction());
        r.Fields("ContractType").setValue(typeId);
        r.Fields("CreditTypeBitwiseValue").setValue(creditId);
        break;
    }
  };
  FinishSave(plan);
}

}  // namespace harnolfees
