// The event queue of hosts without a message loop of their own. Transfers
// post their notifications from a worker thread; the user-interface thread
// runs them from DoEvents, sleeping on the condition variable in between so
// that a wait for a slow server costs no processor time.
#include "harnolfees/host.hpp"

namespace harnolfees {

void EventQueue::Post(std::function<void()> event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  cv_.notify_one();
}

int EventQueue::RunPending(std::chrono::milliseconds wait) {
  std::deque<std::function<void()>> batch;
  {
    std::unique_lock lock(mutex_);
    if (events_.empty() && wait.count() > 0) {
      cv_.wait_for(lock, wait, [this] { return !events_.empty(); });
    }
    batch.swap(events_);
  }
  // Events run outside the lock: an event may post further events (they run
  // on the next call) or yield again itself.
  int ran = 0;
  while (!batch.empty()) {
    auto event = std::move(batch.front());
    batch.pop_front();
    ++ran;
    if (!event) continue;
    try {
      event();
    } catch (...) {
      // The events not yet run stay queued for the next call; the error
      // goes to the caller.
      std::lock_guard lock(mutex_);
      events_.insert(events_.begin(), std::make_move_iterator(batch.begin()),
                     std::make_move_iterator(batch.end()));
      throw;
    }
  }
  return ran;
}

bool EventQueue::Empty() const {
  std::lock_guard lock(mutex_);
  return events_.empty();
}

}  // namespace harnolfees
