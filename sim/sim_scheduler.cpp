#include "sim/sim_scheduler.h"

namespace qmx::sim {

SimScheduler::SimScheduler(std::mutex& mutex, TimeSource& time) : mutex_(mutex), time_(time) {}

SimScheduler::~SimScheduler() { Stop(); }

void SimScheduler::Start() {
  // A clock moved by hand wakes the thread under the module's lock, so that
  // neither its move nor a new task can slip past the thread's check of the
  // time before it blocks.
  if (!time_.Steady()) time_.OnMove(this, [this] {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
  });
  thread_ = std::thread([this] { Loop(); });
}

void SimScheduler::Stop() {
  if (!thread_.joinable()) return;
  if (!time_.Steady()) time_.OnMove(this, nullptr);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void SimScheduler::Loop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (tasks_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto due = tasks_.top().due;
    if (time_.Now() < due) {
      if (time_.Steady()) time_.WaitUntil(lock, wake_, due);
      else wake_.wait(lock);
      continue;
    }
    auto run = tasks_.top().run;
    due_ = tasks_.top().due;
    tasks_.pop();
    run();
    due_.reset();
    idle_.notify_all();
  }
}

Clock::time_point SimScheduler::Now() const { return due_ ? *due_ : time_.Now(); }

void SimScheduler::After(Clock::duration delay, std::function<void()> task) {
  tasks_.push(Task{Now() + delay, order_++, std::move(task)});
  wake_.notify_all();
}

void SimScheduler::WaitUntilIdle() const {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return stopping_ || tasks_.empty() || tasks_.top().due > time_.Now(); });
}

std::optional<Clock::time_point> SimScheduler::NextDue() const {
  std::lock_guard lock(mutex_);
  if (tasks_.empty()) return std::nullopt;
  return tasks_.top().due;
}

}  // namespace qmx::sim
