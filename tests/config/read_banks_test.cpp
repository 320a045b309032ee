// ReadBanks over the whole link (command layer, transport, parser thread)
// against a scripted port that answers register reads.
#include <gtest/gtest.h>
#include <poll.h>

#include <deque>
#include <map>
#include <mutex>

#include "config/register_map.h"
#include "link/event.h"
#include "link/radio_link.h"
#include "link/workdir.h"
#include "tests/fixtures/fake_prompter.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What the scripted radio knows: bank contents, and per bank an optional
// reply span and TX status.
struct Script {
  std::mutex mutex;
  std::map<std::uint8_t, Bytes> banks;
  std::map<std::uint8_t, std::uint8_t> replySpan;
  std::map<std::uint8_t, std::uint8_t> txStatus;
  std::uint8_t lqi = 0x5A;
  struct Sent {
    std::uint8_t type, reg, bank, span;
    std::uint16_t address;
  };
  std::vector<Sent> sent;
};

class ScriptedPort : public SerialPort {
 public:
  explicit ScriptedPort(Script& script) : script_(script) {}
  Done Open(const std::string&) override {
    open_ = true;
    return {};
  }
  bool IsOpen() const override { return open_; }
  Result<LineSettings> GetSettings() override { return settings_; }
  Done ApplySettings(const LineSettings& s) override {
    settings_ = s;
    return {};
  }
  Done SetDtr(bool) override { return {}; }
  Done SetRts(bool) override { return {}; }
  Result<unsigned> TakeLineErrors() override { return 0u; }
  void Close() override { open_ = false; }

  Done Write(std::span<const std::uint8_t> b, std::chrono::milliseconds) override {
    Bytes reply = Answer(Bytes(b.begin(), b.end()));
    std::lock_guard lock(mutex_);
    rx_.insert(rx_.end(), reply.begin(), reply.end());
    if (!rx_.empty()) readable_.set();
    return {};
  }
  WaitResult WaitReadable(const Event& stop) override {
    pollfd p[2] = {{readable_.fd(), POLLIN, 0}, {stop.fd(), POLLIN, 0}};
    while (::poll(p, 2, -1) < 0) {
    }
    return (p[1].revents & POLLIN) ? WaitResult::Stopped : WaitResult::Readable;
  }
  Result<std::size_t> Read(std::span<std::uint8_t> out) override {
    std::lock_guard lock(mutex_);
    std::size_t n = std::min(out.size(), rx_.size());
    for (std::size_t i = 0; i < n; ++i) {
      out[i] = rx_.front();
      rx_.pop_front();
    }
    if (rx_.empty()) readable_.reset();
    return n;
  }

 private:
  Bytes Answer(const Bytes& cmd) {
    if (cmd.size() < 4) return {};
    std::lock_guard lock(script_.mutex);
    const std::uint8_t seq = cmd[2], type = cmd[3];
    const bool remote = type == ptype::GetRemoteRegister;
    if (type != ptype::GetRegister && !remote) return {};
    const std::size_t at = remote ? 6 : 4;
    const std::uint16_t address = remote ? static_cast<std::uint16_t>(cmd[4] | (cmd[5] << 8)) : 0;
    const std::uint8_t reg = cmd[at], bank = cmd[at + 1], span = cmd[at + 2];
    script_.sent.push_back({type, reg, bank, span, address});

    const Bytes& content = script_.banks[bank];
    const std::uint8_t replySpan = script_.replySpan.count(bank) ? script_.replySpan[bank] : span;
    Bytes payload;
    if (remote) {
      const std::uint8_t status = script_.txStatus.count(bank) ? script_.txStatus[bank] : 0;
      payload = {status, cmd[4], cmd[5], script_.lqi};
    }
    payload.insert(payload.end(), {reg, bank, replySpan});
    for (std::size_t i = 0; i < replySpan; ++i) payload.push_back(i < content.size() ? content[i] : 0xCC);
    Bytes frame = {0xFB, static_cast<std::uint8_t>(payload.size() + 2), seq,
                   static_cast<std::uint8_t>(type + ptype::ReplyOffset)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
  }

  Script& script_;
  bool open_ = false;
  LineSettings settings_;
  std::mutex mutex_;
  std::deque<std::uint8_t> rx_;
  Event readable_;
};

struct NoViews : ViewSink {
  void EventText(const EventBlock&) override {}
  void ReceivedData(std::uint16_t, std::uint8_t, std::span<const std::uint8_t>) override {}
  void IoEvent(std::uint16_t, std::span<const std::uint8_t>) override {}
  void RemoteJoined(std::uint16_t) override {}
};

class ReadBanksTest : public ::testing::Test {
 protected:
  ReadBanksTest() {
    for (const auto& b : kBanks) {
      Bytes content(b.length);
      for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(b.bank * 16 + i + 1);
      script.banks[b.bank] = content;
    }
    link.transport.SetSettleTime(std::chrono::milliseconds(0));
    EXPECT_TRUE(link.transport.OpenCommPort(LineSettings{}, "scripted", true));
    link.parser.Start();
    // Recognisable old contents in every slot.
    for (int s = 0; s < kRadioCount; ++s) std::fill(image.Slot(s).begin(), image.Slot(s).end(), std::uint8_t{0xEE});
    hooks.replyStrength = [this](RadioIndex slot, std::uint8_t lqi) { strengths.emplace_back(slot, lqi); };
    hooks.successRate = [this](RadioIndex slot) { rates.push_back(slot); };
    hooks.tally = &tally;
  }
  Bytes Area(RadioIndex slot, std::uint8_t bank) {
    auto a = image.Bank(slot, *FindBank(bank));
    return Bytes(a.begin(), a.end());
  }

  Script script;
  test::TempDir tmp;
  WorkDir dir{tmp.path()};
  test::FakePrompter prompter;
  CondVarWaiter waiter;
  NoViews views;
  RadioLink link{[this](const std::string&) { return std::make_unique<ScriptedPort>(script); }, dir, prompter, waiter,
                 views};
  RadioImage image;
  ReadBanksHooks hooks;
  RemoteLinkStats tally;
  std::vector<std::pair<RadioIndex, std::uint8_t>> strengths;
  std::vector<RadioIndex> rates;
};

TEST_F(ReadBanksTest, LocalRadioEveryBankInOrder) {
  EXPECT_EQ(ReadBanks(link.commands, image, kAllBanks, 0x1234, 0, hooks), kAllBanks);
  ASSERT_EQ(script.sent.size(), kBanks.size());
  for (std::size_t i = 0; i < kBanks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(script.sent[i].type, ptype::GetRegister);
    EXPECT_EQ(script.sent[i].reg, 0);
    EXPECT_EQ(script.sent[i].bank, kBanks[i].bank);
    EXPECT_EQ(script.sent[i].span, kBanks[i].length);
    EXPECT_EQ(Area(0, kBanks[i].bank), script.banks[kBanks[i].bank]);
  }
  // The last 8 bytes of the image are never touched; other slots neither.
  EXPECT_EQ(image.Byte(0, 241), 0xEE);
  EXPECT_EQ(image.Byte(1, 0), 0xEE);
  EXPECT_TRUE(strengths.empty());
  EXPECT_TRUE(rates.empty());
}

TEST_F(ReadBanksTest, OnlyTheBanksOfTheMask) {
  EXPECT_EQ(ReadBanks(link.commands, image, 0x024, 0, 0), 0x024);
  ASSERT_EQ(script.sent.size(), 2u);
  EXPECT_EQ(script.sent[0].bank, 2);
  EXPECT_EQ(script.sent[1].bank, 5);
  EXPECT_EQ(Area(0, 2), script.banks[2]);
  EXPECT_EQ(Area(0, 0), Bytes(44, 0xEE));
}

TEST_F(ReadBanksTest, ReplySpanShorterOrLongerThanTheBank) {
  script.replySpan[0] = 10;  // only the first ten bytes are replaced
  script.replySpan[3] = 5;   // bank 3 is 2 bytes long: bank 4 must stay as it was
  EXPECT_EQ(ReadBanks(link.commands, image, 0x009, 0, 0), 0x009);
  Bytes expect0(44, 0xEE);
  std::copy_n(script.banks[0].begin(), 10, expect0.begin());
  EXPECT_EQ(Area(0, 0), expect0);
  EXPECT_EQ(Area(0, 3), script.banks[3]);
  EXPECT_EQ(Area(0, 4), Bytes(9, 0xEE));
}

TEST_F(ReadBanksTest, RemoteRadioFailedBankIsZeroFilled) {
  script.txStatus[1] = txstatus::NoAcknowledgement;
  script.lqi = 0x33;
  const BankMask got = ReadBanks(link.commands, image, 0x007, 0x8001, 2, hooks);
  EXPECT_EQ(got, 0x005);
  ASSERT_EQ(script.sent.size(), 3u);
  for (const auto& s : script.sent) {
    EXPECT_EQ(s.type, ptype::GetRemoteRegister);
    EXPECT_EQ(s.address, 0x8001);
  }
  EXPECT_EQ(Area(2, 0), script.banks[0]);
  EXPECT_EQ(Area(2, 1), Bytes(34, 0));
  EXPECT_EQ(Area(2, 2), script.banks[2]);
  // Strength for each bank read, success rate after every bank.
  EXPECT_EQ(strengths, (std::vector<std::pair<RadioIndex, std::uint8_t>>{{2, 0x33}, {2, 0x33}}));
  EXPECT_EQ(rates, (std::vector<RadioIndex>{2, 2, 2}));
  EXPECT_EQ(tally.attempts, 3u);
  EXPECT_EQ(tally.successes, 2u);
}

}  // namespace
}  // namespace qmx
