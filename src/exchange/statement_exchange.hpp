// What the server's reply to a statement does: the whole reply read, and a
// confirmation committing the deletion or the save, or a failure leaving a
// save's change pending for the next save or a cancel to discard. It shares
// the control's state, surface and record sets by reference; UI thread only.
#pragma once

#include <cstddef>
#include <string>

#include "harnolfees/control.hpp"

namespace harnolfees::exchange {

// Reads the whole reply of a completed transfer, `chunkSize` bytes at a time,
// letting the host handle its pending events between the pieces.
std::string ReadReply(Transfer& transfer, HostServices& host, std::size_t chunkSize);

struct Replies {
  HarnolFeesCtlCenter& control;
  ControlState& state;
  Surface& surface;
  FeeRecordSets& sets;
  HostServices& host;
  const RegionalSettings& regional;

  // The server accepted the statement: a pending deletion removes the record
  // and clears the form; a save commits the record with the server's key
  // (FeeKind::serverKeys) and returns to browsing. The host is told.
  void Confirm();
  // The statement did not go through: a save's pending change is remembered
  // so that the next save or a cancel discards it.
  void NoteUnconfirmed();
};

}  // namespace harnolfees::exchange
