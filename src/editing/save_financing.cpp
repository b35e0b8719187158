// The save rules of the financing terms: Beta APR, Beta processing fee and
// Beta reserve, each keyed by its date and its type.
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

// What one financing term's save needs beside the common procedure: the
// texts of its refusals and its statements, and the fields it writes.
struct FinancingTerm {
  FieldRule rule;
  const char* typeMissing;
  struct Values {
    const std::string& club;
    const std::string& date;
    const NumberEntry& entry;
    const std::string& type;
    const std::string& credit;
  };
  std::string (*insert)(const Values&);
  std::string (*update)(const Values&, const std::string& old, const std::string& oldType);
  void (*write)(RecordSet&, const NumberEntry&, int typeId, int creditId);
};

const FinancingTerm kBetaApr{
    {FieldKind::Percentage, "Please enter Beta APR",
     "Please enter a valid Beta APR between 0 to 100",
     "Please enter a valid Beta APR between 0 to 100"},
    "Please Select the APR type ",
    [](const FinancingTerm::Values& v) {
      return std::string(
                 " INSERT INTO BetaAPR ( CenterID, EffectivityDate, BetaAPR, BetaAPRTypeID, "
                 "RecordLastUpdated) ") +
             " VALUES (" + v.club + ", '" + v.date + "', " + v.entry.FractionText() + ", " +
             v.type + ",  GETDATE()) ";
    },
    [](const FinancingTerm::Values& v, const std::string& old, const std::string& oldType) {
      return " UPDATE BETAAPR SET EffectivityDate ='" + v.date +
             "', BetaAPR = " + v.entry.FractionText() + ", BetaAPRTypeID = " + v.type +
             ", RecordLastUpdated = GETDATE() " + " WHERE EffectivityDate = '" + old +
             "' AND CenterID = " + v.club + " AND BetaAPRTypeID = " + oldType;
    },
    [](RecordSet& r, const NumberEntry& entry, int typeId, int) {
      r.Fields("BetaAPR").setValue(entry.Fraction());
      r.Fields("BetaAPRTypeID").setValue(typeId);
    }};

const FinancingTerm kBetaProcessingFee{
    {FieldKind::Amount, "Please enter Beta Processing Fee",
     "Please enter a valid Beta Processing Fee", "Beta Processing Fee is too large."},
    "Please Select the Beta Processing Fee type ",
    [](const FinancingTerm::Values& v) {
      return std::string(
                 " INSERT INTO BetaProcessingFee ( CenterID, BetaContractTypeID, "
                 "EffectivityDate, BetaProcessingFee, RecordLastUpdated) ") +
             " VALUES (" + v.club + ", " + v.type + ", '" + v.date + "', " + v.entry.text +
             ",  GETDATE()) ";
    },
    [](const FinancingTerm::Values& v, const std::string& old, const std::string& oldType) {
      return " UPDATE BETAPROCESSINGFEE SET BetaContractTypeID = " + v.type +
             ", EffectivityDate ='" + v.date + "', BetaProcessingFee = " + v.entry.text +
             ", RecordLastUpdated = GETDATE() " + "  WHERE  EffectivityDate = '" + old +
             "' AND CenterID = " + v.club + " AND  BetaContractTypeID = " + oldType;
    },
    [](RecordSet& r, const NumberEntry& entry, int typeId, int) {
      r.Fields("BetaProcessingFee").setValue(entry.text);
      r.Fields("BetaContractTypeID").setValue(typeId);
    }};

const FinancingTerm kBetaReserve{
    {FieldKind::Percentage, "Please enter Beta Reserve",
     "Please enter a valid Beta Reserve between 0 to 100",
     "Please enter a valid Beta Reserve between 0 to 100"},
    "Please Select the Beta Reserve type ",
    [](const FinancingTerm::Values& v) {
      return std::string(
                 " INSERT INTO BetaReserve(  CenterID, ContractType, CreditTypeBitwiseValue, "
                 "EffectivityDate, BetaReserve, RecordLastUpdated) ") +
             " Values (" + v.club + ", " + v.type + ", " + v.credit + ", '" + v.date + "', " +
             v.entry.FractionText() + ",   GETDATE()) ";
    },
    [](const FinancingTerm::Values& v, const std::string& old, const std::string& oldType) {
      return " UPDATE BetaReserve SET ContractType = " + v.type +
             ", CreditTypeBitwiseValue = " + v.credit + ", EffectivityDate =  '" + v.date +
             "',  BetaReserve =  " + v.entry.FractionText() + ", " +
             " RecordLastUpdated = GETDATE() WHERE    EffectivityDate = '" + old +
             "' AND CenterID = " + v.club + " AND  ContractType = " + oldType;
    },
    [](RecordSet& r, const NumberEntry& entry, int typeId, int creditId) {
      r.Fields("BetaReserve").setValue(entry.Fraction());
      r.Fields("ContractType").setValue(typeId);
      r.Fields("CreditTypeBitwiseValue").setValue(creditId);
    }};

const FinancingTerm& TermOf(SaveRule rule) {
  return rule == SaveRule::BetaApr             ? kBetaApr
         : rule == SaveRule::BetaProcessingFee ? kBetaProcessingFee
                                               : kBetaReserve;
}

}  // namespace

void editing::SaveRules::SaveFinancingTerm(int tab) {
  Surface& s = surface;
  const RegionalSettings& rs = regional();
  const FeeKind& kind = FeeKindOf(tab);
  const FinancingTerm& term = TermOf(kind.save);
  const ComboOverlay& typeOverlay = *kind.TypeOverlay();
  ComboBox& typeBox = s.*typeOverlay.box;

  std::string date = DateToText(s.DTPicker1[0].Value(), rs);
  const std::string typeText = typeBox.Text();
  const int typeId = IdentifierForPosition(typeOverlay.rule, typeBox.ListIndex());
  std::string value = s.txtField[1].Text();

  date = control.ValidateEffectiveDate(date, editing::kFocusEffectiveDate, state.EditOldEffectivity,
                                       state.EditOldType, tab, typeId, editing::kCheckDuplicateDate,
                                       editing::kAccessLevelUnused, editing::kTravelUnused);
  if (date.empty()) return;

  if (!editing::PassesFieldTests(host, rs, value, term.rule, s.txtField[1])) return;
  const NumberEntry entry = editing::Normalise(value, rs);

  if (TrimBlanks(typeText).empty()) {
    editing::Refuse(host, term.typeMissing, &typeBox);
    return;
  }
  // The credit type is optional: without one the record carries the
  // identifier that stands for no selection.
  const int creditId = AprOrCreditTypeIdForPosition(s.cboBitwise.ListIndex());

  const std::string club = std::to_string(state.ClubID);
  const std::string type = std::to_string(typeId);
  const std::string credit = std::to_string(creditId);
  const FinancingTerm::Values values{club, date, entry, type, credit};
  editing::SavePlan plan;
  plan.tab = tab;
  plan.insertStatement = [&]() -> std::string { return term.insert(values); };
  plan.updateStatement = [&](RecordSet& r) -> std::optional<std::string> {
    const Value& oldDate = r.GetValue("OldEffectivity");
    const Value& oldTypeValue = r.GetValue("OldType");
    if (oldDate.IsNull() || oldTypeValue.IsNull()) {
      editing::Refuse(host, editing::kUnconfirmedEditMessage, nullptr);
      return std::nullopt;
    }
    return term.update(values, oldDate.ToText(regional()), oldTypeValue.ToText(regional()));
  };
  plan.writeFields = [&](RecordSet& r, bool) {
    r.Fields("CenterID").setValue(state.ClubID);
    r.Fields("Effectivity").setValue(date);
    term.write(r, entry, typeId, creditId);
  };
  FinishSave(plan);
}

}  // namespace harnolfees
