// A network of many remotes whose membership changes: staggered joins, each
// remote with its own MAC address, leaves and returns (some under a new
// address), and what the air answers for a remote that is there or away.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/fixtures/fake_clock.h"
#include "tests/sim/sim_harness.h"

namespace qmx::sim::test {
namespace {

using Mac = std::vector<std::uint8_t>;

std::uint16_t AddressAt(const std::vector<std::uint8_t>& p, std::size_t at) {
  return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
}

// What a host learns of the network from the base's announcements, and what
// in them contradicts a real network.
struct Membership {
  std::map<std::uint16_t, Mac> joined;          // address → MAC
  std::map<Mac, std::vector<std::uint16_t>> of;  // MAC → the addresses it joined under
  std::set<Mac> away;
  int leaves = 0, returns = 0, moves = 0;
  std::vector<std::string> problems;

  // The remote that joined, or the address that was left; nothing else.
  struct Change {
    bool joined;
    std::uint16_t address;
  };
  std::optional<Change> See(const Frame& f) {
    if (!IsAnnounce(f, 0xA2) && !IsAnnounce(f, 0xA5)) return std::nullopt;
    const auto p = Payload(f);
    if (p[0] == 0xA5) {
      const std::uint16_t address = AddressAt(p, 1);
      auto it = joined.find(address);
      if (it == joined.end()) {
        problems.push_back("left, never joined: " + std::to_string(address));
        return std::nullopt;
      }
      away.insert(it->second);
      joined.erase(it);
      ++leaves;
      return Change{false, address};
    }
    const Mac mac(p.begin() + 1, p.begin() + 9);
    const std::uint16_t address = AddressAt(p, 9);
    if (auto it = joined.find(address); it != joined.end() && it->second != mac)
      problems.push_back("address held twice: " + std::to_string(address));
    auto& history = of[mac];
    if (!history.empty() && history.back() != address && !away.contains(mac))
      problems.push_back("moved without leaving: " + std::to_string(address));
    if (away.erase(mac)) {
      ++returns;
      moves += history.back() != address;
    }
    if (history.empty() || history.back() != address) history.push_back(address);
    joined[address] = mac;
    return Change{true, address};
  }
};

SimOptions Network(qmx::test::FakeClock& clock, int remotes, std::chrono::milliseconds churn,
                   std::uint32_t seed = 1) {
  SimOptions o = FastOptions();
  o.time = &clock;
  o.seed = seed;
  o.remotes = remotes;
  o.network.live = true;
  o.network.interval = 3600s;  // reports are not what these tests watch
  o.network.churn = churn;
  return o;
}

// Moves the clock by `span` in `step`s; after each, hands every frame sent
// to `see`, which may ask the module; what it asked is forgotten.
void Pass(Harness& h, qmx::test::FakeClock& clock, std::chrono::milliseconds span, std::chrono::milliseconds step,
         const std::function<void(const std::vector<Frame>&)>& see) {
  for (auto t = 0ms; t < span; t += step) {
    clock.Advance(step);
    h.module->WaitUntilIdle();
    const auto frames = h.out.Frames();
    h.out.Clear();
    see(frames);
    h.out.Clear();
  }
}

// Get Remote Register of bank 2 registers 0-9 (MAC and network address).
std::vector<std::uint8_t> AskIdentity(Harness& h, std::uint16_t address) {
  auto reply = h.Ask(ptype::GetRemoteRegister, Reg(2, 0, 10, {}, address));
  return reply ? Payload(*reply) : std::vector<std::uint8_t>{};
}

// The TX status of a remote register read; -1 without a reply.
int StatusOf(Harness& h, std::uint16_t address) {
  const auto p = AskIdentity(h, address);
  return p.empty() ? -1 : p[0];
}

TEST(SimManyRemotes, TwoHundredFiftyJoinInTurnEachWithItsOwnMacAndAnswer) {
  qmx::test::FakeClock clock;
  Harness h(Network(clock, 250, 0ms));
  h.Enter();
  Membership m;
  std::size_t mostInOneStep = 0;
  Pass(h, clock, kJoinWindow + 100ms, 50ms, [&](const std::vector<Frame>& frames) {
    std::size_t joins = 0;
    for (const Frame& f : frames) joins += m.See(f).has_value();
    mostInOneStep = std::max(mostInOneStep, joins);
  });
  EXPECT_TRUE(m.problems.empty()) << m.problems.front();
  ASSERT_EQ(m.joined.size(), 250u) << "all joined within the window";
  EXPECT_EQ(m.of.size(), 250u) << "each with its own MAC address";
  EXPECT_EQ(m.joined.begin()->first, 1);
  EXPECT_EQ(m.joined.rbegin()->first, 250);
  EXPECT_EQ(mostInOneStep, 1u) << "one after another, not in a burst";

  for (const auto& [address, mac] : m.joined) {
    const auto p = AskIdentity(h, address);
    ASSERT_EQ(p.size(), 17u) << address;
    EXPECT_EQ(p[0], txstatus::Acknowledged);
    EXPECT_EQ(Mac(p.begin() + 7, p.begin() + 15), mac) << address;
    EXPECT_EQ(AddressAt(p, 15), address);
  }
  EXPECT_EQ(StatusOf(h, 251), txstatus::NoAcknowledgement);
}

TEST(SimChurn, RemotesLeaveAndReturnWithTheirMacSometimesAtANewAddress) {
  // Each run also asks the air about every remote that just left or came
  // back; the same seed must give the same network.
  auto run = [](std::uint32_t seed, Membership& m) {
    qmx::test::FakeClock clock;
    Harness h(Network(clock, 30, 2s, seed));
    h.Enter();
    std::vector<std::vector<std::uint8_t>> seen;
    Pass(h, clock, 180s, 100ms, [&](const std::vector<Frame>& frames) {
      std::vector<Membership::Change> changes;
      for (const Frame& f : frames) {
        seen.push_back(Payload(f));
        if (auto c = m.See(f)) changes.push_back(*c);
      }
      for (const auto& c : changes) {
        if (c.joined != m.joined.contains(c.address)) continue;  // undone in the same step
        const auto p = AskIdentity(h, c.address);
        ASSERT_GE(p.size(), 7u);
        if (!c.joined) {
          EXPECT_EQ(p[0], txstatus::NoAcknowledgement) << "left: " << c.address;
          EXPECT_EQ(p[6], 0) << "no data from a remote that left";
          continue;
        }
        ASSERT_EQ(p.size(), 17u);
        EXPECT_EQ(p[0], txstatus::Acknowledged) << "joined: " << c.address;
        EXPECT_EQ(Mac(p.begin() + 7, p.begin() + 15), m.joined[c.address]);
        EXPECT_EQ(AddressAt(p, 15), c.address) << "its bank 2 knows its address";
      }
    });
    return seen;
  };
  Membership m;
  const auto first = run(1, m);
  EXPECT_TRUE(m.problems.empty()) << m.problems.front();
  EXPECT_EQ(m.of.size(), 30u) << "no MAC address but the thirty";
  EXPECT_GE(m.leaves, 50) << "about one leave every 2 s";
  EXPECT_LE(m.leaves, 130);
  EXPECT_GT(m.moves, 0) << "some come back under a new address";
  EXPECT_GT(m.returns - m.moves, m.moves) << "most under their own";
  EXPECT_GE(m.returns, m.leaves - 30);
  for (const auto& [mac, addresses] : m.of)
    for (std::uint16_t a : addresses) EXPECT_TRUE(a >= 1 && a < 0xFFFE) << a;

  Membership again, other;
  EXPECT_EQ(run(1, again), first);
  EXPECT_NE(run(2, other), first);
}

TEST(SimChurn, AStartOfTheBaseBringsEveryRemoteBack) {
  qmx::test::FakeClock clock;
  Harness h(Network(clock, 10, 500ms));
  h.Enter();
  Membership m;
  const auto see = [&m](const std::vector<Frame>& frames) {
    for (const Frame& f : frames) m.See(f);
  };
  Pass(h, clock, 12s, 100ms, see);
  for (int i = 0; i < 100 && m.away.size() < 2; ++i) Pass(h, clock, 100ms, 100ms, see);
  ASSERT_GE(m.away.size(), 2u);

  h.Send(ptype::SoftwareReset);
  Pass(h, clock, 100ms, 10ms, [](const std::vector<Frame>&) {});
  h.Enter();
  // Churn goes on meanwhile; only remotes that joined again may leave.
  Membership after;
  Pass(h, clock, 10s + 100ms, 100ms, [&after](const std::vector<Frame>& frames) {
    for (const Frame& f : frames) after.See(f);
  });
  EXPECT_TRUE(after.problems.empty()) << after.problems.front();
  EXPECT_EQ(after.of.size(), 10u) << "the remotes that were away join with the others";
}

TEST(SimChurn, NeedsTheLiveNetworkAndOtherwiseSchedulesNothing) {
  qmx::test::FakeClock clock;
  SimOptions o = Network(clock, 30, 1s);
  o.network.live = false;
  Harness h(o);
  h.Enter();
  EXPECT_FALSE(h.module->NextDue()) << "an idle module never wakes";
  EXPECT_EQ(h.module->Remotes().size(), 30u);
  EXPECT_EQ(StatusOf(h, 30), txstatus::Acknowledged);
}

}  // namespace
}  // namespace qmx::sim::test
