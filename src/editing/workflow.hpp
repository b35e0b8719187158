// The halves of the two dual-purpose buttons: Add and Save share one, Edit
// and Cancel the other. A unit over the control's state, made for one
// operator action on the user-interface thread; it throws ControlError as
// the control's handlers do.
#pragma once

#include "editing/entry_snapshot.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees::editing {

class Workflow {
 public:
  // The control's read access gives the surface, record sets, host and
  // regional settings; the state it writes comes from the control itself.
  Workflow(HarnolFeesCtlCenter& ctl, ControlState& state, EntrySnapshot& entryStart)
      : ctl_(ctl),
        state_(state),
        surface_(ctl.surface()),
        recordSets_(ctl.recordSets()),
        host_(ctl.host()),
        regional_(ctl.regional()),
        entryStart_(entryStart) {}

  // Opens the entry form for a new record.
  void BeginAdd();
  // Checks the entry by the current fee kind's save rule and submits it.
  void SaveEntry();
  // Opens the entry form on the selected grid row.
  void BeginEdit();
  // Ends the add or edit; nothing is sent.
  void CancelEntry();

 private:
  HarnolFeesCtlCenter& ctl_;
  ControlState& state_;
  Surface& surface_;
  FeeRecordSets& recordSets_;
  HostServices& host_;
  const RegionalSettings& regional_;
  EntrySnapshot& entryStart_;
};

// Discards the pending change of a save that the server did not accept, so
// that neither the grid nor a later confirmation takes it for real.
void DiscardRefusedChange(ControlState& state, FeeRecordSets& recordSets);

}  // namespace harnolfees::editing
