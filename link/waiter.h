// How a thread that issued a command waits for its reply. The program's
// implementation keeps the windows alive with a nested event loop; this
// condition-variable one serves tests and command-line tools. Notify() may be
// called from any thread and is never lost: the waiter takes Generation()
// before it looks for what it waits for, and WaitUntil() returns at once when
// a notification came in between.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qmx {

using Clock = std::chrono::steady_clock;

class Waiter {
 public:
  virtual ~Waiter() = default;
  virtual std::uint64_t Generation() const = 0;
  // Returns once Generation() differs from `seen`, or at the deadline.
  virtual void WaitUntil(std::uint64_t seen, Clock::time_point deadline) = 0;
  virtual void Notify() = 0;
  // Lets the user interface catch up (busy loops such as the bootloader
  // search). The default does nothing.
  virtual void ProcessEvents() {}
};

class CondVarWaiter : public Waiter {
 public:
  std::uint64_t Generation() const override;
  void WaitUntil(std::uint64_t seen, Clock::time_point deadline) override;
  void Notify() override;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::uint64_t generation_ = 0;
};

}  // namespace qmx
