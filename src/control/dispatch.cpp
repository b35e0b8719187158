#include "control/dispatch.hpp"

#include <exception>
#include <optional>
#include <string>

namespace harnolfees::control {

void Dispatch::Run(const std::function<void()>& handler, bool raisedByCode) {
  if (raisedByCode && depth_ > 0) {
    // The handler that changed the value handles the error.
    handler();
    return;
  }
  ++depth_;
  std::optional<std::string> failure;
  try {
    handler();
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    // Nothing to show; the work is still noted below.
  }
  --depth_;
  if (failure) {
    try {
      host_.MsgBox(*failure, msgbox::kOk, "");
    } catch (...) {
      // A host that cannot show the message: the work is still noted as
      // unfinished below, which is what the operator must not lose.
    }
  }
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
