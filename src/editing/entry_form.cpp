#include "editing/entry_form.hpp"

#include <optional>
#include <string>

#include "catalogue/fee_kind.hpp"
#include "editing/save_common.hpp"

namespace harnolfees::editing {

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

void EntryForm::Prepare(EntryTurn turn, int row) {
  Surface& s = surface;
  const FeeKind& kind = FeeKindOf(state.CurrentTab);
  const bool closing = turn == EntryTurn::Cancel || turn == EntryTurn::BackToBrowsing;

  for (const ComboOverlay& c : kind.combos) {
    ComboBox& box = s.*c.box;
    if (turn == EntryTurn::Add) {
      Open(box);
      Clear(box);
    } else if (turn == EntryTurn::Edit) {
      const std::string& shown = s.txtField[static_cast<std::size_t>(c.slot)].Text();
      if (c.rule == IdentifierRule::ItemData) {
        // The grid shows the type's description; the record's key is the
        // identifier kept with the item.
        Open(box);
        const int k = control.FindAccountTypeIndex(shown);
        SelectPositionOrNothing(box, k);
        state.EditOldType =
            k < box.ListCount() ? std::to_string(box.ItemData(k)) : std::to_string(k + 1);
        continue;
      }
      if (c.clearWhenEmpty && shown.empty()) {
        Clear(box);
      } else {
        box.SetText(shown);
      }
      if (&c == kind.TypeOverlay()) {
        state.EditOldType = std::to_string(IdentifierForPosition(c.rule, box.ListIndex()));
      }
      Open(box);
    } else {
      Close(box);
      Clear(box);
    }
  }

  if (kind.accessLevel) PrepareAccessLevel(turn, row);
  if (kind.accountDates) {
    if (turn == EntryTurn::Add) {
      control.InitDatePicker(state.ServerDate, 1);
      s.chkDT.SetEnabled(true);
    } else if (closing) {
      s.DTPicker1[1].SetVisible(false);
      s.chkDT.SetValue(0);
      s.chkDT.SetEnabled(false);
    }
  }
}

void EntryForm::PrepareAccessLevel(EntryTurn turn, int row) {
  Surface& s = surface;
  if (turn == EntryTurn::Add) {
    Open(s.cboAccessLevel);
    // A new renewal fee starts at the usual access level.
    s.cboAccessLevel.SetText("Gold");
    if (state.ShowTravelOption) {
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
    if (state.ShowTravelOption) {
      s.chkTravel.SetVisible(true);
      s.chkTravel.SetValue(TravelCellIsSet(s.grdFees.TextMatrix(row, 4), control.regional()) ? 1
                                                                                             : 0);
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
}

}  // namespace harnolfees::editing
