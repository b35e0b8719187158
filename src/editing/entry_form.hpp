// The per-tab controls of the entry form at each turn of the edit workflow:
// the combo boxes that lie over text boxes (FeeKind::combos), the renewal
// fee's access level and travel flag, the bank account's dates. It shares the
// control's state and surface by reference; UI thread only.
#pragma once

#include "harnolfees/control.hpp"

namespace harnolfees::editing {

enum class EntryTurn { Add, Edit, Cancel, BackToBrowsing };

struct EntryForm {
  HarnolFeesCtlCenter& control;
  ControlState& state;
  Surface& surface;

  // Opens, fills or closes the current tab's own controls for `turn`; an
  // edit reads the grid row `row` and sets the edit's old type. Throws
  // ControlError for a current tab outside 1..14.
  void Prepare(EntryTurn turn, int row);

 private:
  void PrepareAccessLevel(EntryTurn turn, int row);
};

}  // namespace harnolfees::editing
