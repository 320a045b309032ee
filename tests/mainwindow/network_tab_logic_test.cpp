// The Network tab's decisions: ages, the Poll I/O slot a radio takes, the
// link measurement and the scan of an address range.
#include "mainwindow/network_tab_logic.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "link/packet.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;

TEST(NetworkTabLogic, AgesStayShortAndReadableAtEveryScale) {
  const std::vector<std::pair<Clock::duration, std::string>> cases{
      {-5s, "0 s"},           {0s, "0 s"},          {999ms, "0 s"},           {59s, "59 s"},
      {60s, "1 min 00 s"},    {3599s, "59 min 59 s"}, {3600s, "1 h 00 min"}, {86399s, "23 h 59 min"},
      {86400s, "1 d 00 h"},   {100h, "4 d 04 h"}};
  for (const auto& [age, text] : cases) EXPECT_EQ(AgeText(age), text) << text;
}

TEST(NetworkTabLogic, ARadioTakesItsOwnPollSlotOrTheFirstEmptyOne) {
  using Texts = std::array<std::string, kRemoteRadios>;
  EXPECT_EQ(PollSlotFor(Texts{"", "", "", ""}, 0x0005), 1);
  EXPECT_EQ(PollSlotFor(Texts{"0x0001", "", "", ""}, 0x0005), 2);
  // Held already, by any spelling of the number: the same slot, not a second.
  EXPECT_EQ(PollSlotFor(Texts{"", "", "5", ""}, 0x0005), 3);
  EXPECT_EQ(PollSlotFor(Texts{"0x0001", "0x0002", "0x0003", "0x0005"}, 0x0005), 4);
  // A slot with text that is no address is taken: not free.
  EXPECT_EQ(PollSlotFor(Texts{"0x0001", "zz", "0x0003", "0x0004"}, 0x0005), std::nullopt);
}

TEST(NetworkTabLogic, TheLinkMeasurementCountsWhatTheLocalRadioAndTheRemoteSaid) {
  int n = 0;
  std::vector<std::uint16_t> to;
  // Packet 1 unanswered, 2 not acknowledged, the rest acknowledged at 100 + n.
  const diag::TestSender send = [&](PacketRecord& rec) -> Done {
    ++n;
    to.push_back(rec.NetworkAddress);
    EXPECT_EQ(rec.Length, kMeasureBytes);
    if (n == 1) return Done::Fail(Status::NoReply);
    rec.TxStatus = n == 2 ? txstatus::NoAcknowledgement : txstatus::Acknowledged;
    rec.Lqi = static_cast<std::uint8_t>(100 + n);
    return {};
  };
  const LinkMeasurement m = MeasureLink(send, 0x0042, 5);
  EXPECT_EQ(to, std::vector<std::uint16_t>(5, 0x0042));
  EXPECT_EQ(m.sent, 5);
  EXPECT_EQ(m.answered, 4);
  EXPECT_EQ(m.acknowledged, 3);
  EXPECT_EQ(m.meanLqi, 104);  // 103, 104, 105
  EXPECT_EQ(MeasurementText(0x0042, m),
            "Link to 0x0042: 3 of 5 test packets acknowledged, mean LQI 104; the local radio did not answer 1.");
  EXPECT_EQ(MeasurementText(0x0001, LinkMeasurement{2, 2, 0, std::nullopt}),
            "Link to 0x0001: 0 of 2 test packets acknowledged.");
}

TEST(NetworkTabLogic, IdentifyLeavesTheLineAsFoundEvenWhenABlinkFails) {
  std::vector<int> written, paused;
  int failAt = -1;  // the write (0, 1, …) that fails
  std::uint8_t value = 1;
  bool readFails = false;
  const OutputLine line{[&]() -> Result<std::uint8_t> {
                          if (readFails) return Result<std::uint8_t>::Fail(Status::NoReply);
                          return value;
                        },
                        [&](std::uint8_t v) -> Done {
                          written.push_back(v);
                          if (static_cast<int>(written.size()) - 1 == failAt) return Done::Fail(Status::NoReply);
                          return {};
                        }};
  const auto pause = [&](int ms) { paused.push_back(ms); };
  ASSERT_TRUE(IdentifyRadio(line, pause, 2));
  EXPECT_EQ(written, (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(paused, std::vector<int>(3, kIdentifyBlinkMs));  // none after the last write

  // The second blink's first write fails: the first value is still put back.
  written.clear();
  value = 0;
  failAt = 2;
  EXPECT_FALSE(IdentifyRadio(line, pause, 3));
  EXPECT_EQ(written, (std::vector<int>{1, 0, 1, 0}));

  written.clear();
  readFails = true;
  EXPECT_FALSE(IdentifyRadio(line, pause, 3));
  EXPECT_TRUE(written.empty());
}

TEST(NetworkTabLogic, ARangeIsTwoAddressesInOrder) {
  ASSERT_TRUE(ReadScanRange("0x0001", "0x0040"));
  EXPECT_EQ(ReadScanRange("0x0010", "16")->Size(), 1u);
  EXPECT_EQ(ReadScanRange("0x0000", "0xFFFE")->Size(), 65535u);
  EXPECT_FALSE(ReadScanRange("0x0001", "0xFFFF"));  // the broadcast address
  EXPECT_FALSE(ReadScanRange("0x0041", "0x0040"));
  EXPECT_FALSE(ReadScanRange("", "0x0040"));
  EXPECT_FALSE(ReadScanRange("0x0001", "0x10000"));
}

TEST(NetworkTabLogic, AScanSaysWhatItFoundAndWhereItWasCancelled) {
  net::ScanSummary done;
  done.asked = 4;
  done.answered = 1;
  EXPECT_EQ(ScanSummaryText(done, {0xFFFB, 0xFFFE}), "Found 1 radio in 0xFFFB to 0xFFFE.");
  net::ScanSummary cancelled;
  cancelled.asked = 3;
  cancelled.answered = 3;
  cancelled.cancelled = true;
  EXPECT_EQ(ScanSummaryText(cancelled, {1, 10}), "Found 3 radios in 0x0001 to 0x000A, cancelled after 3 of 10.");
}

TEST(NetworkTabLogic, ARowReadsAsItsCellsAndTheNameOnlyWhereGiven) {
  net::Node node;
  node.address = 0x0012;
  node.mac = "00:11:22:33:44:55:66:77";
  node.state = net::NodeState::Joined;
  const Clock::time_point now = Clock::time_point{} + 1000s;
  node.firstSeen = now - 125s;
  node.lastHeard = now - 3s;
  node.frames = 7;
  node.lastLqi = 200;
  node.lqi = {{now - 2s, 100}, {now - 1s, 201}};
  EXPECT_EQ(NodeRowText(node, "Pump", now),
            "0x0012\tPump\t00:11:22:33:44:55:66:77\tjoined\t2 min 05 s\t3 s\t7\t200\tmean 151");
  EXPECT_EQ(NodeCellText(node, NetColumn::Name, std::nullopt, now), "");
  EXPECT_EQ(AddressWithName(0x0012, "Pump"), "0x0012  Pump");
  EXPECT_EQ(AddressWithName(0x0012, std::nullopt), "0x0012");
  node.lqi.clear();
  EXPECT_EQ(NodeCellText(node, NetColumn::LqiLine, std::nullopt, now), "");
}

}  // namespace
}  // namespace qmx
