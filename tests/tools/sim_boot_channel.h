// A byte channel straight to a simulated module on a fake clock: writes
// reach the module at once, and a read with nothing received moves the clock
// to the module's next task or to the read's deadline, whichever is first,
// so a time-out takes no real time and the module's timers still run in
// order.
#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "sim/sim_module.h"
#include "tests/fixtures/fake_clock.h"
#include "link/byte_channel.h"

namespace qmx::test {

class SimBootChannel final : public ByteChannel, private sim::SimSink {
 public:
  SimBootChannel(std::shared_ptr<sim::SimModule> module, FakeClock& clock,
                 LineSettings line = sim::SimBootloader::Line())
      : module_(std::move(module)), clock_(clock), line_(line) {
    module_->Attach(this);
  }
  ~SimBootChannel() override { module_->Detach(this); }

  Done Write(std::span<const std::uint8_t> bytes) override {
    module_->FromHost(bytes, line_);
    return {};
  }

  int ReadByte(Clock::time_point deadline) override {
    for (;;) {
      module_->WaitUntilIdle();
      {
        std::lock_guard lock(mutex_);
        if (!input_.empty()) {
          const std::uint8_t b = input_.front();
          input_.pop_front();
          return b;
        }
      }
      const auto now = clock_.Now();
      if (now >= deadline) return -1;
      const auto next = module_->NextDue();
      const auto to = next && *next < deadline ? std::max(*next, now) : deadline;
      if (to > now) clock_.Advance(to - now);
    }
  }

  void DropInput() override {
    std::lock_guard lock(mutex_);
    input_.clear();
  }

 private:
  void OnOutput(std::span<const std::uint8_t> bytes, const sim::SimLine& line) override {
    if (!line.Accepts(line_)) return;
    std::lock_guard lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
  }
  void OnUnplug() override {}

  std::shared_ptr<sim::SimModule> module_;
  FakeClock& clock_;
  LineSettings line_;
  std::mutex mutex_;
  std::deque<std::uint8_t> input_;
};

}  // namespace qmx::test
