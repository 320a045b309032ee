#include "link/waiter.h"

namespace qmx {

std::uint64_t CondVarWaiter::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void CondVarWaiter::WaitUntil(std::uint64_t seen, Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  cv_.wait_until(lock, deadline, [&] { return generation_ != seen; });
}

void CondVarWaiter::Notify() {
  {
    std::lock_guard lock(mutex_);
    ++generation_;
  }
  cv_.notify_all();
}

}  // namespace qmx
