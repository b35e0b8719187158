// The edit workflow: Add and Save share one button, Edit and Cancel the
// other; the caption of the first tells which half was pressed.
#include <string>

#include "editing/save_common.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees {

namespace {

void Open(ComboBox& box) {
  box.SetBackColor(SystemColor::WindowBackground);
  box.SetEnabled(true);
}

void Close(ComboBox& box) {
  box.SetBackColor(SystemColor::ButtonFace);
  box.SetEnabled(false);
}

void Clear(ComboBox& box) { box.SetListIndex(-1); }

// The grid shows the travel flag as the load delivered it (1 or 0) or as a
// save stored it (-1), or in words.
bool TravelCellIsSet(const std::string& cell, const RegionalSettings& rs) {
  if (ToUpperAscii(TrimBlanks(cell)) == "TRUE") return true;
  const std::optional<double> n = ParseNumber(cell, rs);
  return n.has_value() && *n != 0.0;
}

}  // namespace

void HarnolFeesCtlCenter::cmdAdd_Click() {
  // An action that arrives while a statement is on its way is set aside: a
  // second save would add a second pending record and cancel a transfer
  // that the server may already have executed.
  if (state_.Submitting) return;
  if (surface_.cmdAdd.Caption() == kCaptionAdd) {
    BeginAdd();
  } else {
    SaveEntry();
  }
}

void HarnolFeesCtlCenter::cmdEdit_Click() {
  if (state_.Submitting) return;
  if (surface_.cmdAdd.Caption() == kCaptionAdd) {
    BeginEdit();
  } else {
    CancelEntry();
  }
}

void HarnolFeesCtlCenter::BeginAdd() {
  Surface& s = surface_;
  state_.DeletePending = false;
  for (int i = 1; i <= 7; ++i) {
    TextBox& box = s.txtField[static_cast<std::size_t>(i)];
    if (!box.Visible()) continue;
    box.SetEnabled(true);
    box.SetBackColor(SystemColor::WindowBackground);
  }
  s.DTPicker1[0].SetEnabled(true);
  PrepareTabControls(EntryTurn::Add, 0);
  state_.EditOldEffectivity = "";
  state_.EditOldType = "-1";
  s.cmdAdd.SetCaption(kCaptionSave);
  s.cmdEdit.SetCaption(kCaptionCancel);
  s.cmdDelete.SetEnabled(false);
  if (!state_.ViewMode) s.DTPicker1[0].SetFocus();
  state_.IsAdding = true;
  s.tabFees.SetTag(kModeAdding);
  entryStart_ = TakeEntrySnapshot();
}

void HarnolFeesCtlCenter::SaveEntry() {
  Surface& s = surface_;
  state_.DeletePending = false;
  if (!state_.IsAdding && (s.grdFees.Text().empty() || s.grdFees.Row() == 0)) {
    host_.MsgBox(std::string("The record can not be saved ") + editing::kCrLf +
                     "Please select the appropriate row",
                 msgbox::kOk + msgbox::kCritical, editing::kRowTitle);
    DiscardRefusedChange();
    ReturnToBrowsing();
    return;
  }
  // A save the server refused earlier left its change pending; this save
  // replaces it, so it must not linger beside the new one, nor count as a
  // duplicate of it.
  DiscardRefusedChange();
  switch (state_.CurrentTab) {
    case 1:
      SaveMembershipFee();
      break;
    case 2:
    case 3:
      SaveValuePlusFee(state_.CurrentTab);
      break;
    case 4:
      SaveRenewalOptionFee();
      break;
    case 5:
    case 6:
    case 7:
      SaveFinancingTerm(state_.CurrentTab);
      break;
    case 8:
      SaveMembershipRenewalFee();
      break;
    case 9:
      SaveBankAccount();
      break;
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
      SaveSalesTax(state_.CurrentTab);
      break;
    default:
      break;
  }
}

void HarnolFeesCtlCenter::BeginEdit() {
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
  InitDatePicker(grid.TextMatrix(r, 0), 0);
  for (int i = 1; i <= n && i <= 7; ++i) {
    s.txtField[static_cast<std::size_t>(i)].SetText(grid.TextMatrix(r, i));
  }
  if (state_.CurrentTab == 9) {
    s.txtField[6].SetText("");
    InitDatePicker(grid.TextMatrix(r, 5), 1);
    s.chkDT.SetEnabled(true);
    const std::string closed = grid.TextMatrix(r, 6);
    s.DTPicker1[2].SetTag(closed);
    if (!closed.empty()) {
      s.chkDT.SetValue(1);
      InitDatePicker(closed, 2);
    } else {
      s.chkDT.SetValue(0);
    }
  }
  grid.SetRowSel(r);
  PrepareTabControls(EntryTurn::Edit, r);
  state_.EditOldEffectivity = DateToText(s.DTPicker1[0].Value(), regional());
  s.cmdAdd.SetCaption(kCaptionSave);
  s.cmdEdit.SetCaption(kCaptionCancel);
  s.cmdDelete.SetEnabled(false);
  s.DTPicker1[0].SetFocus();
  state_.IsAdding = false;
  s.tabFees.SetTag(kModeEditing);
  entryStart_ = TakeEntrySnapshot();
}

void HarnolFeesCtlCenter::CancelEntry() {
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
  InitDatePicker(state_.ServerDate, 0);
  PrepareTabControls(EntryTurn::Cancel, 0);
  s.cmdAdd.SetCaption(kCaptionAdd);
  s.cmdEdit.SetCaption(kCaptionEdit);
  s.cmdDelete.SetEnabled(true);
  s.tabFees.SetTag(kModeBrowsing);
  // A change that the server refused would otherwise stay in the grid and be
  // committed by the next confirmation.
  DiscardRefusedChange();
  FillGridContained(state_.CurrentTab);
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
  PrepareTabControls(EntryTurn::BackToBrowsing, 0);
  s.cmdAdd.SetCaption(kCaptionAdd);
  s.cmdEdit.SetCaption(kCaptionEdit);
  s.cmdDelete.SetEnabled(true);
  FillGridContained(state_.CurrentTab);
}

int HarnolFeesCtlCenter::FindAccountTypeIndex(const std::string& text) const {
  const ComboBox& box = surface_.cboBanckAccType;
  const std::string wanted = ToUpperAscii(TrimBlanks(text));
  for (int i = 0; i < box.ListCount(); ++i) {
    if (ToUpperAscii(TrimBlanks(box.List(i))) == wanted) return i;
  }
  return 0;
}

void HarnolFeesCtlCenter::PrepareTabControls(EntryTurn turn, int row) {
  Surface& s = surface_;
  const bool closing = turn == EntryTurn::Cancel || turn == EntryTurn::BackToBrowsing;
  switch (state_.CurrentTab) {
    case 1:
      if (turn == EntryTurn::Add) {
        Open(s.cboTerm);
        Clear(s.cboTerm);
      } else if (turn == EntryTurn::Edit) {
        s.cboTerm.SetText(s.txtField[2].Text());
        Open(s.cboTerm);
      } else {
        Close(s.cboTerm);
        Clear(s.cboTerm);
      }
      break;
    case 5:
      if (turn == EntryTurn::Add) {
        Open(s.cboAPRType);
        Clear(s.cboAPRType);
      } else if (turn == EntryTurn::Edit) {
        s.cboAPRType.SetText(s.txtField[2].Text());
        state_.EditOldType = std::to_string(AprOrCreditTypeIdForPosition(s.cboAPRType.ListIndex()));
        Open(s.cboAPRType);
      } else {
        Close(s.cboAPRType);
        Clear(s.cboAPRType);
      }
      break;
    case 6:
    case 7:
      if (turn == EntryTurn::Add) {
        Open(s.cboType);
        Clear(s.cboType);
        if (state_.CurrentTab == 7) {
          Open(s.cboBitwise);
          Clear(s.cboBitwise);
        }
      } else if (turn == EntryTurn::Edit) {
        s.cboType.SetText(s.txtField[2].Text());
        state_.EditOldType = std::to_string(ContractTypeIdForPosition(s.cboType.ListIndex()));
        Open(s.cboType);
        if (state_.CurrentTab == 7) {
          if (!s.txtField[3].Text().empty()) {
            s.cboBitwise.SetText(s.txtField[3].Text());
          } else {
            Clear(s.cboBitwise);
          }
          Open(s.cboBitwise);
        }
      } else {
        Close(s.cboType);
        Clear(s.cboType);
        if (state_.CurrentTab == 7) {
          Close(s.cboBitwise);
          Clear(s.cboBitwise);
        }
      }
      break;
    case 8:
      if (turn == EntryTurn::Add) {
        Open(s.cboAccessLevel);
        // A new renewal fee starts at the usual access level.
        s.cboAccessLevel.SetText("Gold");
        if (state_.ShowTravelOption) {
          s.chkTravel.SetVisible(true);
          s.chkTravel.SetEnabled(true);
        } else {
          s.chkTravel.SetValue(1);
          s.chkTravel.SetVisible(false);
        }
      } else if (turn == EntryTurn::Edit) {
        s.cboAccessLevel.SetVisible(true);
        const std::string level = TrimBlanks(s.txtField[1].Text());
        if (!level.empty()) {
          s.cboAccessLevel.SetText(level);
        } else {
          Clear(s.cboAccessLevel);
        }
        if (state_.ShowTravelOption) {
          s.chkTravel.SetVisible(true);
          s.chkTravel.SetValue(TravelCellIsSet(s.grdFees.TextMatrix(row, 4), regional()) ? 1 : 0);
        } else {
          s.chkTravel.SetVisible(false);
        }
        s.txtField[1].SetVisible(false);
        s.cboAccessLevel.SetVisible(true);
        Open(s.cboAccessLevel);
      } else if (turn == EntryTurn::Cancel) {
        Close(s.cboType);
        Clear(s.cboType);
        Close(s.cboBitwise);
        Clear(s.cboBitwise);
        Close(s.cboAccessLevel);
        Clear(s.cboAccessLevel);
        s.chkTravel.SetEnabled(false);
      } else {
        Close(s.cboAccessLevel);
        s.cboAccessLevel.SetVisible(true);
      }
      break;
    case 9:
      if (turn == EntryTurn::Add) {
        Open(s.cboBanckAccType);
        Clear(s.cboBanckAccType);
        InitDatePicker(state_.ServerDate, 1);
        s.chkDT.SetEnabled(true);
      } else if (turn == EntryTurn::Edit) {
        Open(s.cboBanckAccType);
        const int k = FindAccountTypeIndex(s.txtField[1].Text());
        editing::SelectPositionOrNothing(s.cboBanckAccType, k);
        // The record's key is the identifier of its type, kept with the item.
        state_.EditOldType = k < s.cboBanckAccType.ListCount()
                                 ? std::to_string(s.cboBanckAccType.ItemData(k))
                                 : std::to_string(k + 1);
      } else if (closing) {
        Close(s.cboBanckAccType);
        Clear(s.cboBanckAccType);
        s.DTPicker1[1].SetVisible(false);
        s.chkDT.SetValue(0);
        s.chkDT.SetEnabled(false);
      }
      break;
    default:
      break;
  }
}

}  // namespace harnolfees
