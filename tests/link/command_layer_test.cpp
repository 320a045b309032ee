// The command layer against the simulated module through the in-process
// port: what goes on the wire, retries, time-outs, reply matching and the
// results callers see.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "config/register_map.h"
#include "tests/fixtures/sim_link.h"

namespace qmx::test {
namespace {

using std::chrono::milliseconds;
using sim::Fault;

constexpr double kShort = 60.0;  // ms; on the fake clock it passes only when a test expires it

PacketRecord ReadRecord(std::uint8_t bank, std::uint8_t reg, std::uint8_t span, std::uint16_t address = 0) {
  PacketRecord rec;
  rec.Bank = bank;
  rec.Register = reg;
  rec.Span = span;
  rec.NetworkAddress = address;
  return rec;
}

// On the fake clock, with remote radios answering at once (their latency
// would run on a clock that only the test moves). A case whose radio stays
// silent expires the waits that run out.
class CommandLayerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(s.Open()); }
  SimLink s{FakeTime{}, {.remoteLatency = milliseconds(0)}};
};

// The (sequence number, type) of every frame the log says was sent.
std::vector<std::pair<int, int>> SentFrames(const std::string& log) {
  std::vector<std::pair<int, int>> out;
  const std::string marker = "Sent Data : FB ";
  for (std::size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
    const std::size_t seq = at + marker.size() + 3;
    out.emplace_back(std::stoi(log.substr(seq, 2), nullptr, 16), std::stoi(log.substr(seq + 3, 2), nullptr, 16));
  }
  return out;
}

TEST(CommandLayerSilentTest, SilentRadioGetsRetriesPlusOneFramesWithConsecutiveSequenceNumbers) {
  SimLink s{FakeTime{}};
  ASSERT_TRUE(s.Open());
  s.module->SetFault(Fault::NeverReply);
  s.clock.ExpireWaits();
  s.link->options.logData = true;
  s.link->sequence.Reset(125);
  const auto start = s.clock.Now();
  EXPECT_FALSE(s.commands().EnterProtocolMode());
  EXPECT_EQ(s.clock.Now() - start, milliseconds(4000));  // each attempt waited out its second
  // 126, 127, then 0 and 1: the counter wraps after 127.
  EXPECT_EQ(SentFrames(s.LogText()), (std::vector<std::pair<int, int>>{{126, 0x00}, {127, 0x00}, {0, 0x00}, {1, 0x00}}));

  EXPECT_FALSE(s.commands().EnterProtocolMode({kShort, 0}));
  EXPECT_EQ(SentFrames(s.LogText()).size(), 5u);

  const auto resetStart = s.clock.Now();
  EXPECT_FALSE(s.commands().SoftwareReset());  // never retransmitted
  EXPECT_EQ(s.clock.Now() - resetStart, milliseconds(1000));
  EXPECT_EQ(SentFrames(s.LogText()).back(), std::make_pair(3, 0x02));
  EXPECT_EQ(SentFrames(s.LogText()).size(), 6u);
}

TEST_F(CommandLayerTest, FirstReplyLostIsRecoveredByARetransmissionWithAFreshNumber) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  s.module->ClearReceivedFrames();
  s.module->SetFault(Fault::DropReply, 1);
  s.clock.ExpireWaits(1);  // the wait for the dropped reply
  PacketRecord rec = ReadRecord(1, 0, 34);
  EXPECT_EQ(s.commands().GetRegister(rec, {kShort, 3}).value(), 34);
  const auto sent = s.Received();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].first, sent[0].first + 1);
}

TEST_F(CommandLayerTest, RegisterReadAndWriteResults) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  PacketRecord rec = ReadRecord(1, 0, 34);
  ASSERT_EQ(s.commands().GetRegister(rec, {kShort, 3}).value(), 34);
  auto expected = s.module->Registers(sim::kLocal, 1, 0, 34);
  ASSERT_TRUE(expected);
  EXPECT_TRUE(std::equal(expected->begin(), expected->end(), rec.Data.begin()));
  EXPECT_EQ(rec.PacketType, ptype::GetRegisterReply);

  PacketRecord set = ReadRecord(0, 10, 1);
  set.Data[0] = 0x07;
  EXPECT_TRUE(s.commands().SetRegister(set, {kShort, 3}));
  EXPECT_EQ(s.module->Registers(sim::kLocal, 0, 10, 1), std::vector<std::uint8_t>{0x07});

  // A write to a read-only bank is refused by the module: no reply, failure.
  s.clock.ExpireWaits(1);
  PacketRecord ro = ReadRecord(16, 0, 1);
  EXPECT_FALSE(s.commands().SetRegister(ro, {kShort, 0}));
}

TEST_F(CommandLayerTest, TxDataSucceedsWhateverTheStatusAndReportsIt) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  struct Case {
    std::uint16_t address;
    std::uint8_t status;
  } cases[] = {{0x0001, txstatus::Acknowledged}, {0x0BAD, txstatus::NoAcknowledgement}};
  for (const Case& c : cases) {
    PacketRecord rec;
    rec.NetworkAddress = c.address;
    rec.Length = 2;
    rec.Data[0] = 'h';
    rec.Data[1] = 'i';
    EXPECT_TRUE(s.commands().TxData(rec, {kShort, 3})) << c.address;
    EXPECT_EQ(rec.TxStatus, c.status) << c.address;
  }
  s.module->SetLocalLinked(false);
  PacketRecord rec;
  rec.NetworkAddress = 1;
  EXPECT_TRUE(s.commands().TxData(rec, {kShort, 3}));
  EXPECT_EQ(rec.TxStatus, txstatus::NotLinked);
}

TEST_F(CommandLayerTest, RemoteRegisterStatusesAndRowStatistics) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  RemoteLinkStats row1, row2, row3;

  PacketRecord rec = ReadRecord(0, 0, 44, 0x0002);
  EXPECT_EQ(s.commands().GetRemoteRegister(rec, {kShort, 3}, &row2).value(), 44);
  EXPECT_EQ(rec.TxStatus, txstatus::Acknowledged);
  EXPECT_NE(rec.Lqi, 0);
  EXPECT_EQ(row2.attempts, 1u);
  EXPECT_EQ(row2.successes, 1u);

  // Not linked: fails at once, Span 0, no retransmission, no success.
  s.module->SetRemoteLinked(0x0003, false);
  s.module->ClearReceivedFrames();
  rec = ReadRecord(0, 0, 44, 0x0003);
  EXPECT_EQ(s.commands().GetRemoteRegister(rec, {kShort, 3}, &row3).status(), Status::Refused);
  EXPECT_EQ(rec.Span, 0);
  EXPECT_EQ(rec.TxStatus, txstatus::NotLinked);
  EXPECT_EQ(s.Received().size(), 1u);
  EXPECT_EQ(row3.attempts, 1u);
  EXPECT_EQ(row3.successes, 0u);

  // Unknown address: no acknowledgement.
  rec = ReadRecord(0, 0, 44, 0x0777);
  EXPECT_FALSE(s.commands().GetRemoteRegister(rec, {kShort, 3}));
  EXPECT_EQ(rec.TxStatus, txstatus::NoAcknowledgement);

  // Silent air: every transmission counts as an attempt.
  s.module->SetFault(Fault::NeverReply);
  s.clock.ExpireWaits();
  rec = ReadRecord(0, 0, 44);
  // Routed to the remote form at the address given.
  EXPECT_EQ(s.commands().GetRegister(rec, {kShort, 2}, RadioAddress::Remote(0x0001), &row1).status(), Status::NoReply);
  EXPECT_EQ(rec.NetworkAddress, 0x0001);
  EXPECT_EQ(row1.attempts, 3u);
  EXPECT_EQ(row1.successes, 0u);
}

TEST_F(CommandLayerTest, ReplyWithAnotherSequenceNumberIsNotTaken) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  s.module->SetFault(Fault::WrongSequence);
  // The time-out passes once the wrong reply is in: it had its chance.
  s.link->queue.SetStoreListener([&, self = std::this_thread::get_id()] {
    s.clock.ExpireWaits(-1, self);
    s.waiter->Notify();
  });
  PacketRecord rec = ReadRecord(3, 0, 2);
  EXPECT_FALSE(s.commands().GetRegister(rec, {kShort, 0}));
  EXPECT_EQ(s.link->queue.Count(), 1u);
}

TEST_F(CommandLayerTest, ReplyLeftOverFromAnEarlierCommandNeverAnswersALaterOne) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  // A late reply to an abandoned command sits in the queue under number 9.
  PacketRecord stale;
  stale.SequenceNumber = 9;
  stale.PacketType = ptype::GetRegisterReply;
  stale.Span = 5;
  s.link->queue.Store(stale);
  s.link->sequence.Reset(8);
  s.module->SetFault(Fault::NeverReply);
  s.clock.ExpireWaits();
  PacketRecord rec = ReadRecord(3, 0, 2);
  EXPECT_FALSE(s.commands().GetRegister(rec, {kShort, 0}));
  EXPECT_EQ(s.link->queue.Count(), 0u);
}

TEST_F(CommandLayerTest, DuplicateAndNoisyRepliesStillAnswerOnce) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  for (Fault f : {Fault::DuplicateReply, Fault::Noise, Fault::OverlongLength}) {
    s.module->ClearFaults();
    s.module->SetFault(f);
    PacketRecord rec = ReadRecord(2, 0, 21);
    EXPECT_EQ(s.commands().GetRegister(rec, {kShort, 0}).value(), 21) << static_cast<int>(f);
  }
}

TEST_F(CommandLayerTest, FrameThatWouldBeTooLongIsNeverBuilt) {
  s.module->ClearReceivedFrames();
  s.link->options.logData = true;
  PacketRecord rec = ReadRecord(0, 0, 96);  // 5 + 96 > 100
  EXPECT_FALSE(s.commands().SetRegister(rec, {kShort, 3}));
  PacketRecord tx;
  tx.Length = 97;  // 4 + 97 > 100
  EXPECT_FALSE(s.commands().TxData(tx, {kShort, 3}));
  EXPECT_TRUE(s.Received().empty());
  EXPECT_EQ(s.LogText(), "");
}

// The log buffers its entries; a port that closes leaves them all on disk.
TEST_F(CommandLayerTest, ClosingThePortWritesTheLogOut) {
  s.link->options.logData = true;
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  s.link->transport.StopComm();
  std::ifstream in(s.dir.File("logfile.dat"), std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(log.find("(Enter Protocol Mode)\r\n"), std::string::npos) << log;
}

TEST_F(CommandLayerTest, LoggedLines) {
  s.link->options.logData = true;
  s.link->sequence.Reset(0);
  PacketRecord rec = ReadRecord(2, 0, 21);
  s.module->SetFault(Fault::NeverReply);
  s.clock.ExpireWaits();
  (void)s.commands().GetRegister(rec, {kShort, 0});
  s.link->sequence.Reset(4);
  (void)s.commands().ExitProtocolMode({kShort, 0});
  (void)s.commands().FactoryOverride({kShort, 1});
  EXPECT_EQ(s.LogText(),
            "Sent Data : FB 05 01 03 00 02 15 (Get Register)\r\n"
            "Sent Data : FB 02 05 01 \r\n(Exit Protocol Mode)\r\n"
            "Factory Override : FB 06 06 04 6A FF 01 6A (Factory Override)\r\n"
            "Sent Data : FB 06 07 04 6A FF 01 6A (Factory Override)\r\n");
}

TEST_F(CommandLayerTest, RemoteActionsGoToTheAddressGiven) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  s.module->ClearReceivedFrames();
  EXPECT_TRUE(s.commands().MemorySave({kShort, 3}, RadioAddress::Remote(0x0002)));
  const auto frames = s.module->ReceivedFrames();
  ASSERT_EQ(frames.size(), 1u);
  const std::vector<std::uint8_t> payload(frames[0].payload(), frames[0].payload() + frames[0].payloadSize());
  EXPECT_EQ(frames[0].type(), ptype::SetRemoteRegister);
  EXPECT_EQ(payload, (std::vector<std::uint8_t>{0x02, 0x00, 0xFF, 0xFF, 0x01, 0x01}));
}

// Defaults and reset of a remote radio: the same action-bank writes as the
// local forms, as Set Remote Register to the address given.
TEST_F(CommandLayerTest, RemoteDefaultsAndResetAreActionWritesAtTheAddress) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  s.module->ClearReceivedFrames();
  EXPECT_TRUE(s.commands().LoadFactoryDefaults(RadioAddress::Remote(0x0002)));
  EXPECT_TRUE(s.commands().SoftwareReset(RadioAddress::Remote(0x0002)));
  std::vector<std::vector<std::uint8_t>> sent;
  for (const Frame& f : s.module->ReceivedFrames()) {
    EXPECT_EQ(f.type(), ptype::SetRemoteRegister);
    sent.emplace_back(f.payload(), f.payload() + f.payloadSize());
  }
  EXPECT_EQ(sent, (std::vector<std::vector<std::uint8_t>>{{0x02, 0x00, 0xFF, 0xFF, 0x01, 0x00},
                                                          {0x02, 0x00, 0x00, 0xFF, 0x01, 0x00}}));
}

TEST_F(CommandLayerTest, LostDeviceFailsAWaitingCommandAtOnce) {
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  // Unplugged as the command arrives, never answered. The clock stands
  // still, so only the loss can end the wait (a wait left running blocks).
  s.module->SetFault(Fault::Unplug, 1, 0);
  const auto start = s.clock.Now();
  PacketRecord rec = ReadRecord(0, 0, 44);
  EXPECT_FALSE(s.commands().GetRegister(rec, {10000, 3}));
  EXPECT_EQ(s.clock.Now(), start);
  EXPECT_EQ(s.module->ReceivedFrames().size(), 2u);  // no retransmission to a port that is gone
  EXPECT_FALSE(s.link->transport.IsOpen());
  EXPECT_FALSE(s.commands().EnterProtocolMode({kShort, 0}));
}

// A waiter that runs another command the first time a command waits, as a
// window event handled during the wait would.
class ReentrantWaiter : public CondVarWaiter {
 public:
  std::function<void()> onFirstWait;
  void WaitUntil(std::uint64_t seen, Clock::time_point deadline) override {
    if (auto f = std::exchange(onFirstWait, nullptr)) {
      f();
      return;
    }
    CondVarWaiter::WaitUntil(seen, deadline);
  }
};

TEST(CommandLayerReentrancy, InnerCommandTakesOnlyItsReplyAndOuterKeepsOneThatCameInTime) {
  auto owned = std::make_unique<ReentrantWaiter>();
  ReentrantWaiter* waiter = owned.get();
  SimLink s({}, std::move(owned));
  ASSERT_TRUE(s.Open());
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));

  // Replies come 30 ms late, so the outer command surely waits.
  s.module->SetFault(Fault::LateReply, -1, 30);
  PacketRecord inner = ReadRecord(3, 0, 2);
  int innerResult = 0;
  waiter->onFirstWait = [&] {
    innerResult = s.commands().GetRegister(inner, {1000, 0}).value();
    // The handler runs past the outer command's whole time-out.
    std::this_thread::sleep_for(milliseconds(150));
  };
  PacketRecord outer = ReadRecord(1, 0, 34);
  EXPECT_EQ(s.commands().GetRegister(outer, {100, 0}).value(), 34);
  EXPECT_EQ(outer.Bank, 1);
  EXPECT_EQ(innerResult, 2);
  EXPECT_EQ(inner.Bank, 3);
}

TEST(ReadBanksTest, FailedBanksAreZeroedAndShorterRepliesKeepTheRest) {
  SimLink s{FakeTime{}};
  ASSERT_TRUE(s.Open());
  ASSERT_TRUE(s.commands().EnterProtocolMode({kShort, 3}));
  RadioImage image;
  EXPECT_EQ(ReadBanks(s.commands(), image, kAllBanks, 0, 0), kAllBanks);
  auto bank2 = s.module->Registers(sim::kLocal, 2, 0, 21);
  ASSERT_TRUE(bank2);
  EXPECT_TRUE(std::equal(bank2->begin(), bank2->end(), image.Slot(0).begin() + 78));

  std::fill(image.Slot(0).begin(), image.Slot(0).end(), 0xAA);
  s.module->SetFault(Fault::NeverReply);
  s.clock.ExpireWaits();
  EXPECT_EQ(ReadBanks(s.commands(), image, 0x001, 0, 0), 0);
  EXPECT_TRUE(std::all_of(image.Slot(0).begin(), image.Slot(0).begin() + 44, [](auto b) { return b == 0; }));
  EXPECT_EQ(image.Byte(0, 44), 0xAA);  // bank 1 was not asked for
}

}  // namespace
}  // namespace qmx::test
