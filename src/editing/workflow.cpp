// The edit workflow: Add and Save share one button, Edit and Cancel the
// other; the caption of the first tells which half was pressed.
#include "editing/workflow.hpp"

#include <string>

#include "catalogue/fee_kind.hpp"
#include "control/dispatch.hpp"
#include "editing/entry_form.hpp"
#include "editing/save_common.hpp"
#include "editing/save_rules.hpp"

namespace harnolfees {

void HarnolFeesCtlCenter::cmdAdd_Click() {
  // An action that arrives while a statement is on its way is set aside: a
  // second save would add a second pending record and cancel a transfer
  // that the server may already have executed.
  if (state_.Submitting) return;
  editing::Workflow workflow{*this, state_, dispatch_->entryStart};
  if (surface_.cmdAdd.Caption() == kCaptionAdd) {
    workflow.BeginAdd();
  } else {
    workflow.SaveEntry();
  }
}

void HarnolFeesCtlCenter::cmdEdit_Click() {
  if (state_.Submitting) return;
  editing::Workflow workflow{*this, state_, dispatch_->entryStart};
  if (surface_.cmdAdd.Caption() == kCaptionAdd) {
    workflow.BeginEdit();
  } else {
    workflow.CancelEntry();
  }
}

void editing::Workflow::BeginAdd() {
  Surface& s = surface_;
  state_.DeletePending = false;
  for (int i = 1; i <= 7; ++i) {
    TextBox& box = s.txtField[static_cast<std::size_t>(i)];
    if (!box.Visible()) continue;
    box.SetEnabled(true);
    box.SetBackColor(SystemColor::WindowBackground);
  }
  s.DTPicker1[0].SetEnabled(true);
  editing::EntryForm{ctl_, state_, surface_}.Prepare(editing::EntryTurn::Add, 0);
  state_.EditOldEffectivity = "";
  state_.EditOldType = "-1";
  s.cmdAdd.SetCaption(kCaptionSave);
  s.cmdEdit.SetCaption(kCaptionCancel);
  s.cmdDelete.SetEnabled(false);
  if (!state_.ViewMode) s.DTPicker1[0].SetFocus();
  state_.IsAdding = true;
  s.tabFees.SetTag(kModeAdding);
  entryStart_ = editing::TakeEntrySnapshot(surface_);
}

void editing::Workflow::SaveEntry() {
  Surface& s = surface_;
  state_.DeletePending = false;
  if (!state_.IsAdding && (s.grdFees.Text().empty() || s.grdFees.Row() == 0)) {
    host_.MsgBox(std::string("The record can not be saved ") + editing::kCrLf +
                     "Please select the appropriate row",
                 msgbox::kOk + msgbox::kCritical, editing::kRowTitle);
    DiscardRefusedChange(state_, recordSets_);
    ctl_.ReturnToBrowsing();
    return;
  }
  // A save the server refused earlier left its change pending; this save
  // replaces it, so it must not linger beside the new one, nor count as a
  // duplicate of it.
  DiscardRefusedChange(state_, recordSets_);
  editing::SaveRules{ctl_, state_, surface_, recordSets_, host_, regional_}.Save();
}

void editing::Workflow::BeginEdit() {
  Surface& s = surface_;
  Grid& grid = s.grdFees;
  s.cboAccessLevel.SetVisible(false);
  s.chkTravel.SetVisible(false);
  if (grid.Text().empty() || grid.Row() == 0) {
    host_.MsgBox(std::string("The record cannot be Updated") + editing::kCrLf +
                     "Please select a row which contains data ",
                 msgbox::kOk + msgbox::kExclamation, editing::kRowTitle);
    return;
  }
  for (int i = 1; i <= 7; ++i) {
    TextBox& box = s.txtField[static_cast<std::size_t>(i)];
    if (!box.Visible()) continue;
    box.SetEnabled(true);
    box.SetBackColor(SystemColor::WindowBackground);
  }
  s.DTPicker1[0].SetEnabled(true);
  const int r = grid.Row();
  const int n = grid.Cols() - 1;
  ctl_.InitDatePicker(grid.TextMatrix(r, 0), 0);
  for (int i = 1; i <= n && i <= 7; ++i) {
    s.txtField[static_cast<std::size_t>(i)].SetText(grid.TextMatrix(r, i));
  }
  if (FeeKindOf(state_.CurrentTab).accountDates) {
    s.txtField[6].SetText("");
    ctl_.InitDatePicker(grid.TextMatrix(r, 5), 1);
    s.chkDT.SetEnabled(true);
    const std::string closed = grid.TextMatrix(r, 6);
    s.DTPicker1[2].SetTag(closed);
    if (!closed.empty()) {
      s.chkDT.SetValue(1);
      ctl_.InitDatePicker(closed, 2);
    } else {
      s.chkDT.SetValue(0);
    }
  }
  grid.SetRowSel(r);
  editing::EntryForm{ctl_, state_, surface_}.Prepare(editing::EntryTurn::Edit, r);
  state_.EditOldEffectivity = DateToText(s.DTPicker1[0].Value(), regional_);
  s.cmdAdd.SetCaption(kCaptionSave);
  s.cmdEdit.SetCaption(kCaptionCancel);
  s.cmdDelete.SetEnabled(false);
  s.DTPicker1[0].SetFocus();
  state_.IsAdding = false;
  s.tabFees.SetTag(kModeEditing);
  entryStart_ = editing::TakeEntrySnapshot(surface_);
}

void editing::Workflow::CancelEntry() {
  Surface& s = surface_;
  s.cboAccessLevel.SetVisible(false);
  s.chkTravel.SetVisible(false);
  for (int i = 1; i <= 7; ++i) {
    TextBox& box = s.txtField[static_cast<std::size_t>(i)];
    if (!box.Visible()) continue;
    box.SetEnabled(false);
    box.SetText("");
    box.SetBackColor(SystemColor::ButtonFace);
  }
  s.cboAccessLevel.SetBackColor(SystemColor::ButtonFace);
  s.cboAccessLevel.SetEnabled(false);
  if (s.DTPicker1[0].Enabled()) s.DTPicker1[0].SetEnabled(false);
  ctl_.InitDatePicker(state_.ServerDate, 0);
  editing::EntryForm{ctl_, state_, surface_}.Prepare(editing::EntryTurn::Cancel, 0);
  s.cmdAdd.SetCaption(kCaptionAdd);
  s.cmdEdit.SetCaption(kCaptionEdit);
  s.cmdDelete.SetEnabled(true);
  s.tabFees.SetTag(kModeBrowsing);
  // A change that the server refused would otherwise stay in the grid and be
  // committed by the next confirmation.
  DiscardRefusedChange(state_, recordSets_);
  ctl_.FillGridContained(state_.CurrentTab);
}

void HarnolFeesCtlCenter::ReturnToBrowsing() {
  Surface& s = surface_;
  s.tabFees.SetTag(kModeBrowsing);
  for (int i = 1; i <= 7; ++i) {
    TextBox& box = s.txtField[static_cast<std::size_t>(i)];
    if (!box.Visible()) continue;
    box.SetEnabled(false);
    box.SetBackColor(SystemColor::ButtonFace);
  }
  s.cboAccessLevel.SetBackColor(SystemColor::ButtonFace);
  s.cboAccessLevel.SetEnabled(false);
  s.cboAccessLevel.SetVisible(false);
  if (s.DTPicker1[0].Enabled()) s.DTPicker1[0].SetEnabled(false);
  InitDatePicker(state_.ServerDate, 0);
  editing::EntryForm{*this, state_, surface_}.Prepare(editing::EntryTurn::BackToBrowsing, 0);
  s.cmdAdd.SetCaption(kCaptionAdd);
  s.cmdEdit.SetCaption(kCaptionEdit);
  s.cmdDelete.SetEnabled(true);
  FillGridContained(state_.CurrentTab);
}

void editing::DiscardRefusedChange(ControlState& state, FeeRecordSets& recordSets) {
  const int refused = state.RefusedPendingTab;
  if (refused >= 1 && refused <= kTabCount) recordSets(refused).CancelPending();
  state.RefusedPendingTab = 0;
  // Nothing of the current tab can be legitimately pending between two
  // operator actions: a submission ends before its handler returns.
  const int tab = state.CurrentTab;
  if (tab >= 1 && tab <= kTabCount && recordSets(tab).HasPending()) {
    recordSets(tab).CancelPending();
  }
}

int HarnolFeesCtlCenter::FindAccountTypeIndex(const std::string& text) const {
  const ComboBox& box = surface_.cboBanckAccType;
  const std::string wanted = ToUpperAscii(TrimBlanks(text));
  for (int i = 0; i < box.ListCount(); ++i) {
    if (ToUpperAscii(TrimBlanks(box.List(i))) == wanted) return i;
  }
  return 0;
}

}  // namespace harnolfees
