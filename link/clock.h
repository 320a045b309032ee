// Where the link, the simulated module and the tools take their time from.
// The program runs on the steady clock; tests put a fake clock in its place,
// so no test waits out a real time-out.
//
// A thread that waits for something or a deadline blocks in WaitUntil() on
// its own condition variable: the steady clock is a plain wait_until(); a
// clock moved by hand wakes the waiter when it moves past the deadline.
// Waiters that block another way (an event loop) ask to be told when the
// clock moves (OnMove) and re-check their deadline then.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace qmx {

using Clock = std::chrono::steady_clock;

class TimeSource {
 public:
  virtual ~TimeSource() = default;
  virtual Clock::time_point Now() const = 0;
  // Blocks until `cv` is notified (spurious returns allowed, as with any
  // condition variable) or this clock reaches `deadline`. `lock` holds the
  // mutex that guards the caller's condition, on entry and on return.
  virtual void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                         Clock::time_point deadline) = 0;
  // Lets `duration` pass on the calling thread.
  virtual void Sleep(Clock::duration duration) = 0;
  // True when time passes by itself, so a waiter may arm a real timer for a
  // deadline; otherwise it listens with OnMove().
  virtual bool Steady() const { return false; }
  // A waiter that blocks without WaitUntil() announces that it is about to
  // block until `deadline` (a fake clock may choose to get there at once).
  virtual void WillBlockUntil(Clock::time_point /*deadline*/) {}
  // `listener` runs, on the thread that moves the clock, each time it moves;
  // nullptr removes it. One listener per key. The steady clock never calls
  // it.
  virtual void OnMove(const void* /*key*/, std::function<void()> /*listener*/) {}
};

// The process-wide steady clock.
TimeSource& SteadyTime();

}  // namespace qmx
