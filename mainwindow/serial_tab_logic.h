// The Serial tab's decisions without its widgets: the bytes a transmission
// sends, the rows a received packet adds to the view, and when the transmit
// timer fires next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qmx {

// The data bytes of one transmission, or the token that stops it.
struct TransmitBytes {
  std::vector<std::uint8_t> bytes;
  // The first hex token that is not one or two hex digits; empty when
  // every token is a byte.
  std::string notAByte;
  bool ok() const { return notAByte.empty(); }
};

// Hex bytes separated by spaces; leading and repeated spaces are skipped.
// Every token must be one or two hex digits: "1FF" or "zz" is not sent
// changed (FF, 00) but stops the whole text.
TransmitBytes ParseHexData(std::string_view text);

// The data bytes of one transmission: the text's characters one byte each
// (ascii), or its hex bytes; then 0x0D when appendCr.
TransmitBytes TransmitData(std::string_view text, bool ascii, bool appendCr);

// One received packet as the view keeps it: its address and link quality
// texts, and all its data as one text, which the view cuts into rows as
// wide as it has room for (mainwindow/received_rows.h).
struct ReceivedPacketText {
  std::string address;
  std::string lqi;
  std::string data;
  bool hex = true;  // laid out in Hex Mode: cut between bytes
};
ReceivedPacketText LayOutReceived(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data,
                                  bool hexMode);
// How often the view has grown (15 pixels each) beyond its first height
// when it holds `rows` rows: once for every row past the 19th.
std::size_t ViewGrowths(std::size_t rows);

// The characters "Data to Transmit" holds.
inline constexpr int kMaxTransmitChars = 80;
// What one transmission of the text sends, for the field's side: "14 bytes",
// "1 byte", or for hex text that ParseHexData refuses the token that stops
// it ("1FF is not a byte").
std::string TransmitCountText(std::string_view text, bool ascii, bool appendCr);

// One line of a copy of the received view: a packet's address, data and
// link quality texts.
struct ViewRow {
  std::string address, data, lqi;
};
// Lines as Copy gives them: the three texts joined by tabs, one a line.
std::string CopiedRows(std::span<const ViewRow> rows);

// The transmit timer's rules. Idle: nothing armed. SingleArmed: one send is
// armed and nothing follows it. Repeating: the button reads "Stop" and each
// successful send arms the next one. A repeating transmission that ended by
// itself (a failed send, invalid data) still reads "Stop" until the next
// press, which only turns it back.
class TransmitSchedule {
 public:
  enum class State { Idle, SingleArmed, Repeating };
  static constexpr int kSingleMs = 10;
  // A non-number interval while repeating.
  static constexpr int kRepeatDefaultSeconds = 1;

  // A press of the button (after protocol mode was entered). Returns the
  // interval to arm the timer with, or nullopt when the timer is left as it
  // is (a press on "Stop": an armed send still goes out once).
  std::optional<int> Press(std::string_view intervalText);
  // The timer fired: it is no longer armed.
  void Fired() { armed_ = false; }
  // A send went out. Returns the interval to arm next, or nullopt.
  std::optional<int> Sent(std::string_view intervalText);
  // Disconnecting: the button reads "Transmit", nothing more is sent.
  void Stop();
  // Pause (the terminal holds the port): nothing is armed, and a send under
  // way arms nothing; true when a send was armed or repeating. Resume()
  // returns the interval to arm the timer with, or nullopt: the next send of
  // a repeating transmission after its interval, a single send at once.
  bool Pause();
  std::optional<int> Resume(std::string_view intervalText);
  bool Paused() const { return paused_; }

  bool ShowsStop() const { return stop_; }
  bool Armed() const { return armed_; }
  State Current() const;

 private:
  bool stop_ = false;    // the button reads "Stop"
  bool repeat_ = false;  // a send re-arms the timer
  bool armed_ = false;
  bool paused_ = false;
  bool resume_ = false;  // a send is due when the pause ends
};

}  // namespace qmx
