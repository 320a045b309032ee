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
  const ReceivedRows rows = LayOutReceived(0x0002, 0xC4, data, true);
  EXPECT_EQ(rows.address, "0x0002");
  EXPECT_EQ(rows.lqi, "0xC4");
  ASSERT_EQ(rows.data.size(), 2u);
  EXPECT_EQ(rows.data[0].size(), 75u);
  EXPECT_EQ(rows.data[1].size(), 45u);
  EXPECT_EQ(rows.data[0].substr(0, 9), "00 01 02 ");
  EXPECT_EQ(rows.data[1].substr(0, 3), "19 ");  // byte 25 starts the second line
}

TEST(ReceivedRowsTest, TextModeKeepsOnlyBytes32To127) {
  const std::vector<std::uint8_t> data = {0x1F, 'A', 0x80, 0x7F, ' ', 0x00, 'B', 0xFF};
  EXPECT_EQ(LayOutReceived(1, 0, data, false).data, std::vector<std::string>{"A\x7F B"});
}

TEST(ReceivedRowsTest, TheViewGrowsForEachLineAddedPastEighteen) {
  ReceivedRows two;
  two.data = {"a", "b"};
  EXPECT_EQ(two.Growths(0), 0u);
  EXPECT_EQ(two.Growths(17), 0u);
  EXPECT_EQ(two.Growths(18), 1u);  // the second line goes to a column of 19
  EXPECT_EQ(two.Growths(19), 2u);
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
// stays on its rows, and ends when they all went.
TEST(ReceivedRowsModelTest, TrimmingDropsWholePacketsAndKeepsTheSelectionOnItsRows) {
  ReceivedRowsModel model(4);
  const std::vector<std::uint8_t> longData(30, 0xAB);  // two rows
  model.Append(LayOutReceived(0x0001, 0x11, longData, true));
  model.Append(LayOutReceived(0x0002, 0x22, std::vector<std::uint8_t>{0x41}, true));
  model.Append(LayOutReceived(0x0003, 0x33, longData, true));
  ASSERT_EQ(model.Size(), 5u);
  model.Select(2, 3);  // 0x0002's row and 0x0003's first row
  EXPECT_EQ(model.TrimOldest(), 2u);
  ASSERT_EQ(model.Size(), 3u);
  EXPECT_EQ(model.Row(0).address, "0x0002");
  EXPECT_EQ(model.Row(2).address, "");
  EXPECT_EQ(model.SelectedText(), "0x0002\t41 \t0x22\n0x0003\t" + model.Row(1).data + "\t0x33");

  model.Append(LayOutReceived(0x0004, 0x44, longData, true));
  model.Append(LayOutReceived(0x0005, 0x55, std::vector<std::uint8_t>{}, true));
  EXPECT_EQ(model.TrimOldest(), 3u);  // never part of a packet
  EXPECT_EQ(model.Row(0).address, "0x0004");
  EXPECT_FALSE(model.HasSelection());
  EXPECT_EQ(model.SelectedText(), "");
}

}  // namespace
}  // namespace qmx
