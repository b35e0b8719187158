#include "control/dispatch.hpp"

#include <exception>

namespace harnolfees::control {

void Dispatch::Run(const std::function<void()>& handler, bool raisedByCode) {
  if (raisedByCode && depth_ > 0) {
    // The handler that changed the value handles the error.
    handler();
    return;
  }
  ++depth_;
  try {
    handler();
  } catch (const std::exception& e) {
    --depth_;
    try {
      host_.MsgBox(e.what(), msgbox::kOk, "");
    } catch (...) {
      // A host that cannot show the message: the work is still noted as
      // unfinished below, which is what the operator must not lose.
    }
    NoteUnfinishedWork();
    return;
  } catch (...) {
    --depth_;
    NoteUnfinishedWork();
    return;
  }
  --depth_;
  NoteUnfinishedWork();
}

void Dispatch::NoteUnfinishedWork() {
  if (depth_ > 0) return;
  std::vector<int> now = ctl_.UnfinishedTabs();
  if (now == reportedUnfinished_) return;
  reportedUnfinished_ = std::move(now);
  host_.UnfinishedWorkChanged();
}

}  // namespace harnolfees::control
