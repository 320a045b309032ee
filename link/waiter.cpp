#include "link/waiter.h"

namespace qmx {

void Waiter::Sleep(Clock::duration duration) {
  // A clock moved by hand gets there at once; the steady one waits here so
  // that an event-loop waiter keeps the windows alive meanwhile.
  if (!time_.Steady()) {
    time_.Sleep(duration);
    return;
  }
  const auto deadline = time_.Now() + duration;
  while (time_.Now() < deadline) WaitUntil(Generation(), deadline);
}

std::uint64_t CondVarWaiter::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void CondVarWaiter::WaitUntil(std::uint64_t seen, Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  while (generation_ == seen && Time().Now() < deadline) Time().WaitUntil(lock, cv_, deadline);
}

void CondVarWaiter::Notify() {
  {
    std::lock_guard lock(mutex_);
    ++generation_;
  }
  cv_.notify_all();
}

}  // namespace qmx
