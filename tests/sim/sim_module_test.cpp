// The simulated module against frames: line and modes, registers, action
// bank, reset, and protocol errors.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/banks.h"
#include "tests/sim/sim_harness.h"

namespace qmx::sim::test {
namespace {

constexpr std::uint8_t kE0 = 0xE0, kE1 = 0xE1, kE3 = 0xE3, kE4 = 0xE4;

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> ReplyData(const Frame& f) {
  // Get Register Reply: Register, Bank, Span, data.
  auto p = Payload(f);
  return {p.begin() + 3, p.end()};
}

LineSettings LineOf(std::uint32_t baud, std::uint8_t par = parity::None, std::uint8_t stop = stopbits::One) {
  LineSettings l;
  l.baudRate = baud;
  l.parity = par;
  l.stopBits = stop;
  return l;
}

// --- line and modes ---------------------------------------------------------

TEST(SimLine, StartsTransparentAndAnswersOnlyEnterProtocolMode) {
  Harness h;
  EXPECT_FALSE(h.module->InProtocolMode());
  // A Get Register in transparent mode is just data: it comes back as the
  // loop-back remote's echo, not as a reply.
  auto get = BuildCommandFrame(ptype::GetRegister, Reg(3, 0, 2), 5);
  h.SendBytes({get->data(), get->size});
  EXPECT_EQ(h.out.Raw(), std::vector<std::uint8_t>(get->data(), get->data() + get->size));
  EXPECT_TRUE(h.out.Frames().size() == 1 && h.out.Frames()[0].type() == ptype::GetRegister);

  h.out.Clear();
  const auto seq = h.Send(ptype::EnterProtocolMode);
  auto reply = h.Only();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->type(), ptype::EnterProtocolModeReply);
  EXPECT_EQ(reply->sequence(), seq);
  EXPECT_TRUE(h.module->InProtocolMode());
}

TEST(SimLine, EnterProtocolModeIsFoundInsideTransparentTrafficAndSplitWrites) {
  Harness h;
  auto enter = BuildCommandFrame(ptype::EnterProtocolMode, {}, 9);
  // A false start that matches the frame's first bytes is data too.
  const std::vector<std::uint8_t> data{'a', 0xFB, 0x09, 0x05, 'b', 0xFB};
  std::vector<std::uint8_t> stream = data;
  stream.insert(stream.end(), enter->data(), enter->data() + enter->size);
  for (std::uint8_t b : stream) h.SendBytes({&b, 1});

  // The data come back, the frame's own bytes do not; then the reply.
  std::vector<std::uint8_t> expected = data;
  expected.insert(expected.end(), {kStartOfPacket, 2, 9, ptype::EnterProtocolModeReply});
  EXPECT_EQ(h.out.Raw(), expected);
  EXPECT_TRUE(h.module->InProtocolMode());
}

TEST(SimLine, ExitProtocolModePassesBytesThroughUntilEnteredAgain) {
  Harness h;
  h.Enter();
  auto exit = h.Ask(ptype::ExitProtocolMode);
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->type(), ptype::ExitProtocolModeReply);
  EXPECT_FALSE(h.module->InProtocolMode());

  h.out.Clear();
  auto text = Bytes("This is a test");
  h.SendBytes(text);
  EXPECT_EQ(h.out.Raw(), text);

  auto enter = h.Ask(ptype::EnterProtocolMode);
  ASSERT_TRUE(enter);
  EXPECT_EQ(enter->type(), ptype::EnterProtocolModeReply);
}

TEST(SimLine, TransparentEchoCanBeSwitchedOff) {
  auto o = FastOptions();
  o.transparentEcho = false;
  Harness h(o);
  h.SendBytes(Bytes("quiet"));
  EXPECT_TRUE(h.out.Raw().empty());
}

TEST(SimLine, HalfFrameInTransparentModeIsReleasedAsDataAfterSilence) {
  Harness h;
  const std::vector<std::uint8_t> start{0xFB, 0x09};
  h.SendBytes(start);
  EXPECT_TRUE(h.out.Raw().empty());
  ASSERT_TRUE(h.out.WaitRaw(2));
  EXPECT_EQ(h.out.Raw(), start);
}

struct MismatchCase {
  const char* name;
  MatchMode mode;
  LineSettings host;
  bool understood;
};

TEST(SimLine, HostLineMustMatchTheModuleLine) {
  const MismatchCase cases[] = {
      {"same line", MatchMode::Uart, LineOf(9600), true},
      {"other baud", MatchMode::Uart, LineOf(38400), false},
      {"even parity", MatchMode::Uart, LineOf(9600, parity::Even), false},
      {"seven data bits", MatchMode::Uart, [] { auto l = LineOf(9600); l.byteSize = 7; return l; }(), false},
      {"two stop bits do not matter to a UART", MatchMode::Uart, LineOf(9600, parity::None, stopbits::Two), true},
      {"strict: two stop bits", MatchMode::Full, LineOf(9600, parity::None, stopbits::Two), false},
      {"strict: same line", MatchMode::Full, LineOf(9600), true},
      {"strict: odd parity", MatchMode::Full, LineOf(9600, parity::Odd), false},
      {"pty: parity unseen", MatchMode::BaudRate, LineOf(9600, parity::Odd, stopbits::Two), true},
      {"pty: other baud", MatchMode::BaudRate, LineOf(19200), false},
      {"strict pty: parity unseen", MatchMode::BaudAndStopBits, LineOf(9600, parity::Odd), true},
      {"strict pty: two stop bits", MatchMode::BaudAndStopBits, LineOf(9600, parity::None, stopbits::Two), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto o = FastOptions();
    o.match = c.mode;
    Harness h(o);
    h.out.SetHost(c.host);
    h.Send(ptype::EnterProtocolMode);
    EXPECT_EQ(h.module->InProtocolMode(), c.understood);
    EXPECT_EQ(h.out.Frames().size(), c.understood ? 1u : 0u);
  }
}

TEST(SimLine, SerialRegisterChangeAnswersAtOldLineThenSwitches) {
  Harness h;
  h.Enter();
  // Baud rate code 11: 115200.
  const auto seq = h.Send(ptype::SetRegister, Reg(3, 0, 1, {11}));
  auto reply = h.Only();
  ASSERT_TRUE(reply) << "the reply must go out at 9600";
  EXPECT_EQ(reply->type(), ptype::SetRegisterReply);
  EXPECT_EQ(reply->sequence(), seq);
  EXPECT_EQ(h.module->Line().settings.baudRate, 115200u);

  // At the old line the module no longer understands the host...
  EXPECT_FALSE(h.Ask(ptype::GetRegister, Reg(3, 0, 1)));
  // ...at the new one it answers the read-back.
  h.out.SetHost(LineOf(115200));
  auto back = h.Ask(ptype::GetRegister, Reg(3, 0, 1));
  ASSERT_TRUE(back);
  EXPECT_EQ(ReplyData(*back), std::vector<std::uint8_t>{11});

  // Parity and stop bits: 0x28 is even parity, two stop bits.
  ASSERT_TRUE(h.Ask(ptype::SetRegister, Reg(3, 1, 1, {0x28})));
  EXPECT_FALSE(h.Ask(ptype::GetRegister, Reg(3, 1, 1)));
  h.out.SetHost(LineOf(115200, parity::Even, stopbits::Two));
  auto params = h.Ask(ptype::GetRegister, Reg(3, 0, 2));
  ASSERT_TRUE(params);
  EXPECT_EQ(ReplyData(*params), (std::vector<std::uint8_t>{11, 0x28}));
}

TEST(SimLine, InvalidSerialCodesAreRefusedAndTheLineStays) {
  Harness h;
  h.Enter();
  for (std::uint8_t code : {std::uint8_t{10}, std::uint8_t{2}, std::uint8_t{0}}) {
    auto r = h.Ask(ptype::SetRegister, Reg(3, 0, 1, {code}));
    ASSERT_TRUE(r);
    EXPECT_TRUE(IsAnnounce(*r, kE1)) << int(code);
  }
  auto r = h.Ask(ptype::SetRegister, Reg(3, 1, 1, {0x18}));
  ASSERT_TRUE(r);
  EXPECT_TRUE(IsAnnounce(*r, kE1));
  EXPECT_EQ(h.module->Line().settings, LineOf(9600));
}

TEST(SimLine, CodeTablesRoundTrip) {
  for (std::uint8_t code = 0; code < 16; ++code) {
    auto baud = BaudFromCode(code);
    EXPECT_EQ(baud.has_value(), code >= 3 && code <= 11 && code != 10) << int(code);
    if (baud) {
      EXPECT_EQ(CodeFromBaud(*baud), code);
    }
  }
  auto odd2 = LineFromCodes(4, 0x38);
  ASSERT_TRUE(odd2);
  EXPECT_EQ(*odd2, LineOf(2400, parity::Odd, stopbits::Two));
  EXPECT_EQ(CodesFromLine(*odd2), (std::array<std::uint8_t, 2>{4, 0x38}));
  EXPECT_FALSE(CodesFromLine(LineOf(14400)));
}

// --- registers --------------------------------------------------------------

TEST(SimRegisters, EveryBankReadsExactlyItsLength) {
  Harness h;
  h.Enter();
  for (const auto& bank : kBanks) {
    SCOPED_TRACE(int(bank.bank));
    const auto seq = h.Send(ptype::GetRegister, Reg(bank.bank, 0, bank.length));
    auto r = h.Only();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->type(), ptype::GetRegisterReply);
    EXPECT_EQ(r->sequence(), seq);
    auto p = Payload(*r);
    ASSERT_GE(p.size(), 3u);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], bank.bank);
    EXPECT_EQ(p[2], bank.length);
    EXPECT_EQ(p.size(), 3u + bank.length);
    h.out.Clear();
  }
}

TEST(SimRegisters, FactoryValuesDescribeABaseAtTheDefaultLine) {
  Harness h;
  h.Enter();
  auto b0 = ReplyData(*h.Ask(ptype::GetRegister, Reg(0, 0, 3)));
  EXPECT_EQ(b0, (std::vector<std::uint8_t>{2, 0x34, 0x12}));  // Base, PAN 0x1234
  auto b2 = ReplyData(*h.Ask(ptype::GetRegister, Reg(2, 8, 8)));
  // Address 0x0000, PAN 0x1234, channel 0x0F, linked, version 2.1 / 2.1.
  EXPECT_EQ(b2, (std::vector<std::uint8_t>{0, 0, 0x34, 0x12, 0x0F, 1, 0x21, 0x21}));
  auto b3 = ReplyData(*h.Ask(ptype::GetRegister, Reg(3, 0, 2)));
  EXPECT_EQ(b3, (std::vector<std::uint8_t>{6, 0x00}));
  auto date = ReplyData(*h.Ask(ptype::GetRegister, Reg(16, 53, 19)));
  EXPECT_EQ(std::string(date.begin(), date.end()), "Dec 7 2026 10:00:00");
  auto crystal = ReplyData(*h.Ask(ptype::GetRegister, Reg(16, 73, 2)));
  EXPECT_EQ(crystal[0] | (crystal[1] << 8), 16000);
}

TEST(SimRegisters, ReadPastTheEndIsShortenedAndBadAddressesAreRefused) {
  Harness h;
  h.Enter();
  auto shortened = h.Ask(ptype::GetRegister, Reg(3, 1, 5));
  ASSERT_TRUE(shortened);
  EXPECT_EQ(Payload(*shortened)[2], 1);
  EXPECT_EQ(ReplyData(*shortened).size(), 1u);

  const PacketRecord refused[] = {Reg(7, 0, 1), Reg(255, 0xFF, 1), Reg(3, 2, 1), Reg(0, 0, 0)};
  for (const auto& rec : refused) {
    SCOPED_TRACE(int(rec.Bank) * 1000 + rec.Register);
    auto r = h.Ask(ptype::GetRegister, rec);
    ASSERT_TRUE(r);
    EXPECT_TRUE(IsAnnounce(*r, kE1));
  }
}

TEST(SimRegisters, WrittenValuesReadBack) {
  struct Case {
    std::uint8_t bank, reg;
    std::vector<std::uint8_t> data;
  };
  const Case cases[] = {
      {0, 0, {0}},
      {0, 28, Bytes("sixteen-char-tag")},
      {1, 17, {0x00, 0x80}},
      {1, 25, {1, 2, 3, 4}},
      {4, 7, {0x02, 0x00}},
      {5, 0, {1, 0, 1, 0, 1, 0}},
      {5, 17, {0xFF, 0x01}},
      {6, 0, std::vector<std::uint8_t>(35, 0x5A)},
  };
  Harness h;
  h.Enter();
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.bank) * 1000 + c.reg);
    const auto span = static_cast<std::uint8_t>(c.data.size());
    auto set = h.Ask(ptype::SetRegister, Reg(c.bank, c.reg, span, c.data));
    ASSERT_TRUE(set);
    EXPECT_EQ(set->type(), ptype::SetRegisterReply);
    auto get = h.Ask(ptype::GetRegister, Reg(c.bank, c.reg, span));
    ASSERT_TRUE(get);
    EXPECT_EQ(ReplyData(*get), c.data);
  }
}

TEST(SimRegisters, ReadOnlyBanksAreRefusedWithoutAReply) {
  Harness h;
  h.Enter();
  const PacketRecord writes[] = {Reg(16, 0, 4, {1, 2, 3, 4}), Reg(2, 12, 1, {0x11}), Reg(2, 0, 8, {1, 2, 3, 4, 5, 6, 7, 8}),
                                 Reg(5, 14, 1, {0x40}), Reg(5, 0, 7, {1, 1, 1, 1, 1, 1, 9})};
  for (const auto& w : writes) {
    SCOPED_TRACE(int(w.Bank) * 1000 + w.Register);
    auto before = h.module->Registers(kLocal, w.Bank, w.Register, w.Span);
    auto r = h.Ask(ptype::SetRegister, w);
    ASSERT_TRUE(r) << "exactly one frame: the announcement, no reply";
    EXPECT_TRUE(IsAnnounce(*r, kE4));
    EXPECT_EQ(h.module->Registers(kLocal, w.Bank, w.Register, w.Span), before);
  }
  // Beyond the end of a writable bank is an argument error.
  auto beyond = h.Ask(ptype::SetRegister, Reg(3, 1, 2, {0, 0}));
  ASSERT_TRUE(beyond);
  EXPECT_TRUE(IsAnnounce(*beyond, kE1));
}

// --- factory-protected registers --------------------------------------------

const std::vector<std::uint8_t> kNewMac{0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00};

TEST(SimFactory, MacAddressNeedsTheOverride) {
  Harness h;
  h.Enter();
  const auto mac = h.module->Registers(kLocal, 2, 0, 8);
  auto refused = h.Ask(ptype::SetRegister, Reg(2, 0, 8, kNewMac));
  ASSERT_TRUE(refused);
  EXPECT_TRUE(IsAnnounce(*refused, kE4));
  EXPECT_EQ(h.module->Registers(kLocal, 2, 0, 8), mac);

  ASSERT_EQ(h.Ask(ptype::SetRegister, Reg(255, 0x6A, 1, {0x6A}))->type(), ptype::SetRegisterReply);
  auto written = h.Ask(ptype::SetRegister, Reg(2, 0, 8, kNewMac));
  ASSERT_TRUE(written);
  EXPECT_EQ(written->type(), ptype::SetRegisterReply);
  // A retransmission of the same write (its reply was lost) still passes.
  EXPECT_EQ(h.Ask(ptype::SetRegister, Reg(2, 0, 8, kNewMac))->type(), ptype::SetRegisterReply);
  EXPECT_EQ(h.module->Registers(kLocal, 2, 0, 8), kNewMac);

  // Any other command ends the override.
  h.Ask(ptype::GetRegister, Reg(2, 0, 8));
  auto again = h.Ask(ptype::SetRegister, Reg(2, 0, 8, mac.value()));
  ASSERT_TRUE(again);
  EXPECT_TRUE(IsAnnounce(*again, kE4));
  // The override never opens the rest of bank 2.
  h.Ask(ptype::SetRegister, Reg(255, 0x6A, 1, {0x6A}));
  EXPECT_TRUE(IsAnnounce(*h.Ask(ptype::SetRegister, Reg(2, 6, 4, {1, 2, 3, 4})), kE4));
}

TEST(SimFactory, FccModeNeedsTheOverrideLocallyAndForRemotes) {
  Harness h;
  h.Enter();
  EXPECT_TRUE(IsAnnounce(*h.Ask(ptype::SetRegister, Reg(255, 6, 1, {2})), kE4));
  EXPECT_EQ(h.module->FccMode(kLocal), 0);

  h.Ask(ptype::SetRegister, Reg(255, 0x6A, 1, {0x6A}));
  EXPECT_TRUE(IsAnnounce(*h.Ask(ptype::SetRegister, Reg(255, 6, 1, {3})), kE1));
  h.Ask(ptype::SetRegister, Reg(255, 0x6A, 1, {0x6A}));
  EXPECT_EQ(h.Ask(ptype::SetRegister, Reg(255, 6, 1, {2}))->type(), ptype::SetRegisterReply);
  EXPECT_EQ(h.module->FccMode(kLocal), 2);

  // The override always goes to the local module, also for a remote's mode.
  EXPECT_TRUE(IsAnnounce(*h.Ask(ptype::SetRemoteRegister, Reg(255, 6, 1, {4}, 0x0002)), kE4));
  h.Ask(ptype::SetRegister, Reg(255, 0x6A, 1, {0x6A}));
  auto remote = h.Ask(ptype::SetRemoteRegister, Reg(255, 6, 1, {4}, 0x0002));
  ASSERT_TRUE(remote);
  EXPECT_EQ(remote->type(), ptype::SetRemoteRegisterReply);
  EXPECT_EQ(Payload(*remote)[0], txstatus::Acknowledged);
  EXPECT_EQ(h.module->FccMode(0x0002), 4);

  // A reset ends the FCC mode.
  h.out.Clear();
  h.Send(ptype::SoftwareReset);
  ASSERT_TRUE(h.out.WaitFrames(3));
  EXPECT_EQ(h.module->FccMode(kLocal), 0);
}

// --- defaults, save, reset ---------------------------------------------------

TEST(SimReset, ResetRepliesThenAnnouncesStartupAndPan) {
  ClockedHarness timed(SlowBoot());
  Harness& h = timed.h;
  h.Enter();
  const auto seq = h.Send(ptype::SoftwareReset);
  EXPECT_TRUE(h.module->Booting());
  // Deaf while booting.
  h.Send(ptype::EnterProtocolMode);
  timed.Pass(1s);
  auto f = h.out.Frames();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].type(), ptype::SoftwareResetReply);
  EXPECT_EQ(f[0].sequence(), seq);
  EXPECT_TRUE(IsAnnounce(f[1], 0xA0));
  EXPECT_TRUE(IsAnnounce(f[2], 0xA1));
  EXPECT_EQ(Payload(f[2]), (std::vector<std::uint8_t>{0xA1, 0x34, 0x12}));
  // It comes up in transparent mode (factory protocol-mode setting).
  EXPECT_FALSE(h.module->InProtocolMode());
}

TEST(SimReset, StartupAnnounceOffAndProtocolModeSettingAreObeyed) {
  ClockedHarness timed;
  Harness& h = timed.h;
  h.Enter();
  h.Ask(ptype::SetRegister, Reg(4, 4, 1, {0}));
  h.Ask(ptype::SetRegister, Reg(4, 0, 1, {2}));
  h.out.Clear();
  h.Send(ptype::SoftwareReset);
  timed.Pass(1s);  // the boot and the PAN, and no 0xA0 after them
  auto f = h.out.Frames();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_TRUE(IsAnnounce(f[1], 0xA1));
  EXPECT_TRUE(h.module->InProtocolMode());
  EXPECT_EQ(h.Ask(ptype::GetRegister, Reg(3, 0, 1))->type(), ptype::GetRegisterReply);
}

TEST(SimReset, RemoteDeviceModeAnnouncesJoinedPan) {
  Harness h;
  h.Enter();
  h.Ask(ptype::SetRegister, Reg(0, 0, 1, {0}));
  h.Ask(ptype::SetRegister, Reg(0, 1, 2, {0x78, 0x56}));
  h.out.Clear();
  h.Send(ptype::SoftwareReset);
  ASSERT_TRUE(h.out.WaitFrames(3));
  auto f = h.out.Frames();
  EXPECT_TRUE(IsAnnounce(f[2], 0xA3));
  EXPECT_EQ(Payload(f[2]), (std::vector<std::uint8_t>{0xA3, 0x78, 0x56, 0x00, 0x00}));
}

// Waits until the module has booted and then enters protocol mode.
void Reenter(Harness& h) {
  ASSERT_TRUE(h.out.WaitFrames(3));
  h.out.Clear();
  h.Enter();
  ASSERT_TRUE(h.module->InProtocolMode());
}

TEST(SimReset, DefaultsThenResetBringTheFactoryLineWithoutASave) {
  ClockedHarness timed(SlowBoot());
  Harness& h = timed.h;
  h.Enter();
  // Move to 115200 and save that.
  h.Ask(ptype::SetRegister, Reg(3, 0, 1, {11}));
  h.out.SetHost(LineOf(115200));
  ASSERT_EQ(h.Ask(ptype::SetRegister, Reg(255, 0xFF, 1, {1}))->type(), ptype::SetRegisterReply);
  h.Ask(ptype::SetRegister, Reg(0, 28, 3, Bytes("abc")));

  // Defaults: the working settings change, the line only at the reset.
  ASSERT_EQ(h.Ask(ptype::SetRegister, Reg(255, 0xFF, 1, {0}))->type(), ptype::SetRegisterReply);
  EXPECT_EQ(h.module->Line().settings.baudRate, 115200u);
  EXPECT_EQ(ReplyData(*h.Ask(ptype::GetRegister, Reg(3, 0, 1))), std::vector<std::uint8_t>{6});
  EXPECT_EQ(ReplyData(*h.Ask(ptype::GetRegister, Reg(0, 28, 4))), Bytes("QMX2"));
  EXPECT_EQ(h.module->Registers(kLocal, 3, 0, 1, true), std::vector<std::uint8_t>{11});

  h.out.Clear();
  h.Send(ptype::SoftwareReset);
  ASSERT_EQ(h.out.Frames().size(), 1u) << "the reset reply, still at 115200";
  // Inside the boot window: the announcements come at 9600.
  h.out.Clear();
  h.out.SetHost(LineOf(9600));
  timed.Pass(1s);
  ASSERT_GE(h.out.Frames().size(), 2u);
  h.out.Clear();
  h.Enter();
  EXPECT_TRUE(h.module->InProtocolMode());
  EXPECT_EQ(h.module->Line().settings, LineOf(9600));
}

TEST(SimReset, UnsavedChangesSurviveResetButNotPowerCycle) {
  Harness h;
  h.Enter();
  h.Ask(ptype::SetRegister, Reg(1, 19, 1, {7}));
  h.Ask(ptype::SetRegister, Reg(255, 0xFF, 1, {1}));
  h.Ask(ptype::SetRegister, Reg(1, 19, 1, {9}));
  h.out.Clear();

  h.Send(ptype::SoftwareReset);
  Reenter(h);
  EXPECT_EQ(ReplyData(*h.Ask(ptype::GetRegister, Reg(1, 19, 1))), std::vector<std::uint8_t>{9});

  h.out.Clear();
  h.module->PowerCycle();
  ASSERT_TRUE(h.out.WaitFrames(2));
  h.out.Clear();
  h.Enter();
  EXPECT_EQ(ReplyData(*h.Ask(ptype::GetRegister, Reg(1, 19, 1))), std::vector<std::uint8_t>{7});
}

TEST(SimReset, SavedMacSurvivesPowerCycleWhileLiveStatusIsFresh) {
  Harness h;
  h.Enter();
  h.Ask(ptype::SetRegister, Reg(255, 0x6A, 1, {0x6A}));
  h.Ask(ptype::SetRegister, Reg(2, 0, 8, kNewMac));
  h.Ask(ptype::SetRegister, Reg(255, 0xFF, 1, {1}));
  h.module->SetLocalLinked(false);
  h.module->PowerCycle();
  ASSERT_TRUE(h.out.WaitFrames(2));
  EXPECT_EQ(h.module->Registers(kLocal, 2, 0, 8), kNewMac);
  EXPECT_EQ(h.module->Registers(kLocal, 2, 13, 1), std::vector<std::uint8_t>{1});
}

TEST(SimReset, LocalRemoteResetRegisterAndBadActionsAreArgumentErrors) {
  Harness h;
  h.Enter();
  const PacketRecord bad[] = {Reg(255, 0, 1, {0}), Reg(255, 0xFF, 1, {2}), Reg(255, 0x6A, 1, {0}),
                              Reg(255, 0x10, 1, {0}), Reg(255, 0xFF, 2, {1, 1})};
  for (const auto& rec : bad) {
    SCOPED_TRACE(rec.Register);
    auto r = h.Ask(ptype::SetRegister, rec);
    ASSERT_TRUE(r);
    EXPECT_TRUE(IsAnnounce(*r, kE1));
  }
  EXPECT_FALSE(h.module->Booting());
}

// --- protocol errors ----------------------------------------------------------

TEST(SimProtocol, UnknownTypesAndMalformedCommandsAreAnnounced) {
  struct Case {
    const char* name;
    std::uint8_t type;
    std::vector<std::uint8_t> payload;
    std::uint8_t code;
  };
  const Case cases[] = {
      {"type 0x07", 0x07, {}, kE0},
      {"a reply type", ptype::GetRegisterReply, {0, 3, 1}, kE0},
      {"an async type", ptype::Announce, {0xA0}, kE0},
      {"short get", ptype::GetRegister, {0, 3}, kE1},
      {"long get", ptype::GetRegister, {0, 3, 1, 0}, kE1},
      {"set span too big", ptype::SetRegister, {0, 3, 2, 6}, kE1},
      {"set without span", ptype::SetRegister, {0, 3}, kE1},
      {"tx without address", ptype::TxData, {1}, kE1},
      {"remote get short", ptype::GetRemoteRegister, {1, 0, 0, 3}, kE1},
      {"remote set short", ptype::SetRemoteRegister, {1, 0, 0, 3, 2, 6}, kE1},
      {"exit with payload", ptype::ExitProtocolMode, {1}, kE1},
      {"reset with payload", ptype::SoftwareReset, {1}, kE1},
      {"wrong model", ptype::EnterProtocolMode, Bytes("QMX2401"), kE1},
  };
  Harness h;
  h.Enter();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    h.out.Clear();
    h.SendRaw(c.type, c.payload);
    auto r = h.Only();
    ASSERT_TRUE(r);
    EXPECT_TRUE(IsAnnounce(*r, c.code));
  }
  EXPECT_TRUE(h.module->InProtocolMode());
  EXPECT_FALSE(h.module->Booting());
}

TEST(SimProtocol, PartialFrameTimesOutAndTheNextCommandIsAnswered) {
  Harness h;
  h.Enter();
  const std::vector<std::uint8_t> partial{0xFB, 0x05, 0x01, 0x03};
  h.SendBytes(partial);
  ASSERT_TRUE(h.out.WaitFrames(1, 1000ms));
  EXPECT_TRUE(IsAnnounce(h.out.Frames()[0], kE3));
  auto r = h.Ask(ptype::GetRegister, Reg(3, 0, 1));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->type(), ptype::GetRegisterReply);
}

TEST(SimProtocol, FramesSplitAcrossWritesAndBackToBackAreAllAnswered) {
  Harness h;
  h.Enter();
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> seqs;
  for (std::uint8_t s = 40; s < 43; ++s) {
    auto f = BuildCommandFrame(ptype::GetRegister, Reg(0, 0, 1), s);
    stream.insert(stream.end(), f->data(), f->data() + f->size);
    seqs.push_back(s);
  }
  h.SendBytes(std::span(stream).first(5));
  h.SendBytes(std::span(stream).subspan(5));
  auto f = h.out.Frames();
  ASSERT_EQ(f.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(f[i].sequence(), seqs[i]);
  EXPECT_EQ(h.module->ReceivedFrames().size(), 4u);  // Enter included
}

}  // namespace
}  // namespace qmx::sim::test
