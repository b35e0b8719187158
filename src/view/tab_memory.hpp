// The per-tab memory of the entry form: what leaving a tab keeps (its entry
// mode, its typed texts, the combo selections written into the text boxes
// under them, the selected grid row), and what coming back to it in the
// middle of an add or edit puts back. It shares the control's state and
// surface by reference; UI thread only.
#pragma once

#include "harnolfees/control.hpp"

namespace harnolfees::view {

struct TabMemory {
  ControlState& state;
  Surface& surface;
  const RegionalSettings& regional;

  // Keeps what the entry form of `tab` holds as the operator leaves it.
  void Remember(int tab);
  // Puts back the texts and combo selections kept for `tab`.
  void Restore(int tab);
  // Shows the combo boxes of `tab` with nothing selected (none in view
  // mode), and the bank account's closing check box unticked and disabled.
  void ShowCombos(int tab);
};

}  // namespace harnolfees::view
