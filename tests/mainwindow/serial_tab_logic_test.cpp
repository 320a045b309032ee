// The Serial tab's rules without widgets: received rows and when the view
// grows, and the transmit timer's intervals.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mainwindow/received_rows.h"
#include "mainwindow/serial_tab_logic.h"

namespace qmx {
namespace {

TEST(ReceivedRowsTest, FortyHexBytesTakeTwoLines) {
  std::vector<std::uint8_t> data(40);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  ReceivedRowsModel model(100);
  model.Append(LayOutReceived(0x0002, 0xC4, data, true));
  ASSERT_EQ(model.Size(), 2u);
  EXPECT_EQ(model.Row(0).address, "0x0002");
  EXPECT_EQ(model.Row(0).lqi, "0xC4");
  EXPECT_EQ(model.Row(1).address, "");
  EXPECT_EQ(model.Row(1).lqi, "");
  EXPECT_EQ(model.Row(0).data.size(), 75u);
  EXPECT_EQ(model.Row(1).data.size(), 45u);
  EXPECT_EQ(model.Row(0).data.substr(0, 9), "00 01 02 ");
  EXPECT_EQ(model.Row(1).data.substr(0, 3), "19 ");  // byte 25 starts the second line
}

TEST(ReceivedRowsTest, TextModeKeepsOnlyBytes32To127) {
  const std::vector<std::uint8_t> data = {0x1F, 'A', 0x80, 0x7F, ' ', 0x00, 'B', 0xFF};
  EXPECT_EQ(LayOutReceived(1, 0, data, false).data, "A\x7F B");
}

TEST(ReceivedRowsTest, TheViewGrowsForEachRowPastNineteen) {
  EXPECT_EQ(ViewGrowths(0), 0u);
  EXPECT_EQ(ViewGrowths(19), 0u);
  EXPECT_EQ(ViewGrowths(20), 1u);
  EXPECT_EQ(ViewGrowths(21), 2u);
}

// A packet's data is cut into rows as long as the column shows: at the
// first width 25 hex bytes or 75 characters of text (76 fit whole), wider
// more, hex always between bytes; the rows together are the whole text.
TEST(ReceivedRowsTest, RowsTakeTheWidthTheyHave) {
  const std::vector<std::uint8_t> bytes40(40, 0x5A);
  const std::vector<std::uint8_t> text77(77, 'x');
  const std::vector<std::uint8_t> text76(76, 'x');
  const struct {
    const std::vector<std::uint8_t>* data;
    bool hex;
    std::size_t longest;
    std::vector<std::size_t> rows;  // their lengths
  } cases[] = {
      {&bytes40, true, 76, {75, 45}},   {&bytes40, true, 119, {120}},       {&bytes40, true, 118, {117, 3}}, {&bytes40, true, 80, {81, 39}},
      {&bytes40, true, 30, {30, 30, 30, 30}}, {&bytes40, true, 1, std::vector<std::size_t>(40, 3)},
      {&text77, false, 76, {75, 2}},    {&text76, false, 76, {76}},          {&text77, false, 200, {77}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.data->size() << (c.hex ? " bytes at " : " characters at ") << c.longest);
    ReceivedRowsModel model(1000);
    const ReceivedPacketText packet = LayOutReceived(7, 8, *c.data, c.hex);
    model.Append(packet);
    model.Wrap(c.longest);
    std::vector<std::size_t> lengths;
    std::string joined;
    for (std::size_t r = 0; r < model.Size(); ++r) {
      lengths.push_back(model.Row(r).data.size());
      joined += model.Row(r).data;
    }
    EXPECT_EQ(lengths, c.rows);
    EXPECT_EQ(joined, packet.data);
  }
}

TEST(TransmitScheduleTest, RepeatingWaitsMillisecondsFirstThenSeconds) {
  TransmitSchedule s;
  EXPECT_EQ(s.Press("3"), 3);
  EXPECT_TRUE(s.ShowsStop());
  EXPECT_EQ(s.Current(), TransmitSchedule::State::Repeating);
  s.Fired();
  EXPECT_EQ(s.Sent("3"), 3000);
  s.Fired();
  // The interval text changed while repeating.
  EXPECT_EQ(s.Sent("soon"), 1000);
  s.Fired();
  EXPECT_EQ(s.Sent("0"), 10);
  s.Fired();
  EXPECT_EQ(s.Sent("99999999"), INT_MAX);
}

TEST(TransmitScheduleTest, ZeroOrNoNumberSendsOnce) {
  for (const char* interval : {"0", "", "soon"}) {
    TransmitSchedule s;
    EXPECT_EQ(s.Press(interval), 10) << interval;
    EXPECT_FALSE(s.ShowsStop());
    EXPECT_EQ(s.Current(), TransmitSchedule::State::SingleArmed);
    s.Fired();
    EXPECT_EQ(s.Sent(interval), std::nullopt);
    EXPECT_EQ(s.Current(), TransmitSchedule::State::Idle);
  }
}

TEST(TransmitScheduleTest, StopLetsTheArmedSendGoOutOnce) {
  TransmitSchedule s;
  ASSERT_EQ(s.Press("5"), 5);
  EXPECT_EQ(s.Press("5"), std::nullopt);  // "Stop": the timer stays armed
  EXPECT_FALSE(s.ShowsStop());
  EXPECT_EQ(s.Current(), TransmitSchedule::State::SingleArmed);
  s.Fired();
  EXPECT_EQ(s.Sent("5"), std::nullopt);
  EXPECT_EQ(s.Current(), TransmitSchedule::State::Idle);
}

TEST(TransmitScheduleTest, AFailedSendEndsRepeatingAndTheNextPressOnlyResets) {
  TransmitSchedule s;
  ASSERT_EQ(s.Press("2"), 2);
  s.Fired();  // the send failed: nothing re-armed
  EXPECT_EQ(s.Current(), TransmitSchedule::State::Idle);
  EXPECT_TRUE(s.ShowsStop());
  EXPECT_EQ(s.Press("2"), std::nullopt);
  EXPECT_FALSE(s.ShowsStop());
  EXPECT_EQ(s.Press("2"), 2);
}

TEST(TransmitScheduleTest, StopEndsEverything) {
  TransmitSchedule s;
  ASSERT_EQ(s.Press("2"), 2);
  s.Stop();
  EXPECT_FALSE(s.ShowsStop());
  EXPECT_EQ(s.Current(), TransmitSchedule::State::Idle);
  EXPECT_EQ(s.Sent("2"), std::nullopt);  // a send already under way
}

// The terminal holds the port: nothing is armed until the pause ends.
TEST(TransmitScheduleTest, APauseHoldsWhatWasDueUntilItEnds) {
  TransmitSchedule single;  // armed once: it goes out at once afterwards
  ASSERT_EQ(single.Press("0"), 10);
  EXPECT_TRUE(single.Pause());
  EXPECT_EQ(single.Current(), TransmitSchedule::State::Idle);
  EXPECT_EQ(single.Resume("0"), 10);

  TransmitSchedule repeating;  // paused while a send waits for its reply
  ASSERT_EQ(repeating.Press("2"), 2);
  repeating.Fired();
  EXPECT_TRUE(repeating.Pause());
  EXPECT_EQ(repeating.Sent("2"), std::nullopt);
  EXPECT_EQ(repeating.Resume("2"), 2000);
  EXPECT_EQ(repeating.Current(), TransmitSchedule::State::Repeating);

  TransmitSchedule pressed;  // a press whose protocol-mode command the pause outlasted
  EXPECT_FALSE(pressed.Pause());
  EXPECT_EQ(pressed.Press("0"), std::nullopt);
  EXPECT_EQ(pressed.Resume("0"), 10);

  TransmitSchedule failed;  // a send that failed meanwhile ends the repetition
  ASSERT_EQ(failed.Press("2"), 2);
  failed.Fired();
  failed.Pause();
  EXPECT_EQ(failed.Resume("2"), std::nullopt);
}

// Hex text is sent as typed or not at all: every token is one or two hex
// digits, and the count names the first that is not.
TEST(SerialTabTextsTest, HexTextIsSentAsTypedOrRefusedByItsToken) {
  using Bytes = std::vector<std::uint8_t>;
  const struct {
    const char* text;
    Bytes sent;
    const char* count;
  } cases[] = {
      {" 01  02 03 ", {1, 2, 3}, "3 bytes"},
      {"a 0F ff", {0x0A, 0x0F, 0xFF}, "3 bytes"},
      {"41 1FF zz", {}, "1FF is not a byte"},
      {"zz", {}, "zz is not a byte"},
      {"41 0x42", {}, "0x42 is not a byte"},
      {"41 -1", {}, "-1 is not a byte"},
      {"0123456789ABCDEF", {}, "0123456789... is not a byte"},
      {"", {}, "0 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const TransmitBytes data = TransmitData(c.text, false, false);
    EXPECT_EQ(data.bytes, c.sent);
    EXPECT_EQ(data.ok(), std::string(c.count).ends_with("bytes"));
    EXPECT_EQ(TransmitCountText(c.text, false, false), c.count);
  }
  // A refused text gets no CR either; ASCII text is never refused.
  EXPECT_TRUE(TransmitData("zz", false, true).bytes.empty());
  EXPECT_EQ(TransmitData("zz", true, true).bytes, (Bytes{'z', 'z', 0x0D}));
}

TEST(SerialTabTextsTest, ByteCountAndRows) {
  EXPECT_EQ(TransmitCountText("01 02", false, true), "3 bytes");
  EXPECT_EQ(TransmitCountText("A", true, false), "1 byte");
  EXPECT_EQ(TransmitCountText("01 zz 02", false, false), "zz is not a byte");
  const ViewRow rows[] = {{"0x0002", "41 42", "0x5A"}, {"", "43", ""}};
  EXPECT_EQ(CopiedRows(rows), "0x0002\t41 42\t0x5A\n\t43\t");
}

// Past its limit the view drops whole packets from the top; a selection
// stays on its packets, and ends when they all went.
TEST(ReceivedRowsModelTest, TrimmingDropsWholePacketsAndKeepsTheSelectionOnItsRows) {
  ReceivedRowsModel model(4);
  const std::vector<std::uint8_t> longData(30, 0xAB);  // two rows
  std::string longText;
  for (int i = 0; i < 30; ++i) longText += "AB ";
  model.Append(LayOutReceived(0x0001, 0x11, longData, true));
  model.Append(LayOutReceived(0x0002, 0x22, std::vector<std::uint8_t>{0x41}, true));
  model.Append(LayOutReceived(0x0003, 0x33, longData, true));
  ASSERT_EQ(model.Size(), 5u);
  model.Select(2, 3);  // 0x0002's row and 0x0003's first row
  EXPECT_EQ(model.TrimOldest(), 2u);
  ASSERT_EQ(model.Size(), 3u);
  EXPECT_EQ(model.Row(0).address, "0x0002");
  EXPECT_EQ(model.Row(2).address, "");
  EXPECT_EQ(model.SelectedText(), "0x0002\t41 \t0x22\n0x0003\t" + longText + "\t0x33");

  model.Append(LayOutReceived(0x0004, 0x44, longData, true));
  model.Append(LayOutReceived(0x0005, 0x55, std::vector<std::uint8_t>{}, true));
  EXPECT_EQ(model.TrimOldest(), 3u);  // never part of a packet
  EXPECT_EQ(model.Row(0).address, "0x0004");
  EXPECT_FALSE(model.HasSelection());
  EXPECT_EQ(model.SelectedText(), "");
}

// A trim that drops exactly the packets above a selection leaves the
// selection whole.
TEST(ReceivedRowsModelTest, TrimmingJustUpToASelectionKeepsIt) {
  ReceivedRowsModel model(3);
  const std::vector<std::uint8_t> longData(30, 0xAB);  // two rows
  model.Append(LayOutReceived(0x0001, 0x11, longData, true));
  model.Append(LayOutReceived(0x0002, 0x22, std::vector<std::uint8_t>{0x41}, true));
  model.Append(LayOutReceived(0x0003, 0x33, longData, true));
  model.Select(2, 2);  // 0x0002, right below the two rows that go
  ASSERT_EQ(model.TrimOldest(), 2u);
  EXPECT_TRUE(model.Selected(0));
  EXPECT_EQ(model.SelectedText(), "0x0002\t41 \t0x22");
}

// Copy gives whole packets, one line each, however their rows were cut
// and whichever of their rows the selection reached; rows cut anew keep
// the selection on its packets and the top packet findable.
TEST(ReceivedRowsModelTest, ASelectionCoversWholePackets) {
  ReceivedRowsModel model(100);
  std::vector<std::uint8_t> data(40);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0x10 + i);
  const ReceivedPacketText first = LayOutReceived(0x0003, 0x9B, data, true);
  model.Append(LayOutReceived(0x0001, 0x01, std::vector<std::uint8_t>{0x41}, true));
  model.Append(first);
  model.Append(LayOutReceived(0x0002, 0x02, std::vector<std::uint8_t>{'h', 'i'}, false));
  ASSERT_EQ(model.Size(), 4u);
  const std::string whole = "0x0003\t" + first.data + "\t0x9B";

  model.Select(1, 1);  // the long packet's first row only
  EXPECT_EQ(model.SelectedText(), whole);
  EXPECT_TRUE(model.Selected(2));
  EXPECT_FALSE(model.Selected(0));
  EXPECT_FALSE(model.Selected(3));
  model.Select(2, 2);  // its second row only
  EXPECT_EQ(model.SelectedText(), whole);
  model.Extend(3);
  EXPECT_EQ(model.SelectedText(), whole + "\n0x0002\thi\t0x02");

  ASSERT_TRUE(model.Wrap(200));
  EXPECT_FALSE(model.Wrap(200));
  ASSERT_EQ(model.Size(), 3u);
  EXPECT_EQ(model.FirstRowOf(model.PacketOf(2)), 2u);
  EXPECT_TRUE(model.Selected(1));
  EXPECT_FALSE(model.Selected(0));
  EXPECT_EQ(model.SelectedText(), whole + "\n0x0002\thi\t0x02");
  model.Wrap(20);
  ASSERT_EQ(model.Size(), 1u + 6u + 1u);  // 7 bytes a row
  EXPECT_EQ(model.FirstRowOf(model.PacketOf(7)), 7u);
  EXPECT_EQ(model.FirstRowOf(model.PacketOf(5)), 1u);
  EXPECT_EQ(model.SelectedText(), whole + "\n0x0002\thi\t0x02");
  model.SelectAll();
  EXPECT_EQ(model.SelectedText(), "0x0001\t41 \t0x01\n" + whole + "\n0x0002\thi\t0x02");
}

}  // namespace
}  // namespace qmx
