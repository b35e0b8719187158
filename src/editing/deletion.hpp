// Deleting a record that was added (and confirmed by the server) while the
// control is open: the record is shown in the entry form, the operator
// confirms, and the server's row is removed by its key as the server knows it
// (FeeKind::serverKeys); a renewal fee's deletion is followed by the
// reopening of the fee it had closed. It shares the control's state, surface
// and record sets by reference; UI thread only.
#pragma once

#include "harnolfees/control.hpp"

namespace harnolfees::editing {

struct Deletion {
  HarnolFeesCtlCenter& control;
  ControlState& state;
  Surface& surface;
  FeeRecordSets& sets;
  HostServices& host;
  const RegionalSettings& regional;

  // Deletes the record of the selected grid row after the operator confirms.
  // A refusal (no row, a record not added in this session or not confirmed
  // yet) is shown.
  void Run();

 private:
  // Shows the record about to be deleted in the entry form.
  void RefillEntryForm(int tab, RecordSet& rs);
};

}  // namespace harnolfees::editing
