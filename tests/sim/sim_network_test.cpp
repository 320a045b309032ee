// The simulated radio network: TX Data, remote registers, remote actions and
// the asynchronous frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <thread>

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
  Harness h;
  h.Enter();
  h.Send(ptype::TxData, Tx(0x0002, {1, 2, 3}));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(h.out.Frames().size(), 1u) << "no echo by default";

  h.module->SetRemoteDataEcho(true);
  h.out.Clear();
  h.Send(ptype::TxData, Tx(0x0002, {1, 2, 3}));
  ASSERT_TRUE(h.out.WaitFrames(2));
  auto f = h.out.Frames();
  EXPECT_EQ(f[0].type(), ptype::TxDataReply);
  EXPECT_EQ(f[1].type(), ptype::RxData);
  auto p = Payload(f[1]);
  EXPECT_EQ(AddressOf(p, 0), 0x0002);
  EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 3, p.end()), (std::vector<std::uint8_t>{1, 2, 3}));

  // An unacknowledged transmission is not echoed.
  h.out.Clear();
  h.Send(ptype::TxData, Tx(0x0009, {1}));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(h.out.Frames().size(), 1u);
}

TEST(SimTxData, OverTheAirRepliesTakeTheirTime) {
  auto o = FastOptions();
  o.remoteLatency = 200ms;
  Harness h(o);
  h.Enter();
  const auto start = std::chrono::steady_clock::now();
  h.Send(ptype::TxData, Tx(0x0001, {1}));
  EXPECT_TRUE(h.out.Frames().empty());
  ASSERT_TRUE(h.out.WaitFrames(1));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
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
  Harness h(SlowBoot());
  h.Enter();
  h.Ask(ptype::SetRemoteRegister, Reg(6, 1, 1, {0x03}, 0x0002));  // GPIO init: pins 0 and 1 high
  h.Ask(ptype::SetRemoteRegister, Reg(5, 0, 2, {0, 0}, 0x0002));
  auto reset = h.Ask(ptype::SetRemoteRegister, Reg(255, 0, 1, {0}, 0x0002));
  ASSERT_TRUE(reset);
  EXPECT_EQ(Payload(*reset)[0], txstatus::Acknowledged);

  // Rebooting: no acknowledgement.
  auto during = Payload(*h.Ask(ptype::GetRemoteRegister, Reg(5, 0, 2, {}, 0x0002)));
  EXPECT_EQ(during[0], txstatus::NoAcknowledgement);

  ASSERT_TRUE(h.out.WaitFrames(2));
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

TEST(SimNetwork, DemoTimerSendsFramesUntilStopped) {
  Harness h;
  h.Enter();
  h.module->SetDemoInterval(10ms);
  ASSERT_TRUE(h.out.WaitFrames(4));
  h.module->SetDemoInterval(0ms);
  auto f = h.out.Frames();
  EXPECT_EQ(f[0].type(), ptype::RxEvent);
  EXPECT_EQ(f[1].type(), ptype::RxData);
  EXPECT_TRUE(IsAnnounce(f[2], 0xA2));
  std::this_thread::sleep_for(30ms);
  const auto count = h.out.Frames().size();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(h.out.Frames().size(), count);
}

}  // namespace
}  // namespace qmx::sim::test
