// The simulated radio network: TX Data, remote registers, remote actions and
// the asynchronous frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "tests/fixtures/fake_clock.h"
#include "tests/sim/sim_harness.h"

namespace qmx::sim::test {
namespace {

std::uint16_t AddressOf(const std::vector<std::uint8_t>& p, std::size_t at) {
  return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
}

TEST(SimTxData, StatusByDestination) {
  struct Case {
    const char* name;
    std::function<void(SimModule&)> setup;
    std::uint16_t to;
    std::uint8_t status;
    bool lqi;
  };
  const Case cases[] = {
      {"linked remote", [](SimModule&) {}, 0x0002, txstatus::Acknowledged, true},
      {"unknown address", [](SimModule&) {}, 0x0042, txstatus::NoAcknowledgement, false},
      {"broadcast", [](SimModule&) {}, 0xFFFF, txstatus::Acknowledged, false},
      {"local radio not linked", [](SimModule& m) { m.SetLocalLinked(false); }, 0x0002, txstatus::NotLinked, false},
      {"not linked, even broadcast", [](SimModule& m) { m.SetLocalLinked(false); }, 0xFFFF, txstatus::NotLinked, false},
      {"remote left", [](SimModule& m) { m.SetRemoteLinked(0x0003, false); }, 0x0003, txstatus::NotLinked, false},
      {"remote always lost", [](SimModule& m) { m.SetRemoteLoss(0x0001, 100); }, 0x0001, txstatus::NoAcknowledgement, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    h.Enter();
    c.setup(*h.module);
    const auto seq = h.Send(ptype::TxData, Tx(c.to, {'h', 'i'}));
    auto r = h.Only();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->type(), ptype::TxDataReply);
    EXPECT_EQ(r->sequence(), seq);
    auto p = Payload(*r);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], c.status);
    EXPECT_EQ(p[1] != 0, c.lqi);
  }
}

TEST(SimTxData, RemotesEchoDataWhenAsked) {
  ClockedHarness timed;
  Harness& h = timed.h;
  h.Enter();
  h.Send(ptype::TxData, Tx(0x0002, {1, 2, 3}));
  timed.Pass(1s);
  EXPECT_EQ(h.out.Frames().size(), 1u) << "no echo by default";

  h.module->SetRemoteDataEcho(true);
  h.out.Clear();
  h.Send(ptype::TxData, Tx(0x0002, {1, 2, 3}));
  timed.Pass(1s);
  auto f = h.out.Frames();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].type(), ptype::TxDataReply);
  EXPECT_EQ(f[1].type(), ptype::RxData);
  auto p = Payload(f[1]);
  EXPECT_EQ(AddressOf(p, 0), 0x0002);
  EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 3, p.end()), (std::vector<std::uint8_t>{1, 2, 3}));

  // An unacknowledged transmission is not echoed.
  h.out.Clear();
  h.Send(ptype::TxData, Tx(0x0009, {1}));
  timed.Pass(1s);
  EXPECT_EQ(h.out.Frames().size(), 1u);
}

TEST(SimTxData, OverTheAirRepliesTakeTheirTime) {
  auto o = FastOptions();
  o.remoteLatency = 200ms;
  ClockedHarness timed(o);
  Harness& h = timed.h;
  h.Enter();
  h.Send(ptype::TxData, Tx(0x0001, {1}));
  EXPECT_TRUE(h.out.Frames().empty());
  timed.Pass(199ms);
  EXPECT_TRUE(h.out.Frames().empty());
  timed.Pass(1ms);
  EXPECT_EQ(h.out.Frames().size(), 1u);
  // Not linked is known locally and answered at once.
  h.module->SetLocalLinked(false);
  h.out.Clear();
  h.Send(ptype::TxData, Tx(0x0001, {1}));
  EXPECT_EQ(h.out.Frames().size(), 1u);
}

TEST(SimRemote, GetRemoteRegisterStatuses) {
  struct Case {
    const char* name;
    std::uint16_t address;
    std::function<void(SimModule&)> setup;
    std::uint8_t status;
  };
  const Case cases[] = {
      {"linked", 0x0001, [](SimModule&) {}, txstatus::Acknowledged},
      {"unknown", 0x0077, [](SimModule&) {}, txstatus::NoAcknowledgement},
      {"left", 0x0002, [](SimModule& m) { m.SetRemoteLinked(0x0002, false); }, txstatus::NotLinked},
      {"local not linked", 0x0001, [](SimModule& m) { m.SetLocalLinked(false); }, txstatus::NotLinked},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    h.Enter();
    c.setup(*h.module);
    const auto seq = h.Send(ptype::GetRemoteRegister, Reg(2, 0, 21, {}, c.address));
    auto r = h.Only();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->type(), ptype::GetRemoteRegisterReply);
    EXPECT_EQ(r->sequence(), seq);
    auto p = Payload(*r);
    ASSERT_GE(p.size(), 7u);
    EXPECT_EQ(p[0], c.status);
    EXPECT_EQ(AddressOf(p, 1), c.address);
    EXPECT_EQ(p[4], 0);   // Register
    EXPECT_EQ(p[5], 2);   // Bank
    const std::size_t span = c.status == txstatus::Acknowledged ? 21 : 0;
    EXPECT_EQ(p[6], span);
    EXPECT_EQ(p.size(), 7 + span);
    EXPECT_EQ(p[3] != 0, c.status == txstatus::Acknowledged);  // LQI
  }
}

TEST(SimRemote, EachRemoteHasItsOwnIdentity) {
  Harness h;
  h.Enter();
  std::vector<std::vector<std::uint8_t>> macs{*h.module->Registers(kLocal, 2, 0, 8)};
  for (std::uint16_t a : h.module->Remotes()) {
    auto r = h.Ask(ptype::GetRemoteRegister, Reg(2, 0, 10, {}, a));
    ASSERT_TRUE(r);
    auto p = Payload(*r);
    macs.emplace_back(p.begin() + 7, p.begin() + 15);
    EXPECT_EQ(AddressOf(p, 15), a);
    auto mode = Payload(*h.Ask(ptype::GetRemoteRegister, Reg(0, 0, 1, {}, a)));
    EXPECT_EQ(mode[7], 0) << "a remote";
  }
  ASSERT_EQ(macs.size(), 4u);
  std::sort(macs.begin(), macs.end());
  EXPECT_EQ(std::unique(macs.begin(), macs.end()), macs.end());
}

TEST(SimRemote, SetRemoteRegisterWritesOnlyThatRemote) {
  Harness h;
  h.Enter();
  auto set = h.Ask(ptype::SetRemoteRegister, Reg(5, 17, 2, {0x34, 0x12}, 0x0003));
  ASSERT_TRUE(set);
  EXPECT_EQ(set->type(), ptype::SetRemoteRegisterReply);
  auto p = Payload(*set);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0], txstatus::Acknowledged);
  EXPECT_EQ(AddressOf(p, 1), 0x0003);
  EXPECT_NE(p[3], 0);

  auto get = Payload(*h.Ask(ptype::GetRemoteRegister, Reg(5, 17, 2, {}, 0x0003)));
  EXPECT_EQ(std::vector<std::uint8_t>(get.begin() + 7, get.end()), (std::vector<std::uint8_t>{0x34, 0x12}));
  EXPECT_EQ(h.module->Registers(0x0002, 5, 17, 2), (std::vector<std::uint8_t>{0, 0}));
  EXPECT_EQ(h.module->Registers(kLocal, 5, 17, 2), (std::vector<std::uint8_t>{0, 0}));

  // A remote's serial line is its own business.
  h.Ask(ptype::SetRemoteRegister, Reg(3, 0, 1, {11}, 0x0003));
  EXPECT_EQ(h.module->Line().settings.baudRate, 9600u);

  // Failed deliveries write nothing.
  auto unknown = Payload(*h.Ask(ptype::SetRemoteRegister, Reg(5, 17, 2, {1, 1}, 0x0055)));
  EXPECT_EQ(unknown[0], txstatus::NoAcknowledgement);
  h.module->SetRemoteLinked(0x0003, false);
  auto left = Payload(*h.Ask(ptype::SetRemoteRegister, Reg(5, 17, 2, {1, 1}, 0x0003)));
  EXPECT_EQ(left[0], txstatus::NotLinked);
  EXPECT_EQ(h.module->Registers(0x0003, 5, 17, 2), (std::vector<std::uint8_t>{0x34, 0x12}));

  // Read-only banks are refused for remotes too.
  auto ro = h.Ask(ptype::SetRemoteRegister, Reg(16, 0, 1, {1}, 0x0001));
  ASSERT_TRUE(ro);
  EXPECT_TRUE(IsAnnounce(*ro, 0xE4));
}

TEST(SimRemote, DefaultsAndSaveApplyToTheAddressedRemote) {
  Harness h;
  h.Enter();
  h.Ask(ptype::SetRemoteRegister, Reg(1, 19, 1, {9}, 0x0001));
  h.Ask(ptype::SetRemoteRegister, Reg(1, 19, 1, {9}, 0x0002));
  ASSERT_EQ(Payload(*h.Ask(ptype::SetRemoteRegister, Reg(255, 0xFF, 1, {1}, 0x0001)))[0], txstatus::Acknowledged);
  EXPECT_EQ(h.module->Registers(0x0001, 1, 19, 1, true), std::vector<std::uint8_t>{9});
  EXPECT_EQ(h.module->Registers(0x0002, 1, 19, 1, true), std::vector<std::uint8_t>{3});

  ASSERT_EQ(Payload(*h.Ask(ptype::SetRemoteRegister, Reg(255, 0xFF, 1, {0}, 0x0002)))[0], txstatus::Acknowledged);
  EXPECT_EQ(h.module->Registers(0x0002, 1, 19, 1), std::vector<std::uint8_t>{3});
  EXPECT_EQ(h.module->Registers(0x0001, 1, 19, 1), std::vector<std::uint8_t>{9});
}

TEST(SimRemote, RemoteResetRebootsAndRejoins) {
  ClockedHarness timed(SlowBoot());
  Harness& h = timed.h;
  h.Enter();
  h.Ask(ptype::SetRemoteRegister, Reg(6, 1, 1, {0x03}, 0x0002));  // GPIO init: pins 0 and 1 high
  h.Ask(ptype::SetRemoteRegister, Reg(5, 0, 2, {0, 0}, 0x0002));
  auto reset = h.Ask(ptype::SetRemoteRegister, Reg(255, 0, 1, {0}, 0x0002));
  ASSERT_TRUE(reset);
  EXPECT_EQ(Payload(*reset)[0], txstatus::Acknowledged);

  // Rebooting: no acknowledgement.
  auto during = Payload(*h.Ask(ptype::GetRemoteRegister, Reg(5, 0, 2, {}, 0x0002)));
  EXPECT_EQ(during[0], txstatus::NoAcknowledgement);

  timed.Pass(1s);
  ASSERT_GE(h.out.Frames().size(), 2u);
  auto joined = h.out.Frames()[1];
  ASSERT_TRUE(IsAnnounce(joined, 0xA2));
  auto p = Payload(joined);
  ASSERT_EQ(p.size(), 11u);
  EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 1, p.begin() + 9), *h.module->Registers(0x0002, 2, 0, 8));
  EXPECT_EQ(AddressOf(p, 9), 0x0002);

  auto after = Payload(*h.Ask(ptype::GetRemoteRegister, Reg(5, 0, 2, {}, 0x0002)));
  EXPECT_EQ(after[0], txstatus::Acknowledged);
  EXPECT_EQ(std::vector<std::uint8_t>(after.begin() + 7, after.end()), (std::vector<std::uint8_t>{1, 1}));
}

TEST(SimRemote, AdcReadingsDriftALittle) {
  Harness h;
  h.Enter();
  std::set<std::uint16_t> seen;
  const auto first = *h.module->Registers(0x0001, 5, 6, 2);
  const int start = first[0] | (first[1] << 8);
  for (int i = 0; i < 20; ++i) {
    auto p = Payload(*h.Ask(ptype::GetRemoteRegister, Reg(5, 6, 2, {}, 0x0001)));
    const int v = AddressOf(p, 7);
    EXPECT_LE(std::abs(v - start), 3 * (i + 1));
    seen.insert(static_cast<std::uint16_t>(v));
  }
  EXPECT_GT(seen.size(), 1u);
}

TEST(SimNetwork, AsynchronousFramesOnDemand) {
  Harness h;
  h.Enter();
  h.module->SendRxEvent(0x0002);
  h.module->SendRxData(0x0001, std::vector<std::uint8_t>{'o', 'k'});
  const std::vector<std::uint8_t> conflict{0x00, 0x00, 0x21, 0x43, 0x14};
  h.module->SendAnnounce(0xA7, conflict);
  h.module->SendAnnounce(0xE9);
  h.module->SendRxEvent(0x0003, std::vector<std::uint8_t>{});
  h.module->SendRxEvent(0x0099);  // unknown remote: nothing

  auto f = h.out.Frames();
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0].type(), ptype::RxEvent);
  auto ev = Payload(f[0]);
  ASSERT_EQ(ev.size(), 3u + 21u);
  EXPECT_EQ(AddressOf(ev, 0), 0x0002);
  EXPECT_NE(ev[2], 0);
  EXPECT_EQ(std::vector<std::uint8_t>(ev.begin() + 3, ev.begin() + 6), *h.module->Registers(0x0002, 5, 0, 3));

  EXPECT_EQ(f[1].type(), ptype::RxData);
  EXPECT_EQ(Payload(f[1]).size(), 5u);
  EXPECT_EQ(Payload(f[2]), (std::vector<std::uint8_t>{0xA7, 0x00, 0x00, 0x21, 0x43, 0x14}));
  EXPECT_TRUE(IsAnnounce(f[3], 0xE9));
  EXPECT_EQ(Payload(f[4]).size(), 3u);
}

TEST(SimNetwork, ReceivedDataInTransparentModeIsRaw) {
  Harness h;
  h.module->SendRxData(0x0001, std::vector<std::uint8_t>{'r', 'a', 'w'});
  EXPECT_EQ(h.out.Raw(), (std::vector<std::uint8_t>{'r', 'a', 'w'}));
}

TEST(SimNetwork, RemotesJoinAndLeave) {
  Harness h;
  h.Enter();
  h.module->JoinRemote(0x0010);
  auto joined = h.Only();
  ASSERT_TRUE(joined);
  EXPECT_TRUE(IsAnnounce(*joined, 0xA2));
  EXPECT_EQ(AddressOf(Payload(*joined), 9), 0x0010);
  EXPECT_EQ(Payload(*h.Ask(ptype::GetRemoteRegister, Reg(2, 8, 2, {}, 0x0010)))[0], txstatus::Acknowledged);

  h.out.Clear();
  h.module->LeaveRemote(0x0010);
  auto left = h.Only();
  ASSERT_TRUE(left);
  EXPECT_EQ(Payload(*left), (std::vector<std::uint8_t>{0xA5, 0x10, 0x00}));
  EXPECT_EQ(Payload(*h.Ask(ptype::TxData, Tx(0x0010, {1})))[0], txstatus::NotLinked);
}

TEST(SimNetwork, AnInputChangeIsReportedWithBankFive) {
  Harness h;
  h.Enter();
  ASSERT_TRUE(h.module->SetRemoteInput(0x0002, 0, true));
  auto f = h.Only();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->type(), ptype::RxEvent);
  auto p = Payload(*f);
  EXPECT_EQ(AddressOf(p, 0), 0x0002);
  EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 3, p.end()), *h.module->Registers(0x0002, 5, 0, 21));
  EXPECT_EQ(p[3], 1);

  h.out.Clear();
  EXPECT_TRUE(h.module->SetRemoteInput(0x0002, 0, true));
  const std::uint8_t gpio1Output[] = {0x02};
  h.module->PokeRegisters(0x0002, 6, 0, gpio1Output);
  EXPECT_FALSE(h.module->SetRemoteInput(0x0002, 1, true)) << "an output is not an input";
  EXPECT_FALSE(h.module->SetRemoteInput(0x0042, 0, true));
  EXPECT_TRUE(h.out.Frames().empty()) << "no change, no event";
}

// A module whose network is live, on a fake clock.
class LiveNetworkTest : public ::testing::Test {
 protected:
  SimOptions Live(std::uint32_t seed, std::chrono::milliseconds interval) {
    SimOptions o = FastOptions();
    o.seed = seed;
    o.network.live = true;
    o.network.interval = interval;
    o.time = &clock;
    return o;
  }
  // Moves the clock by `span` in `step`s, each run to the end.
  static void Run(Harness& h, qmx::test::FakeClock& clock, std::chrono::milliseconds span,
                  std::chrono::milliseconds step = 50ms, const std::function<void()>& afterStep = {}) {
    for (auto t = 0ms; t < span; t += step) {
      clock.Advance(step);
      h.module->WaitUntilIdle();
      if (afterStep) afterStep();
    }
  }
  static std::vector<std::uint8_t> Text(const char* s) { return {s, s + std::strlen(s)}; }

  qmx::test::FakeClock clock;
};

TEST_F(LiveNetworkTest, StartUpAnnouncesThePanThenTheRemotesJoinInTurn) {
  Harness h(Live(1, 3600s));
  h.Enter();
  EXPECT_EQ(Payload(*h.Ask(ptype::GetRemoteRegister, Reg(2, 8, 2, {}, 0x0001)))[0], txstatus::NotLinked)
      << "not joined yet";
  h.out.Clear();
  auto codes = [&h] {
    std::vector<std::vector<std::uint8_t>> out;
    for (const Frame& f : h.out.Frames()) out.push_back(Payload(f));
    return out;
  };
  auto joined = [&h](std::uint16_t a) {
    std::vector<std::uint8_t> p{0xA2};
    auto mac = *h.module->Registers(a, 2, 0, 8);
    p.insert(p.end(), mac.begin(), mac.end());
    p.push_back(static_cast<std::uint8_t>(a));
    p.push_back(0);
    return p;
  };
  using Payloads = std::vector<std::vector<std::uint8_t>>;
  Run(h, clock, 30ms, 10ms);  // the boot time
  EXPECT_EQ(codes(), (Payloads{{0xA0}}));
  Run(h, clock, 10ms, 10ms);  // the PAN forms
  EXPECT_EQ(codes(), (Payloads{{0xA0}, {0xA1, 0x34, 0x12}}));
  Run(h, clock, 1000ms);
  EXPECT_EQ(codes(), (Payloads{{0xA0}, {0xA1, 0x34, 0x12}, joined(1)}));
  Run(h, clock, 2000ms);
  EXPECT_EQ(codes(), (Payloads{{0xA0}, {0xA1, 0x34, 0x12}, joined(1), joined(2), joined(3)}));
  EXPECT_EQ(Payload(*h.Ask(ptype::GetRemoteRegister, Reg(2, 8, 2, {}, 0x0001)))[0], txstatus::Acknowledged);

  // A reset of the base starts the network again.
  h.out.Clear();
  h.Send(ptype::SoftwareReset);
  Run(h, clock, 3100ms);
  EXPECT_EQ(codes().size(), 6u);
  EXPECT_EQ(codes().back(), joined(3));
}

TEST_F(LiveNetworkTest, RemotesReportDataAndInputChangesTheSameWayForTheSameSeed) {
  auto run = [this](std::vector<Frame>& frames) {
    Harness h(Live(7, 2000ms));
    h.Enter();
    h.module->SetRemoteLoss(0x0003, 100);
    Run(h, clock, 1500ms);  // remote 1 joins
    const std::uint8_t led0Output[] = {0x04};
    h.module->PokeRegisters(0x0001, 6, 0, led0Output);
    EXPECT_EQ(Payload(*h.Ask(ptype::SetRemoteRegister, Reg(5, 2, 1, {0}, 0x0001)))[0], txstatus::Acknowledged);
    h.Ask(ptype::SetRemoteRegister, Reg(5, 17, 2, {0x00, 0x80}, 0x0001));
    h.out.Clear();
    std::map<std::uint16_t, std::vector<std::uint8_t>> before;
    for (std::uint16_t a : h.module->Remotes()) before[a] = *h.module->Registers(a, 5, 0, 21);
    std::size_t seen = 0;
    int events = 0;
    Run(h, clock, 120s, 50ms, [&] {
      auto f = h.out.Frames();
      for (; seen < f.size(); ++seen) {
        if (f[seen].type() != ptype::RxEvent) continue;
        ++events;
        auto p = Payload(f[seen]);
        const auto from = AddressOf(p, 0);
        const std::vector<std::uint8_t> data(p.begin() + 3, p.end());
        EXPECT_EQ(data, *h.module->Registers(from, 5, 0, 21));
        int changed = 0;
        for (std::size_t pin = 0; pin < 6; ++pin) changed += data[pin] != before[from][pin];
        EXPECT_EQ(changed, 1) << "one input changed";
      }
      for (std::uint16_t a : h.module->Remotes()) before[a] = *h.module->Registers(a, 5, 0, 21);
    });
    EXPECT_GT(events, 0);
    EXPECT_EQ(h.module->Registers(0x0001, 5, 2, 1), std::vector<std::uint8_t>{0}) << "outputs keep their level";
    EXPECT_EQ(h.module->Registers(0x0001, 5, 17, 2), (std::vector<std::uint8_t>{0x00, 0x80}));
    frames = h.out.Frames();
  };
  std::vector<Frame> first, second;
  run(first);
  run(second);
  ASSERT_EQ(first.size(), second.size());
  for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(Payload(first[i]), Payload(second[i])) << i;

  std::set<std::uint16_t> senders;
  int text = 0, binary = 0;
  for (const Frame& f : first) {
    if (f.type() == ptype::Announce) continue;
    auto p = Payload(f);
    senders.insert(AddressOf(p, 0));
    if (f.type() != ptype::RxData) continue;
    const std::string s(p.begin() + 3, p.end());
    const bool readable = std::all_of(s.begin(), s.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    (readable ? text : binary)++;
    if (readable) {
      EXPECT_EQ(s.rfind("Remote " + std::to_string(AddressOf(p, 0)) + ": ", 0), 0u) << s;
    }
  }
  EXPECT_EQ(senders, (std::set<std::uint16_t>{0x0001, 0x0002})) << "remote 3 is always lost";
  EXPECT_GT(text, 10);
  EXPECT_GT(binary, 0);
}

TEST_F(LiveNetworkTest, TypedLinesAreAnsweredOutsideProtocolMode) {
  // The answer comes over the air after the remote's latency, so the echo
  // can be checked alone before the clock moves; with no latency the
  // scheduler could answer before the check.
  SimOptions o = Live(1, 3600s);
  o.remoteLatency = 20ms;
  Harness h(o);
  Run(h, clock, 4s);
  h.Enter();
  h.Send(ptype::ExitProtocolMode);
  h.out.Clear();
  h.SendBytes(Text("hi\r"));
  EXPECT_EQ(h.out.Raw(), Text("hi\r")) << "each byte comes back at once";
  Run(h, clock, o.remoteLatency);
  EXPECT_EQ(h.out.Raw(), Text("hi\r\r\nRemote 1: hi\r\n"));

  // The transparent default address chooses the remote that answers.
  const std::uint8_t toRemote2[] = {0x02, 0x00};
  h.module->PokeRegisters(kLocal, 4, 7, toRemote2);
  h.out.Clear();
  h.SendBytes(Text("ok\n"));
  Run(h, clock, o.remoteLatency);
  EXPECT_EQ(h.out.Raw(), Text("ok\n\r\nRemote 2: ok\r\n"));
}

TEST_F(LiveNetworkTest, AQuietNetworkSendsNothingUnasked) {
  SimOptions o = Live(1, 1000ms);
  o.network.live = false;
  Harness h(o);
  h.Enter();
  Run(h, clock, 60s, 1s);
  h.SendBytes(Text("x"));
  EXPECT_TRUE(h.out.Frames().empty());
  EXPECT_EQ(Payload(*h.Ask(ptype::GetRemoteRegister, Reg(2, 8, 2, {}, 0x0001)))[0], txstatus::Acknowledged)
      << "its remotes are joined from the start";
}

}  // namespace
}  // namespace qmx::sim::test
