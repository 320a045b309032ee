// The network scan: the ranges it takes, what it sends and enters in the
// table, its progress, its cancel and its end when the port goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "link/network_nodes.h"
#include "tests/fixtures/fake_clock.h"
#include "tests/fixtures/sim_link.h"
#include "tools/node_scan.h"

namespace qmx::net {
namespace {

using std::chrono::milliseconds;

TEST(AddressRangeText, GoodRangesAndTheReasonForBadOnes) {
  struct Good {
    const char* text;
    std::uint16_t first, last;
  } goods[] = {{"1-60", 1, 60},       {"0x0001-0x00FF", 1, 255}, {" 7 ", 7, 7},
               {"0-0xFFFE", 0, 0xFFFE}, {"$10-x20", 16, 32},     {"5-5", 5, 5}};
  for (const Good& g : goods) {
    const Result<AddressRange> r = ParseAddressRange(g.text);
    ASSERT_TRUE(r) << g.text << ": " << r.reason();
    EXPECT_EQ(r->first, g.first) << g.text;
    EXPECT_EQ(r->last, g.last) << g.text;
  }
  EXPECT_EQ(ParseAddressRange("0-0xFFFE")->Size(), 0xFFFFu);
  struct Bad {
    const char* text;
    const char* why;
  } bads[] = {{"", "no addresses"},
              {"60-1", "the last address is below the first"},
              {"1-0x10000", "'0x10000' is no network address"},
              {"-1", "'-1' is no network address"},
              {"1-", "'' is no network address"},
              {"1--5", "'-5' is no network address"},
              {"1-5-7", "'5-7' is no network address"},
              {"1,3", "'1,3' is no network address"},
              {"0xFFF0-0xFFFF", "0xFFFF is the broadcast address"},
              {"a-b", "'a' is no network address"}};
  for (const Bad& b : bads) {
    const Result<AddressRange> r = ParseAddressRange(b.text);
    ASSERT_FALSE(r) << b.text;
    EXPECT_EQ(r.status(), Status::BadInput);
    EXPECT_EQ(r.reason().rfind("bad address range '" + std::string(b.text) + "': " + b.why, 0), 0u) << r.reason();
  }
}

// An empty TX Data to each address in turn; those a remote acknowledges
// enter the table with the answer's LQI, the others do not.
TEST(NodeScanOnSimulatedNetwork, AsksEachAddressOnceAndEntersTheAnswers) {
  test::SimLink sim(sim::SimOptions{.remoteLatency = milliseconds(0), .remotes = 3});
  ASSERT_TRUE(sim.Open());
  ASSERT_TRUE(sim.commands().EnterProtocolMode());
  sim.module->SetRemoteLqi(2, 0x40);
  test::FakeClock clock;
  NodeTable table(clock);
  NodeScan scan(AddressRange{2, 6}, diag::CommandSender(sim.commands()), table);
  std::vector<std::pair<std::size_t, std::size_t>> progress;
  const ScanSummary& summary = scan.Run([&](std::size_t done, std::size_t total) { progress.emplace_back(done, total); });
  EXPECT_EQ(progress, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
  EXPECT_EQ(summary.asked, 5u);
  EXPECT_EQ(summary.answered, 2u);
  EXPECT_EQ(summary.silent, 0u);
  EXPECT_FALSE(summary.cancelled);
  ASSERT_EQ(table.Rows().size(), 3u);
  EXPECT_EQ(table.Rows()[1].address, 2);
  EXPECT_NEAR(table.Rows()[1].lastLqi.value(), 0x40, 4);
  EXPECT_EQ(table.Rows()[2].address, 3);
  EXPECT_FALSE(table.RowOf(4));
  std::size_t txData = 0;
  for (const auto& [seq, type] : sim.Received()) txData += type == ptype::TxData ? 1 : 0;
  EXPECT_EQ(txData, 5u);
  EXPECT_FALSE(scan.Step()) << "over";
}

TEST(NodeScanOnSimulatedNetwork, CancelStopsBeforeTheNextAddress) {
  test::SimLink sim(sim::SimOptions{.remoteLatency = milliseconds(0), .remotes = 3});
  ASSERT_TRUE(sim.Open());
  ASSERT_TRUE(sim.commands().EnterProtocolMode());
  test::FakeClock clock;
  NodeTable table(clock);
  NodeScan scan(AddressRange{1, 60}, diag::CommandSender(sim.commands()), table);
  const ScanSummary& summary = scan.Run([&](std::size_t done, std::size_t) {
    if (done == 2) scan.Cancel();
  });
  EXPECT_TRUE(summary.cancelled);
  EXPECT_EQ(scan.Done(), 2u);
  EXPECT_EQ(scan.Total(), 60u);
  std::size_t txData = 0;
  for (const auto& [seq, type] : sim.Received()) txData += type == ptype::TxData ? 1 : 0;
  EXPECT_EQ(txData, 2u);
  EXPECT_EQ(table.Rows().size(), 3u);
}

// A local radio that is silent for an address goes on to the next; a port
// that has gone ends the scan; a radio in no network is counted.
TEST(NodeScan, SilenceGoesOnAndAPortGoneEndsIt) {
  test::FakeClock clock;
  NodeTable table(clock);
  std::vector<std::uint16_t> sent;
  auto sender = [&](PacketRecord& rec) {
    sent.push_back(rec.NetworkAddress);
    EXPECT_EQ(rec.Length, 0);
    switch (rec.NetworkAddress) {
      case 10:
        return Done::Fail(Status::NoReply);
      case 11:
        rec.TxStatus = txstatus::NotLinked;
        return Done{};
      case 12:
        rec.TxStatus = txstatus::Acknowledged;
        rec.Lqi = 0x77;
        return Done{};
      default:
        return Done::Fail(Status::PortClosed);
    }
  };
  NodeScan scan(AddressRange{10, 20}, sender, table);
  const ScanSummary& summary = scan.Run();
  EXPECT_EQ(sent, (std::vector<std::uint16_t>{10, 11, 12, 13}));
  EXPECT_EQ(summary.silent, 2u);
  EXPECT_EQ(summary.notLinked, 1u);
  EXPECT_EQ(summary.answered, 1u);
  EXPECT_EQ(summary.failure.status(), Status::PortClosed);
  EXPECT_EQ(table.Rows().at(table.RowOf(12).value()).lastLqi, 0x77);
}

}  // namespace
}  // namespace qmx::net
