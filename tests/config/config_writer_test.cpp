// Configuration writes, reset, defaults, FCC modes and the MAC address
// against the simulated module through the in-process port: the frames on
// the wire, the boxes shown, the PC port's line and what the module holds.
#include <gtest/gtest.h>

#include <cstdio>

#include "config/config_report.h"
#include "config/config_writer.h"
#include "link/number_text.h"
#include "tests/fixtures/sim_link.h"

namespace qmx {
namespace {

using std::chrono::milliseconds;
using test::FakeTime;
using test::Shown;
using test::SimLink;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kRemote2 = 0x0002;

// Each command the module took: "enter", or the type and payload in hex
// (a Set Register as "04 reg bank span data").
std::vector<std::string> Wire(const sim::SimModule& module) {
  std::vector<std::string> out;
  for (const Frame& f : module.ReceivedFrames()) {
    if (f.type() == ptype::EnterProtocolMode) {
      out.emplace_back("enter");
      continue;
    }
    std::string text = Hex2(f.type());
    for (std::size_t i = 0; i < f.payloadSize(); ++i) text += " " + Hex2(f.payload()[i]);
    out.push_back(text);
  }
  return out;
}

ConfigWrite Change(const char* key, Bytes data) { return {FindSetting(key), std::move(data)}; }

Shown Box(const char* text, const char* caption) { return {text, caption, false}; }
Shown Ask(const char* text, const char* caption) { return {text, caption, true}; }

// The link's port, with a switch to make the line calls fail.
class TestLinePort : public LinePort {
 public:
  explicit TestLinePort(SerialTransport& t) : real_(t) {}
  bool GetLine(LineSettings& out) override { return !failGet && real_.GetLine(out); }
  bool SetLine(const LineSettings& line) override {
    ++sets;
    return !failSet && real_.SetLine(line);
  }
  bool failGet = false, failSet = false;
  int sets = 0;

 private:
  TransportLinePort real_;
};

LineSettings PcLine(SimLink& s) {
  LineSettings line;
  EXPECT_TRUE(s.link->transport.ReadLine(line));
  return line;
}

// A module that boots at once and answers over the air at once.
sim::SimOptions Quick() { return {.bootTime = milliseconds(0), .remoteLatency = milliseconds(0)}; }

class ConfigWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(s.Open());
    s.module->ClearReceivedFrames();
  }
  ApplyResult Apply(ConfigTarget target, std::vector<ConfigWrite> writes) {
    done.clear();
    return ApplyConfiguration(s.commands(), s.prompter, port, target, writes,
                              [this](const ConfigWrite& w) { done.push_back(w.setting->key); });
  }
  SimLink s{Quick()};
  TestLinePort port{s.link->transport};
  std::vector<std::string> done;
};

TEST_F(ConfigWriterTest, LocalApplyWritesInOrderSwitchesThePortSavesAndResets) {
  s.prompter.AnswerNext(true);  // reset: the channel list acts only at start
  const auto r = Apply({}, {Change("tx-power", {0x07}), Change("channel-list", {0x01, 0x80}),
                            Change("serial-baud-rate", {11}), Change("serial-stop-bits", {0x28})});
  EXPECT_EQ(r.outcome, ApplyOutcome::Saved);
  EXPECT_TRUE(r.reset);
  EXPECT_EQ(done, (std::vector<std::string>{"tx-power", "channel-list", "serial-baud-rate", "serial-stop-bits"}));
  EXPECT_EQ(Wire(*s.module), (std::vector<std::string>{"enter", "04 0A 00 01 07", "04 11 01 02 01 80", "04 00 03 01 0B",
                                                        "03 00 03 01", "04 01 03 01 28", "03 01 03 01",
                                                        "04 FF FF 01 01", "02", "enter"}));
  EXPECT_EQ(s.prompter.All(),
            (std::vector<Shown>{Box("Settings Saved.", "Save Successfully"),
                                Ask("Some settings require the radio to be reset.  Do you wish to reset the radio?",
                                    "Radio Reset")}));
  const LineSettings pc = PcLine(s);
  EXPECT_EQ(pc.baudRate, 115200u);
  EXPECT_EQ(pc.parity, parity::Even);
  EXPECT_EQ(pc.stopBits, stopbits::Two);
  EXPECT_EQ(pc.byteSize, 8);
  EXPECT_EQ(s.module->Registers(sim::kLocal, 1, 17, 2, true), (Bytes{0x01, 0x80}));
  EXPECT_TRUE(s.module->InProtocolMode());
}

// The rows the PC port's line follows switch it once each, to the line the
// radio took up from the write; a write of every other row, even of the bytes the radio holds,
// leaves the port alone.
TEST_F(ConfigWriterTest, OnlyTheLineSettingsSwitchThePcPort) {
  std::vector<ConfigWrite> others;
  for (const Setting& setting : Settings()) {
    if (setting.shownOnly) continue;
    if (setting.line == LineRole::None) {
      const RegisterAddress a = setting.address;
      others.push_back({&setting, *s.module->Registers(sim::kLocal, a.bank, a.reg, a.span)});
      continue;
    }
    SCOPED_TRACE(setting.key);
    const LineSettings before = s.module->Line().settings;
    port.sets = 0;
    const auto r = Apply({}, {ConfigWrite{&setting, {setting.items.back().code}}});
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(port.sets, 1);
    EXPECT_NE(s.module->Line().settings, before);
    EXPECT_EQ(PcLine(s), s.module->Line().settings);
  }
  port.sets = 0;
  EXPECT_EQ(Apply({}, others).failed, 0);
  EXPECT_EQ(port.sets, 0);
}

TEST_F(ConfigWriterTest, NothingToWriteAndSettingsThatActAtOnceAskNoQuestion) {
  EXPECT_EQ(Apply({}, {}).outcome, ApplyOutcome::NoChanges);
  EXPECT_EQ(Wire(*s.module), std::vector<std::string>{"enter"});
  EXPECT_EQ(s.prompter.All(), std::vector<Shown>{Box("No changes were detected.", "No changes")});

  s.prompter.Clear();
  s.module->ClearReceivedFrames();
  const auto r = Apply({}, {Change("user-tag", Bytes(16, 'x')), Change("pwm0-value", {0x34, 0x12})});
  EXPECT_EQ(r.outcome, ApplyOutcome::Saved);
  EXPECT_FALSE(r.resetAsked);
  EXPECT_EQ(s.prompter.All(), std::vector<Shown>{Box("Settings Saved.", "Save Successfully")});
  EXPECT_EQ(Wire(*s.module).back(), "04 FF FF 01 01");
}

TEST_F(ConfigWriterTest, RemoteSerialSettingsGoOverTheAirAndLeaveThePcPortAlone) {
  const LineSettings before = PcLine(s);
  const auto r = Apply({2, kRemote2}, {Change("serial-baud-rate", {8}), Change("device-mode", {0})});
  EXPECT_EQ(r.outcome, ApplyOutcome::Saved);
  EXPECT_EQ(done.size(), 2u);
  EXPECT_EQ(port.sets, 0);
  EXPECT_EQ(PcLine(s), before);
  // Set Remote Register: address (low first), register, bank, span, data.
  EXPECT_EQ(Wire(*s.module),
            (std::vector<std::string>{"enter", "0B 02 00 00 03 01 08", "0A 02 00 00 03 01", "0B 02 00 00 00 01 00",
                                      "0B 02 00 FF FF 01 01", "enter"}));
  // The device mode acts only at start: the question comes (answered No).
  EXPECT_TRUE(r.resetAsked);
  EXPECT_FALSE(r.reset);
}

TEST_F(ConfigWriterTest, FailedWritesShowTheirTextsAndAFailedSaveKeepsWhatWasWritten) {
  // An address nobody answers: every write fails at once with TX status 1.
  const auto none = Apply({1, 0x0BAD}, {Change("tx-power", {1}), Change("serial-parity", {0x20})});
  EXPECT_EQ(none.outcome, ApplyOutcome::NoChanges);
  EXPECT_EQ(none.failed, 2);
  EXPECT_TRUE(done.empty());
  EXPECT_EQ(s.prompter.All(), (std::vector<Shown>{Box("Could not set TX Power", "TX Power Failed"),
                                                  Box("Could not set Serial Params", "Serial Params Failed"),
                                                  Box("No changes were detected.", "No changes")}));

  // The remote leaves right after the first write took effect.
  s.prompter.Clear();
  const auto r = ApplyConfiguration(s.commands(), s.prompter, port, {1, kRemote2},
                                    std::vector<ConfigWrite>{Change("tx-power", {0x05}), Change("sleep-mode", {1})},
                                    [&](const ConfigWrite&) { s.module->SetRemoteLinked(kRemote2, false); });
  EXPECT_EQ(r.outcome, ApplyOutcome::SaveFailed);
  EXPECT_EQ(r.written, 1);
  EXPECT_EQ(s.prompter.All(),
            (std::vector<Shown>{Box("Could not set Sleep Mode", "Sleep Mode Failed"),
                                Box("Could not save data to memory.  Please try again.", "Memory Save Error")}));
  EXPECT_EQ(s.module->Registers(kRemote2, 0, 10, 1), Bytes{0x05});
}

TEST_F(ConfigWriterTest, SerialReadBackDecidesEvenWhenThePortCannotBeSwitched) {
  // Code 10 has no baud rate: the module refuses it (no reply, one attempt),
  // the PC port cannot be set, and the read-back finds code 6.
  port.failSet = true;
  const auto r = Apply({}, {Change("serial-baud-rate", {10})});
  EXPECT_EQ(r.outcome, ApplyOutcome::NoChanges);
  EXPECT_EQ(s.prompter.All(), (std::vector<Shown>{Box("DCB Comm Error", "DCB Error2"),
                                                  Box("Baudrate Set Failed", "Baudrate Problem"),
                                                  Box("No changes were detected.", "No changes")}));
  EXPECT_EQ(Wire(*s.module), (std::vector<std::string>{"enter", "04 00 03 01 0A", "03 00 03 01"}));
}

TEST_F(ConfigWriterTest, DefaultsBringThePcPortBackTo9600OnlyWhenTheRadioIsReset) {
  ASSERT_EQ(Apply({}, {Change("serial-baud-rate", {11})}).outcome, ApplyOutcome::Saved);
  s.prompter.Clear();
  s.module->ClearReceivedFrames();

  EXPECT_EQ(DefaultRadio(s.commands(), s.prompter, port, {}), DefaultsOutcome::NotReset);
  EXPECT_EQ(PcLine(s).baudRate, 115200u);
  EXPECT_EQ(Wire(*s.module), std::vector<std::string>{"04 FF FF 01 00"});

  s.prompter.Clear();
  s.module->ClearReceivedFrames();
  s.prompter.AnswerNext(true);
  EXPECT_EQ(DefaultRadio(s.commands(), s.prompter, port, {}), DefaultsOutcome::Done);
  EXPECT_EQ(s.prompter.All(),
            std::vector<Shown>{Ask("Do you want to reset the radio to have the changes take effect.", "Reset Radio")});
  EXPECT_EQ(Wire(*s.module), (std::vector<std::string>{"04 FF FF 01 00", "02", "enter"}));
  EXPECT_EQ(PcLine(s), test::FactoryLine());
  EXPECT_EQ(s.module->Line().settings.baudRate, 9600u);

  // A remote's defaults never touch the local line.
  s.prompter.AnswerNext(true);
  EXPECT_EQ(DefaultRadio(s.commands(), s.prompter, port, {3, 0x0003}), DefaultsOutcome::Done);
  EXPECT_EQ(port.sets, 2);  // the baud switch and the local defaults only
}

TEST_F(ConfigWriterTest, FccModesAndTheMacAddressGoBehindTheFactoryOverride) {
  EXPECT_TRUE(SetFccModeShown(s.commands(), s.prompter, {}, 4));
  EXPECT_TRUE(SetFccMode(s.commands(), {2, kRemote2}, 2));
  EXPECT_EQ(s.module->FccMode(sim::kLocal), 4);
  EXPECT_EQ(s.module->FccMode(kRemote2), 2);
  EXPECT_EQ(Wire(*s.module), (std::vector<std::string>{"enter", "04 6A FF 01 6A", "04 06 FF 01 04", "enter",
                                                        "04 6A FF 01 6A", "0B 02 00 06 FF 01 02"}));

  s.module->ClearReceivedFrames();
  EXPECT_TRUE(WriteMacAddressShown(s.commands(), s.prompter, "00-11-22-33-44-55-66-7a"));
  EXPECT_EQ(Wire(*s.module), (std::vector<std::string>{"enter", "04 6A FF 01 6A",
                                                        "04 00 02 08 7A 66 55 44 33 22 11 00", "04 FF FF 01 01"}));
  EXPECT_EQ(s.module->Registers(sim::kLocal, 2, 0, 8, true), (Bytes{0x7A, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00}));
  EXPECT_EQ(s.prompter.All(), std::vector<Shown>{Box("MAC Address changed successfully.", "MAC Address Changed")});
}

TEST(WritesFor, OnlyWhatDiffersInTableOrderWithParityAndStopBitsAsOneByte) {
  std::array<std::uint8_t, kImageSize> slot{};
  slot[ImageOffset(3, 1)] = 0x20;  // Even, one stop bit
  slot[ImageOffset(0, 10)] = 0x12;
  auto writes = [&](std::vector<SettingText> wanted) {
    std::string error;
    std::vector<std::string> out;
    const auto w = WritesFor(slot, wanted, error);
    if (!w) return std::vector<std::string>{error};
    for (const ConfigWrite& c : *w) {
      out.push_back(c.setting->key);
      for (std::uint8_t b : c.data) out.back() += " " + Hex2(b);
    }
    return out;
  };
  const auto* stop = FindSetting("serial-stop-bits");
  const auto* par = FindSetting("serial-parity");
  const auto* tx = FindSetting("tx-power");
  const auto* key = FindSetting("security-key");
  EXPECT_EQ(writes({{stop, "2"}, {tx, "0x12"}}), std::vector<std::string>{"serial-stop-bits 28"});
  EXPECT_EQ(writes({{stop, "2"}, {par, "odd"}, {tx, "7"}}),
            (std::vector<std::string>{"tx-power 07", "serial-parity 38"}));
  EXPECT_EQ(writes({{par, "even"}, {stop, "1"}}), std::vector<std::string>{});
  EXPECT_EQ(writes({{key, ""}}).size(), 1u) << "the key is never read back: written whenever named";
  EXPECT_EQ(writes({{tx, "0x100"}}), std::vector<std::string>{"tx-power: expected a number from 0 to 0xFF"});
  EXPECT_EQ(writes({{FindSetting("startup-announce"), "on"}}),
            std::vector<std::string>{"startup-announce: shown only, never written"});
}

TEST(MacText, TwentyThreeCharactersOfHexPairsWithAnySeparators) {
  using Mac = std::array<std::uint8_t, 8>;
  const Mac expected{0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00};
  EXPECT_EQ(ParseMacText("00:11:22:33:44:55:66:77"), expected);
  EXPECT_EQ(ParseMacText("00 11.22-33_44:55x66/77"), expected);
  EXPECT_EQ(ParseMacText("AB:cd:EF:00:00:00:00:01"), (Mac{0x01, 0, 0, 0, 0, 0xEF, 0xCD, 0xAB}));
  for (const char* bad : {"00:11:22:33:44:55:66:7", "00:11:22:33:44:55:66:777", "0G:11:22:33:44:55:66:77",
                          "00:11:22:33:44:55:66: 7", ""})
    EXPECT_FALSE(ParseMacText(bad)) << bad;
}

// On the fake clock, a module that answers nothing: each time-out ends at once.
TEST(ConfigWriterSilent, EveryActionStopsAtItsFirstFailureWithItsOwnBox) {
  SimLink s{FakeTime{}};
  ASSERT_TRUE(s.Open());
  s.module->SetFault(sim::Fault::NeverReply);
  s.clock.ExpireWaits();
  s.link->options.logData = true;
  TestLinePort port{s.link->transport};
  const auto mac = s.module->Registers(sim::kLocal, 2, 0, 8);

  const Done invalid = WriteMacAddress(s.commands(), "00:11:22:33:44:55:66:7");
  EXPECT_EQ(invalid.operation(), Operation::CheckInput);
  EXPECT_EQ(invalid.status(), Status::BadInput);
  EXPECT_FALSE(WriteMacAddressShown(s.commands(), s.prompter, "00:11:22:33:44:55:66:7"));
  EXPECT_EQ(s.LogText(), "");  // nothing sent
  EXPECT_EQ(ApplyConfiguration(s.commands(), s.prompter, port, {}, std::vector<ConfigWrite>{Change("tx-power", {1})}, {})
                .outcome,
            ApplyOutcome::NotEntered);
  const Done fcc = SetFccMode(s.commands(), {}, 1);
  EXPECT_EQ(fcc.operation(), Operation::EnterProtocolMode);
  EXPECT_EQ(fcc.status(), Status::NoReply);
  EXPECT_FALSE(SetFccModeShown(s.commands(), s.prompter, {}, 1));
  EXPECT_FALSE(WriteMacAddressShown(s.commands(), s.prompter, "00:11:22:33:44:55:66:77"));
  const DefaultsResult defaults = LoadDefaults(s.commands(), port, {}, [] { return true; });
  EXPECT_EQ(defaults.outcome, DefaultsOutcome::Failed);
  EXPECT_EQ(defaults.result.operation(), Operation::FactoryDefaults);
  EXPECT_EQ(DefaultRadio(s.commands(), s.prompter, port, {}), DefaultsOutcome::Failed);
  EXPECT_EQ(s.prompter.All(), (std::vector<Shown>{Box("MAC Address invalid.  Please try again.", "MAC Address Error"),
                                                  Box("Could not talk to radio.", "Could not enter config mode."),
                                                  Box("Could not enter protocol mode.", "EnterProtocolMode Error"),
                                                  Box("Could not enter protocol mode.", "EnterProtocolMode Error"),
                                                  Box("Could not default radio.  Please try again.",
                                                      "DefaultRadio Error")}));
  EXPECT_EQ(s.module->Registers(sim::kLocal, 2, 0, 8), mac);
  EXPECT_EQ(port.sets, 0);
}

}  // namespace
}  // namespace qmx
