// How a thread that issued a command waits for its reply. The program's
// implementation keeps the windows alive with a nested event loop; this
// condition-variable one serves tests and command-line tools. Notify() may be
// called from any thread and is never lost: the waiter takes Generation()
// before it looks for what it waits for, and WaitUntil() returns at once when
// a notification came in between. Deadlines are on the waiter's clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "link/clock.h"

namespace qmx {

class Waiter {
 public:
  explicit Waiter(TimeSource& time = SteadyTime()) : time_(time) {}
  virtual ~Waiter() = default;
  TimeSource& Time() const { return time_; }
  virtual std::uint64_t Generation() const = 0;
  // Returns once Generation() differs from `seen`, or at the deadline.
  virtual void WaitUntil(std::uint64_t seen, Clock::time_point deadline) = 0;
  virtual void Notify() = 0;
  // Lets the user interface catch up (busy loops such as the bootloader
  // search). The default does nothing.
  virtual void ProcessEvents() {}
  // Lets `duration` pass on the waiter's clock; notifications do not end it.
  void Sleep(Clock::duration duration);

 private:
  TimeSource& time_;
};

class CondVarWaiter : public Waiter {
 public:
  using Waiter::Waiter;
  std::uint64_t Generation() const override;
  void WaitUntil(std::uint64_t seen, Clock::time_point deadline) override;
  void Notify() override;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::uint64_t generation_ = 0;
};

}  // namespace qmx
