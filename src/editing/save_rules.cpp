// The save rules' common end, and the choice of the rule by the fee kind.
#include "editing/save_rules.hpp"

#include <optional>
#include <string>

#include "catalogue/fee_kind.hpp"

namespace harnolfees {

void editing::SaveRules::Save() {
  switch (FeeKindOf(state.CurrentTab).save) {
    case SaveRule::MembershipFee:
      SaveMembershipFee();
      break;
    case SaveRule::ValuePlusFee:
    case SaveRule::ValuePlusRenewalFee:
      SaveValuePlusFee(state.CurrentTab);
      break;
    case SaveRule::RenewalOptionFee:
      SaveRenewalOptionFee();
      break;
    case SaveRule::BetaApr:
    case SaveRule::BetaProcessingFee:
    case SaveRule::BetaReserve:
      SaveFinancingTerm(state.CurrentTab);
      break;
    case SaveRule::MembershipRenewalFee:
      SaveMembershipRenewalFee();
      break;
    case SaveRule::BankAccount:
      SaveBankAccount();
      break;
    case SaveRule::SalesTax:
      SaveSalesTax(state.CurrentTab);
      break;
  }
}

bool editing::SaveRules::FinishSave(const SavePlan& plan) {
  RecordSet& rs = sets(plan.tab);
  std::string statement;
  try {
    if (state.IsAdding) {
      statement = plan.insertStatement();
      if (!StatementCanBeSent(host, statement, editing::kValidationTitle)) return false;
      rs.AddNew();
      plan.writeFields(rs, true);
      rs.Fields("IsAdded").setValue(static_cast<std::int16_t>(1));
    } else {
      if (rs.IsBOF() && rs.IsEOF()) return false;
      PositionOnGridRow(surface.grdFees, rs);
      if (!rs.HasCurrentRecord()) return false;
      std::optional<std::string> update = plan.updateStatement(rs);
      if (!update) return false;
      statement = std::move(*update);
      if (!StatementCanBeSent(host, statement, editing::kValidationTitle)) return false;
      plan.writeFields(rs, false);
    }
  } catch (...) {
    // A value the record set refuses must not leave a half-written record
    // behind for a later confirmation to commit.
    if (rs.HasPending()) rs.CancelPending();
    throw;
  }
  state.LastStatement = statement;
  control.SubmitStatement(state.LastStatement);
  return true;
}

}  // namespace harnolfees
