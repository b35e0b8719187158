// The save rules of the fee kinds: each checks the entry form field by field
// (a refusal is shown with the focus on the field to correct), builds its
// statement before the record set is touched, writes the record and submits
// the statement. One rule per fee kind (FeeKind::save), in save_fees.cpp,
// save_financing.cpp, save_renewal.cpp and save_bank_tax.cpp. It shares the
// control's state, surface and record sets by reference; UI thread only.
#pragma once

#include "editing/save_common.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees::editing {

struct SaveRules {
  HarnolFeesCtlCenter& control;
  ControlState& state;
  Surface& surface;
  FeeRecordSets& sets;
  HostServices& host;
  const RegionalSettings& regionalSettings;

  // Runs the rule of the current tab's fee kind. A record-set failure
  // throws ControlError and leaves no half-written record.
  void Save();

 private:
  const RegionalSettings& regional() const { return regionalSettings; }
  void SaveMembershipFee();
  void SaveValuePlusFee(int tab);
  void SaveRenewalOptionFee();
  void SaveFinancingTerm(int tab);
  void SaveMembershipRenewalFee();
  void SaveBankAccount();
  void SaveSalesTax(int tab);
  // The end of the common save procedure: the statement is built and checked
  // before the record set is touched, then the record is written and the
  // statement submitted. Returns whether it was submitted.
  bool FinishSave(const SavePlan& plan);
};

}  // namespace harnolfees::editing
