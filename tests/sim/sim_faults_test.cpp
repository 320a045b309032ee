// The named faults of the simulated module, as a table of (fault, frames the
// host gets for two Get Register commands).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "tests/sim/sim_harness.h"

namespace qmx::sim::test {
namespace {

struct Expect {
  int command;    // 0 or 1: whose sequence number the reply carries
  int seqDelta;   // added to that sequence number, modulo 128
};

struct FaultCase {
  const char* name;
  Fault fault;
  int count;
  int param;
  std::size_t immediate;  // frames present right after the two commands
  std::vector<Expect> frames;
  std::function<void(const Harness&)> extra;
};

TEST(SimFaults, RepliesOfTwoCommands) {
  const FaultCase cases[] = {
      {"no fault", Fault::DropReply, 0, 0, 2, {{0, 0}, {1, 0}}, {}},
      {"drop the first reply", Fault::DropReply, 1, 0, 1, {{1, 0}}, {}},
      {"drop every reply", Fault::DropReply, -1, 0, 0, {}, {}},
      {"never reply", Fault::NeverReply, -1, 0, 0, {}, {}},
      {"late reply", Fault::LateReply, -1, 60, 0, {{0, 0}, {1, 0}}, {}},
      {"late first reply overtaken", Fault::LateReply, 1, 60, 1, {{1, 0}, {0, 0}}, {}},
      {"duplicate the first reply", Fault::DuplicateReply, 1, 0, 3, {{0, 0}, {0, 0}, {1, 0}}, {}},
      {"another sequence number", Fault::WrongSequence, -1, 0, 2, {{0, 1}, {1, 1}}, {}},
      {"sequence number wraps", Fault::WrongSequence, 1, 127, 2, {{0, -1}, {1, 0}}, {}},
      {"noise between frames", Fault::Noise, 1, 16, 2, {{0, 0}, {1, 0}},
       [](const Harness& h) {
         auto raw = h.out.Raw();
         ASSERT_GT(raw.size(), 16u);
         EXPECT_EQ(std::count(raw.begin(), raw.begin() + 16, kStartOfPacket), 0);
         EXPECT_EQ(raw[16], kStartOfPacket);
       }},
      {"over-long length byte", Fault::OverlongLength, 1, 0, 2, {{0, 0}, {1, 0}},
       [](const Harness& h) {
         auto raw = h.out.Raw();
         ASSERT_GT(raw.size(), 2u);
         EXPECT_EQ(raw[0], kStartOfPacket);
         EXPECT_EQ(raw[1], 101);
       }},
      {"unplug after one reply", Fault::Unplug, -1, 1, 1, {{0, 0}},
       [](const Harness& h) {
         EXPECT_TRUE(h.out.Unplugged());
         EXPECT_FALSE(h.module->IsPlugged());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClockedHarness timed;
    Harness& h = timed.h;
    h.Enter();
    if (c.count != 0) h.module->SetFault(c.fault, c.count, c.param);
    const std::uint8_t seq[2] = {h.Send(ptype::GetRegister, Reg(3, 0, 2)), h.Send(ptype::GetRegister, Reg(3, 0, 2))};
    EXPECT_EQ(h.out.Frames().size(), c.immediate);
    timed.Pass(1s);  // the late replies come, and nothing more may follow

    auto frames = h.out.Frames();
    ASSERT_EQ(frames.size(), c.frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].type(), ptype::GetRegisterReply);
      const int want = (seq[c.frames[i].command] + c.frames[i].seqDelta + 128) % 128;
      EXPECT_EQ(frames[i].sequence(), want) << "frame " << i;
    }
    if (c.extra) c.extra(h);
  }
}

TEST(SimFaults, NeverReplyMeansTheCommandDoesNotAct) {
  Harness h;
  h.Enter();
  h.module->SetFault(Fault::NeverReply);
  h.Send(ptype::SetRegister, Reg(1, 19, 1, {9}));
  EXPECT_EQ(h.module->Registers(kLocal, 1, 19, 1), std::vector<std::uint8_t>{3});
  h.module->ClearFault(Fault::NeverReply);
  EXPECT_EQ(h.Ask(ptype::SetRegister, Reg(1, 19, 1, {9}))->type(), ptype::SetRegisterReply);
}

TEST(SimFaults, DroppedReplyStillActs) {
  Harness h;
  h.Enter();
  h.module->SetFault(Fault::DropReply, 1);
  h.Send(ptype::SetRegister, Reg(1, 19, 1, {9}));
  EXPECT_TRUE(h.out.Frames().empty());
  EXPECT_EQ(h.module->Registers(kLocal, 1, 19, 1), std::vector<std::uint8_t>{9});
}

TEST(SimFaults, AsynchronousFramesAndErrorsAreNotAffected) {
  Harness h;
  h.Enter();
  h.module->SetFault(Fault::DropReply);
  h.module->SetFault(Fault::WrongSequence);
  h.module->SendAnnounce(0xA0);
  h.SendRaw(0x33, {});
  auto f = h.out.Frames();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_TRUE(IsAnnounce(f[0], 0xA0));
  EXPECT_TRUE(IsAnnounce(f[1], 0xE0));
  h.module->ClearFaults();
  EXPECT_EQ(h.Ask(ptype::GetRegister, Reg(3, 0, 1))->type(), ptype::GetRegisterReply);
}

TEST(SimFaults, LateReplyToASerialChangeStillLeavesAtTheOldLine) {
  // The module answers a bank 3 write before it switches; a late reply is
  // still sent first, so the host at the old line gets it.
  Harness h;
  h.Enter();
  h.module->SetFault(Fault::LateReply, 1, 30);
  h.Send(ptype::SetRegister, Reg(3, 0, 1, {8}));
  EXPECT_EQ(h.module->Line().settings.baudRate, 9600u);
  ASSERT_TRUE(h.out.WaitFrames(1));
  EXPECT_EQ(h.out.Frames()[0].type(), ptype::SetRegisterReply);
  EXPECT_EQ(h.module->Line().settings.baudRate, 38400u);
}

TEST(SimFaults, UnpluggedModuleIsDeadUntilPluggedAgain) {
  Harness h;
  h.Enter();
  h.module->Unplug();
  EXPECT_TRUE(h.out.Unplugged());
  EXPECT_FALSE(h.module->Attach(&h.out));
  h.Send(ptype::GetRegister, Reg(3, 0, 1));
  h.module->SendAnnounce(0xA0);
  EXPECT_TRUE(h.out.Frames().empty());

  h.module->Plug();
  ASSERT_TRUE(h.module->Attach(&h.out));
  ASSERT_TRUE(h.out.WaitFrames(2));
  EXPECT_TRUE(IsAnnounce(h.out.Frames()[0], 0xA0));
  EXPECT_TRUE(IsAnnounce(h.out.Frames()[1], 0xA1));
  h.out.Clear();
  h.Enter();
  EXPECT_TRUE(h.module->InProtocolMode());
}

}  // namespace
}  // namespace qmx::sim::test
