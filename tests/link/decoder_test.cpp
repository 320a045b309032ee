// What the decoder makes of every kind of received frame.
#include <gtest/gtest.h>

#include <vector>

#include "link/decoder.h"
#include "link/frame.h"
#include "link/packet_queue.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

struct RecordingSink : ViewSink {
  std::vector<EventBlock> blocks;
  struct Data {
    std::uint16_t address;
    std::uint8_t lqi;
    Bytes bytes;
  };
  std::vector<Data> received;
  std::vector<std::pair<std::uint16_t, Bytes>> ioEvents;
  std::vector<std::uint16_t> joined;

  void EventText(const EventBlock& block) override { blocks.push_back(block); }
  void ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) override {
    received.push_back({address, lqi, Bytes(data.begin(), data.end())});
  }
  void IoEvent(std::uint16_t address, std::span<const std::uint8_t> data) override {
    ioEvents.emplace_back(address, Bytes(data.begin(), data.end()));
  }
  void RemoteJoined(std::uint16_t address) override { joined.push_back(address); }
  bool Quiet() const { return blocks.empty() && received.empty() && ioEvents.empty() && joined.empty(); }
};

class DecoderTest : public ::testing::Test {
 protected:
  DecoderTest() { decoder.SetClock([] { return std::string("02/03/24  |  10:11:12"); }); }
  void Decode(std::uint8_t seq, std::uint8_t type, const Bytes& payload) {
    auto f = BuildFrame(seq, type, payload);
    ASSERT_TRUE(f);
    decoder.DecodePacket(*f);
  }
  PacketQueue queue;
  RecordingSink sink;
  PacketDecoder decoder{queue, sink};
};

constexpr auto G = TextColour::Green;
constexpr auto R = TextColour::Red;
constexpr auto U = TextColour::Unchanged;

TEST_F(DecoderTest, AnnounceTextsAndColours) {
  struct Case {
    Bytes payload;
    TextColour colour;
    Lines lines;
  };
  const Case cases[] = {
      {{0xA0}, G, {"Radio has completed startup initialization."}},
      {{0xA1, 0x34, 0x12}, G, {"Base:  PAN has been formed, ready for data.", "PANID : 0x1234"}},
      {{0xA2, 1, 2, 3, 4, 5, 6, 7, 0xAB, 0x02, 0x00},
       U,
       {"Base:  A remote has joined our PAN.  ",
        "The remote MAC Address is : AB:07:06:05:04:03:02:01.  The remote Network Address is : 0x0002."}},
      {{0xA3, 0xCD, 0xAB, 0x01, 0x80},
       U,
       {"Remote:  Joined a PAN, ready for PAN", "The PANID is : 0xABCD.  Network Address is : 0x8001"}},
      {{0xA4}, U, {"Remote:  Exited PAN"}},
      {{0xA5, 0x05, 0x00}, U, {"Base: Node has left network", "Network Address is : 0x0005"}},
      {{0xA7, 0xEE, 0xEE, 0x22, 0x11, 0x0F},
       U,
       {"Base: A PANID conflict was detected", "PANID is : 0x1122.  Channel is : 0x0F"}},
      {{0xE0}, R, {"Protocol Error -- invalid packet type"}},
      {{0xE1}, R, {"Protocol Error -- invalid argument"}},
      {{0xE2}, R, {"Protocol Error -- general error"}},
      {{0xE3}, R, {"Protocol Error -- parser timeout"}},
      {{0xE4}, R, {"Protocol Error -- register is read-only"}},
      {{0xE5}, R, {"Routing Error -- unknown destination address"}},
      {{0xE8}, R, {"UART receive buffer overflow"}},
      {{0xE9}, R, {"UART receive overrun"}},
      {{0xEA}, R, {"UART framing error"}},
      {{0xA6}, R, {"Unknown Packet."}},
      {{0xE6}, R, {"Unknown Packet."}},
      {{0x00}, R, {"Unknown Packet."}},
      {{}, R, {"Unknown Packet."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.front());
    sink.blocks.clear();
    Decode(1, 0x27, c.payload);
    ASSERT_EQ(sink.blocks.size(), 1u);
    EXPECT_EQ(sink.blocks[0].colour, c.colour);
    EXPECT_EQ(sink.blocks[0].colourAt, 1u);  // the time stamp keeps the colour in force
    Lines expected = {"02/03/24  |  10:11:12"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    expected.emplace_back();
    EXPECT_EQ(sink.blocks[0].lines, expected);
  }
  EXPECT_EQ(queue.Count(), 0u);
}

TEST_F(DecoderTest, ShortAnnouncePayloadsReadMissingBytesAsZero) {
  Decode(1, 0x27, {0xA2, 0x11});
  ASSERT_EQ(sink.blocks.size(), 1u);
  EXPECT_EQ(sink.blocks[0].lines.at(2),
            "The remote MAC Address is : 00:00:00:00:00:00:00:11.  The remote Network Address is : 0x0000.");
  EXPECT_EQ(sink.joined, std::vector<std::uint16_t>{0});

  Decode(1, 0x27, {0xA7, 1, 2, 3});
  EXPECT_EQ(sink.blocks.back().lines.at(2), "PANID is : 0x0003.  Channel is : 0x00");
  Decode(1, 0x27, {0xA1});
  EXPECT_EQ(sink.blocks.back().lines.at(2), "PANID : 0x0000");
}

TEST_F(DecoderTest, JoinAnnounceReportsTheRemoteEachTime) {
  const Bytes join = {0xA2, 1, 2, 3, 4, 5, 6, 7, 8, 0x02, 0x00};
  Decode(1, 0x27, join);
  Decode(2, 0x27, join);
  // The address list itself drops the duplicate.
  EXPECT_EQ(sink.joined, (std::vector<std::uint16_t>{2, 2}));
  Decode(3, 0x27, {0xA5, 0x02, 0x00});
  EXPECT_EQ(sink.joined.size(), 2u);
}

TEST_F(DecoderTest, RxEventLinesAndIoUpdate) {
  Decode(1, 0x28, {0x01, 0x80, 0x40});
  ASSERT_EQ(sink.blocks.size(), 1u);
  EXPECT_EQ(sink.blocks[0].colour, U);
  EXPECT_EQ(sink.blocks[0].lines, (Lines{"02/03/24  |  10:11:12", "Received Event from 0x8001", "Data={}", ""}));
  ASSERT_EQ(sink.ioEvents.size(), 1u);
  EXPECT_EQ(sink.ioEvents[0].first, 0x8001);
  EXPECT_TRUE(sink.ioEvents[0].second.empty());

  Decode(2, 0x28, {0x02, 0x00, 0x40, 0x01, 0x0A, 0xFF});
  EXPECT_EQ(sink.blocks[1].lines.at(1), "Received Event from 0x0002");
  EXPECT_EQ(sink.blocks[1].lines.at(2), "Data={01 0A FF}");
  EXPECT_EQ(sink.ioEvents[1].second, (Bytes{0x01, 0x0A, 0xFF}));

  // Too short for its header: what is there, no data.
  Decode(3, 0x28, {0x07});
  EXPECT_EQ(sink.blocks[2].lines.at(1), "Received Event from 0x0007");
  EXPECT_EQ(sink.blocks[2].lines.at(2), "Data={}");
  EXPECT_EQ(queue.Count(), 0u);
}

TEST_F(DecoderTest, RxDataGoesToTheDataView) {
  Decode(1, 0x26, {0x34, 0x12, 0x9C, 'A', 'B', 0xFB});
  ASSERT_EQ(sink.received.size(), 1u);
  EXPECT_EQ(sink.received[0].address, 0x1234);
  EXPECT_EQ(sink.received[0].lqi, 0x9C);
  EXPECT_EQ(sink.received[0].bytes, (Bytes{'A', 'B', 0xFB}));
  Decode(2, 0x26, {0x34});
  EXPECT_TRUE(sink.received.at(1).bytes.empty());
  EXPECT_TRUE(sink.blocks.empty());
  EXPECT_EQ(queue.Count(), 0u);
}

TEST_F(DecoderTest, RepliesAreQueuedOthersIgnored) {
  for (std::uint8_t type : {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x1A, 0x1B}) Decode(9, type, {});
  EXPECT_EQ(queue.Count(), 8u);
  EXPECT_TRUE(sink.Quiet());

  Decode(9, 0x13, {0, 2, 3, 0xAA, 0xBB, 0xCC});  // same key: replaces
  EXPECT_EQ(queue.Count(), 8u);
  auto rec = queue.Find(9, 0x13);
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->Bank, 2);
  EXPECT_EQ(rec->Span, 3);
  EXPECT_EQ(rec->Data[2], 0xCC);
  Decode(9, 0x1A, {1, 0x02, 0x00, 0x50, 0, 2, 1, 0x77});
  rec = queue.Find(9, 0x1A);
  EXPECT_EQ(rec->TxStatus, 1);
  EXPECT_EQ(rec->NetworkAddress, 2);
  EXPECT_EQ(rec->Lqi, 0x50);
  EXPECT_EQ(rec->Data[0], 0x77);

  for (std::uint8_t type : {0x00, 0x03, 0x16, 0x29, 0xFB}) Decode(9, type, {1, 2, 3});
  EXPECT_EQ(queue.Count(), 8u);
  EXPECT_TRUE(sink.Quiet());
}

TEST(DecoderText, AddressAndTimestamp) {
  EXPECT_EQ(NetworkAddressText(0x8001), "0x8001");
  EXPECT_EQ(NetworkAddressText(0x000A), "0x000A");
  const std::string ts = TimestampText();
  EXPECT_NE(ts.find("  |  "), std::string::npos);
  EXPECT_GT(ts.find("  |  "), 0u);
  EXPECT_LT(ts.find("  |  ") + 5, ts.size());
}

}  // namespace
}  // namespace qmx
