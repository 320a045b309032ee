// The Poll I/O tab's rules without widgets: the success rate and when the
// automatic poll runs.
#include <gtest/gtest.h>

#include <optional>

#include "link/packet.h"
#include "mainwindow/poll_cycle.h"
#include "mainwindow/poll_io_logic.h"
#include "tests/fixtures/sim_link.h"

namespace qmx {
namespace {

TEST(PollIoLogicTest, SuccessRateIsTruncatedAndAbsentWithoutRequests) {
  EXPECT_EQ(SuccessRate(3, 2), 66);
  EXPECT_EQ(SuccessRate(3, 3), 100);
  EXPECT_EQ(SuccessRate(0, 0), std::nullopt);
}

TEST(PollIoLogicTest, CyclesNeverOverlapAndStopOnDisconnect) {
  EXPECT_EQ(PollSchedule::IntervalMs("0"), 10);
  EXPECT_EQ(PollSchedule::IntervalMs("5"), 5000);
  EXPECT_EQ(PollSchedule::IntervalMs("x"), 1000);
  PollSchedule s;
  EXPECT_EQ(s.Start(), 1000);  // no delay set yet: 1 second
  s.SetDelay("2");
  EXPECT_EQ(s.Start(), 2000);
  ASSERT_TRUE(s.BeginCycle());
  EXPECT_FALSE(s.BeginCycle());  // a tick during the cycle
  s.SetDelay("0");               // edited during the cycle: its end re-arms with it
  EXPECT_EQ(s.EndCycle(), 10);

  ASSERT_TRUE(s.BeginCycle());
  s.Abandon();
  EXPECT_TRUE(s.Abandoned());
  EXPECT_EQ(s.EndCycle(), std::nullopt);
  EXPECT_FALSE(s.Running());
}

TEST(PollIoLogicTest, APausedPollEndsItsCycleAndResumesOnlyIfStillRunning) {
  PollSchedule s;
  EXPECT_FALSE(s.Pause());  // not polling: nothing to resume
  EXPECT_EQ(s.Resume(), std::nullopt);
  s.Start();
  ASSERT_TRUE(s.BeginCycle());
  EXPECT_TRUE(s.Pause());
  EXPECT_TRUE(s.Abandoned());  // no further radio this cycle
  EXPECT_EQ(s.EndCycle(), std::nullopt);
  EXPECT_FALSE(s.BeginCycle());
  s.SetDelay("0");
  EXPECT_EQ(s.Resume(), 10);
  EXPECT_TRUE(s.BeginCycle());

  s.Pause();
  s.Abandon();  // disconnected meanwhile
  EXPECT_EQ(s.Resume(), std::nullopt);
}

// A disconnect while a radio's output lines are being written ends the
// cycle there: that radio's banks are not read.
TEST(PollIoLogicTest, ACycleAbandonedDuringTheOutputWritesReadsNothing) {
  test::SimLink s;
  ASSERT_TRUE(s.Open());
  ASSERT_TRUE(s.commands().EnterProtocolMode());
  PollSchedule schedule;
  schedule.SetDelay("0");
  schedule.Start();
  RadioImage image;
  RemoteRequests::Hooks disconnect;
  disconnect.begins = [&] { schedule.Abandon(); };
  RemoteRequests requests(s.commands(), image, disconnect);
  PollCycleHooks hooks;
  hooks.polled = [](int n) { return n == 1; };
  hooks.address = [](int) { return std::uint16_t{1}; };
  hooks.outputValue = [](int, int line) { return line == 0 ? std::optional<std::int32_t>(1) : std::nullopt; };
  s.module->ClearReceivedFrames();
  const std::optional<PollCycleEnd> end = RunPollCycle(schedule, requests, hooks);
  ASSERT_TRUE(end);
  EXPECT_FALSE(end->complete);
  std::vector<int> types;
  for (const Frame& f : s.module->ReceivedFrames()) types.push_back(f.type());
  EXPECT_EQ(types, std::vector<int>{ptype::SetRemoteRegister});
}

}  // namespace
}  // namespace qmx
