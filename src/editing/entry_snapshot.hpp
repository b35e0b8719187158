// The entry form as the operator sees it, to tell whether an add or edit
// changed anything since it began.
#pragma once

#include <array>
#include <string>

#include "harnolfees/runtime.hpp"
#include "harnolfees/surface.hpp"

namespace harnolfees::editing {

struct EntrySnapshot {
  std::array<std::string, 8> texts;
  std::array<int, 6> combos{};
  std::array<DateTime, 3> dates{};
  std::array<int, 2> checks{};
  friend bool operator==(const EntrySnapshot&, const EntrySnapshot&) = default;
};

// Only what the operator can see and change counts: hidden boxes carry the
// control's own bookkeeping.
EntrySnapshot TakeEntrySnapshot(const Surface& s);

}  // namespace harnolfees::editing
