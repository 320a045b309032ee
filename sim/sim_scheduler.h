// The simulated module's timed tasks: one thread that sleeps until the next
// task is due and runs it under the module's lock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <queue>
#include <thread>
#include <vector>

#include "link/clock.h"

namespace qmx::sim {

class SimScheduler {
 public:
  // `mutex` is the module's lock, which every task runs under; `time` the
  // clock the tasks are due by. Both must outlive the scheduler.
  SimScheduler(std::mutex& mutex, TimeSource& time);
  // Stops the thread if Stop() has not.
  ~SimScheduler();
  SimScheduler(const SimScheduler&) = delete;
  SimScheduler& operator=(const SimScheduler&) = delete;

  // Starts the thread; the owner calls it once everything a task may touch
  // exists.
  void Start();
  // Ends the thread (tasks not yet due are dropped). Lock not held.
  void Stop();

  // Lock held: runs `task` `delay` after Now().
  void After(Clock::duration delay, std::function<void()> task);
  // Lock held: the time the running task was due, or the clock's time
  // outside tasks. A task scheduled by a task counts from there.
  Clock::time_point Now() const;
  TimeSource& Time() const { return time_; }

  // Lock not held: blocks until every task that is due by the clock's
  // present time has run.
  void WaitUntilIdle() const;
  // Lock not held: when the next task is due, if one is waiting.
  std::optional<Clock::time_point> NextDue() const;

 private:
  struct Task {
    Clock::time_point due;
    std::uint64_t order;
    std::function<void()> run;
    bool operator>(const Task& o) const { return due != o.due ? due > o.due : order > o.order; }
  };

  void Loop();

  std::mutex& mutex_;
  TimeSource& time_;
  std::condition_variable wake_;
  mutable std::condition_variable idle_;  // a task has run
  std::priority_queue<Task, std::vector<Task>, std::greater<Task>> tasks_;
  std::uint64_t order_ = 0;
  std::optional<Clock::time_point> due_;  // of the running task
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace qmx::sim
