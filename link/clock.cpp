#include "link/clock.h"

#include <thread>

namespace qmx {

namespace {
class SteadyTimeSource final : public TimeSource {
 public:
  Clock::time_point Now() const override { return Clock::now(); }
  void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                 Clock::time_point deadline) override {
    cv.wait_until(lock, deadline);
  }
  void Sleep(Clock::duration duration) override { std::this_thread::sleep_for(duration); }
  bool Steady() const override { return true; }
};
}  // namespace

TimeSource& SteadyTime() {
  static SteadyTimeSource clock;
  return clock;
}

}  // namespace qmx
