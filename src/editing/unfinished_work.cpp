// Unfinished adds and edits, as hosts see them: which tabs hold one, whether
// the operator typed anything, and ending them all at once by saving or by
// cancelling.
#include "control/dispatch.hpp"
#include "editing/entry_snapshot.hpp"
#include "editing/workflow.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {

std::size_t At(int index) { return static_cast<std::size_t>(index); }

bool IsEntryMode(const std::string& tag) { return tag == kModeAdding || tag == kModeEditing; }

}  // namespace

std::vector<int> HarnolFeesCtlCenter::UnfinishedTabs() const {
  std::vector<int> tabs;
  for (int tab = 1; tab <= kTabCount; ++tab) {
    const bool unfinished = tab == state_.CurrentTab ? IsEntryMode(surface_.tabFees.Tag())
                                                     : state_.TabEntryMode[At(tab)] != 0;
    if (unfinished) tabs.push_back(tab);
  }
  return tabs;
}

editing::EntrySnapshot editing::TakeEntrySnapshot(const Surface& s) {
  EntrySnapshot snap;
  for (int i = 1; i <= 7; ++i) {
    const TextBox& box = s.txtField[At(i)];
    if (box.Visible()) snap.texts[At(i)] = box.Text();
  }
  const ComboBox* combos[] = {&s.cboTerm,    &s.cboType,        &s.cboBitwise,
                              &s.cboAPRType, &s.cboAccessLevel, &s.cboBanckAccType};
  for (std::size_t i = 0; i < std::size(combos); ++i) {
    snap.combos[i] = combos[i]->Visible() ? combos[i]->ListIndex() : -2;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    if (s.DTPicker1[i].Visible()) snap.dates[i] = s.DTPicker1[i].Value();
  }
  snap.checks[0] = s.chkTravel.Visible() ? s.chkTravel.Value() : -1;
  snap.checks[1] = s.chkDT.Visible() ? s.chkDT.Value() : -1;
  return snap;
}

bool HarnolFeesCtlCenter::EntryModified() const {
  if (!IsEntryMode(surface_.tabFees.Tag())) return false;
  return !(editing::TakeEntrySnapshot(surface_) == dispatch_->entryStart);
}

bool HarnolFeesCtlCenter::SaveUnfinishedWork() {
  if (state_.Submitting) return UnfinishedTabs().empty();
  // One operator action: an error ends it in a message box.
  dispatch_->Run([this] {
    for (int tab : UnfinishedTabs()) {
      if (tab != state_.CurrentTab) {
        surface_.tabFees.SetSelectedIndex(tab);
        tabFees_Click();
      }
      if (state_.CurrentTab != tab) return;
      if (!IsEntryMode(surface_.tabFees.Tag())) continue;
      cmdAdd_Click();
      if (IsEntryMode(surface_.tabFees.Tag())) return;  // refused: this tab stays shown
    }
  });
  return UnfinishedTabs().empty();
}

void HarnolFeesCtlCenter::DiscardUnfinishedWork() {
  if (state_.Submitting) return;
  dispatch_->Run([this] {
    for (int tab = 1; tab <= kTabCount; ++tab) state_.TabEntryMode[At(tab)] = 0;
    if (IsEntryMode(surface_.tabFees.Tag())) {
      editing::Workflow{*this, state_, dispatch_->entryStart}.CancelEntry();
    } else {
      editing::DiscardRefusedChange(state_, recordSets_);
    }
  });
}

}  // namespace harnolfees
