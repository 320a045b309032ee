#include "tools/boot_session.h"

#include <gtest/gtest.h>

#include "link/frame.h"
#include "tests/fixtures/sim_link.h"
#include "tests/fixtures/test_ports.h"
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
  ASSERT_TRUE(s.commands().EnterProtocolMode());
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

// A port that refuses the boot code's baud rate: the way in fails with the
// port's result and the frame parser has the ring again.
TEST(BootSession, APortRefusingTheBootLineGivesItsFailureWithTheParserRunning) {
  test::TempDir temp;
  WorkDir dir(temp.path());
  test::FakePrompter prompter;
  CondVarWaiter waiter;
  test::RecordingSink sink;
  RadioLink link(
      [](const std::string&) {
        auto port = std::make_unique<test::SilentPort>();
        port->refusedBaud = kBootLine.baudRate;
        return port;
      },
      dir, prompter, waiter, sink);
  link.transport.SetSettleTime(std::chrono::milliseconds(0));
  ASSERT_TRUE(link.transport.OpenCommPort(test::FactoryLine(), "silent", true));
  link.parser.Start();
  BootSession session(link, SteadyTime());
  const Done entered = session.Enter(false);
  EXPECT_EQ(entered.status(), Status::LineNotApplied);
  EXPECT_TRUE(link.parser.Running());
}

// Bytes in the ring when the way back begins belong to the boot code's
// line: none of them reaches the decoder as a frame.
TEST_F(BootSessionFixture, BytesLeftFromTheBootCodeAreNeverParsedAfterTheWayBack) {
  ASSERT_TRUE(s.commands().EnterProtocolMode());
  BootSession session(*s.link, s.clock);
  ASSERT_TRUE(session.Enter(true));
  FirmwareUpgrade upgrade(session.Channel(), session.Time());
  ASSERT_TRUE(upgrade.FindBootPrompt());
  upgrade.Leave();
  session.AwaitApplication();
  s.module->WaitUntilIdle();
  const auto exited = BuildFrame(1, 0x27, std::vector<std::uint8_t>{0xA4});  // "Remote:  Exited PAN"
  ASSERT_TRUE(exited);
  s.link->ring.Write({exited->data(), exited->size});
  ASSERT_TRUE(session.Return());
  // A command's round trip: anything parsed before its reply is in the sink.
  ASSERT_TRUE(s.commands().EnterProtocolMode());
  for (const std::string& line : s.sink.Lines()) EXPECT_EQ(line.find("Exited PAN"), std::string::npos) << line;
}

// The port dialog's search for a boot code borrows the ring from the frame
// parser only when the parser runs, and gives it back as it found it.
TEST_F(BootSessionFixture, TheBootCodeSearchLeavesTheParserAsItFoundIt) {
  s.module->SetFault(sim::Fault::NoFirmware);
  s.module->PowerCycle();
  s.clock.Advance(std::chrono::seconds(1));
  s.module->WaitUntilIdle();
  for (bool parsing : {true, false}) {
    SCOPED_TRACE(parsing);
    if (!parsing) s.link->parser.Stop();
    EXPECT_TRUE(LookForBootCode(*s.link, s.clock));
    EXPECT_EQ(s.link->parser.Running(), parsing);
  }
}

}  // namespace
}  // namespace qmx
