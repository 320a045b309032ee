#include "tools/boot_session.h"

#include <gtest/gtest.h>

#include "link/reply_wait.h"
#include "tests/fixtures/sim_link.h"
#include "tools/firmware_upgrade.h"

namespace qmx {
namespace {

struct BootSessionFixture : ::testing::Test {
  BootSessionFixture() {
    s.link->transport.SetSettleTime(std::chrono::milliseconds(0));
    EXPECT_TRUE(s.Open());
  }
  test::SimLink s{test::FakeTime{}};
};

// Software Reset, the boot prompt at 38400 baud, "E" CR; one second on the
// session's clock for the application to start, then the radio's own line,
// the frame parser and protocol mode again.
TEST_F(BootSessionFixture, IntoTheBootCodeAndBackOnTheInjectedClock) {
  ASSERT_TRUE(s.commands().EnterProtocolMode(kUsualReplyWait.timeoutMs, kUsualReplyWait.retries));
  BootSession session(*s.link, s.clock);
  ASSERT_TRUE(session.Enter(true));
  EXPECT_FALSE(session.ResetUnanswered());
  EXPECT_FALSE(s.link->parser.Running());
  FirmwareUpgrade upgrade(session.Channel(), session.Time());
  ASSERT_TRUE(upgrade.FindBootPrompt());
  EXPECT_TRUE(s.module->InBootCode());
  upgrade.Leave();

  const auto before = s.clock.Elapsed();
  session.AwaitApplication();
  EXPECT_EQ(s.clock.Elapsed() - before, BootSession::kApplicationStart);
  s.module->WaitUntilIdle();
  ASSERT_TRUE(session.Return());
  EXPECT_TRUE(s.link->parser.Running());
  EXPECT_FALSE(s.module->InBootCode());
  EXPECT_TRUE(s.module->InProtocolMode());
  LineSettings line;
  ASSERT_TRUE(s.link->transport.ReadLine(line));
  EXPECT_EQ(line.baudRate, test::FactoryLine().baudRate);
}

// A radio already in its boot code cannot answer the reset: the way in goes
// on all the same, and the prompt search finds the boot code.
TEST_F(BootSessionFixture, AnUnansweredResetLeavesTheDecisionToThePromptSearch) {
  s.module->SetFault(sim::Fault::NoFirmware);
  s.module->PowerCycle();
  s.clock.Advance(std::chrono::seconds(1));  // past the start-up
  s.module->WaitUntilIdle();
  ASSERT_TRUE(s.module->InBootCode());
  BootSession session(*s.link, s.clock);
  s.clock.ExpireWaits(1);  // the reset's wait for its reply
  ASSERT_TRUE(session.Enter(true));
  EXPECT_TRUE(session.ResetUnanswered());
  FirmwareUpgrade upgrade(session.Channel(), session.Time());
  EXPECT_TRUE(upgrade.FindBootPrompt(kBootProbeAttempts));
  session.Abandon();
  EXPECT_FALSE(s.link->transport.IsOpen());
  EXPECT_TRUE(s.link->parser.Running());
}

}  // namespace
}  // namespace qmx
