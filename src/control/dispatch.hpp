// What the control keeps for itself behind its facade: the dispatch of the
// surface's notifications, the unfinished work the host was last told of,
// the entry form as the current add or edit began, and the count of the
// transfer's notifications. One per control, on the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "editing/entry_snapshot.hpp"
#include "harnolfees/control.hpp"

namespace harnolfees::control {

class Dispatch {
 public:
  Dispatch(HarnolFeesCtlCenter& ctl, HostServices& host) : ctl_(ctl), host_(host) {}

  // Runs a notification of the surface. An error is shown in a message box
  // and goes no further, since no error may reach the host. A check box
  // notification raised by the control's own code while a handler runs (the
  // handler changed its Value) lets the error reach that handler instead.
  void Run(const std::function<void()>& handler, bool raisedByCode = false);

  // Tells the host when the unfinished tabs changed since it was last told;
  // nothing while a handler runs, which tells at its end.
  void NoteUnfinishedWork();

  // Counts a handler that runs outside Run as one, so that its own changes
  // report their errors to it.
  struct Scope {
    explicit Scope(Dispatch& d) : depth(d.depth_) { ++depth; }
    ~Scope() { --depth; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    int& depth;
  };

  // What the entry form held when the current add or edit began.
  editing::EntrySnapshot entryStart;
  // The transfer's notifications handled, so that a wait that ends without
  // one (a transfer cancelled under it) still restores the pointer.
  std::uint64_t transferNotifications = 0;

 private:
  HarnolFeesCtlCenter& ctl_;
  HostServices& host_;
  int depth_ = 0;
  std::vector<int> reportedUnfinished_;
};

}  // namespace harnolfees::control
