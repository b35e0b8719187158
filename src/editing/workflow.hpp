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
  Workflow(HarnolFeesCtlCenter& ctl, ControlState& state, Surface& surface,
           FeeRecordSets& recordSets, HostServices& host, const RegionalSettings& regional,
           EntrySnapshot& entryStart)
      : ctl_(ctl),
        state_(state),
        surface_(surface),
        recordSets_(recordSets),
        host_(host),
        regional_(regional),
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
