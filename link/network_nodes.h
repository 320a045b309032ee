// What the program knows of the radio network: one row per radio heard.
//
// Rows come passively from what the local radio reports (join
// announcements with MAC and address, "a node left", remote announcements,
// RX Data and RX Events with sender and LQI, replies to remote commands);
// nothing is sent for the table. A radio is known by its MAC address once
// one is heard: a remote that rejoins under a new address with the same MAC
// stays one row, its address updated. Until then a row is known by its
// address alone.
//
// Row 0 is the local radio from the start (its `known` false until SetBase
// or its own announcement gives its address), so that no row moves when it
// becomes known after others were heard. A remote that takes over an
// address held by another row leaves that row in place, marked Left and no
// longer found by the address: a row known by address alone is not merged
// into the MAC's row, since its frames may have come from an earlier
// holder of the address (but a join that names the MAC of no row yet gives
// that MAC to the row of its address).
//
// Plain C++ on the injected clock, used from one thread at a time (the
// window's thread, or qmxctl's); the window's model reads the rows and the
// change list after each batch of events. Lookups by address and MAC are
// hash lookups: RX Data at a thousand frames a second costs one each.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "link/clock.h"

namespace qmx {

struct Announcement;
class WorkDir;

namespace net {

// Joined: its join was announced (it stays so while heard). Left: its
// leaving was announced, or another radio took its address. Heard: heard
// without a join, or heard again after it left.
enum class NodeState : std::uint8_t { Joined, Left, Heard };
// "joined", "left", "heard".
const char* NodeStateText(NodeState state);

// LQI samples are kept for this long, for the row's small line.
inline constexpr auto kLqiWindow = std::chrono::seconds(60);

// A MAC address as the table keeps it: eight upper-case hex pairs, most
// significant first, separated by ':' (as the decoder and the status panel
// show it). Takes 16 hex digits in either case, with ':', '-' or blanks
// between pairs or none; nothing for anything else.
std::optional<std::string> NormalMac(std::string_view text);

// Samples heard within this time of a row's last one are folded into it,
// so that a radio that floods keeps a few hundred samples a minute, not
// one per frame.
inline constexpr auto kLqiStep = std::chrono::milliseconds(250);

struct LqiSample {
  LqiSample() = default;
  LqiSample(Clock::time_point when, std::uint8_t value) : at(when), lqi(value), sum(value) {}
  void Fold(std::uint8_t value) {
    sum += value;
    ++count;
    lqi = static_cast<std::uint8_t>((sum + count / 2) / count);
  }
  Clock::time_point at{};  // of the first value folded in
  std::uint8_t lqi = 0;    // the mean of the values folded in, rounded
  std::uint32_t count = 1;
  std::uint64_t sum = 0;
};

struct Node {
  std::uint16_t address = 0;
  std::optional<std::string> mac;  // as NormalMac() gives it
  NodeState state = NodeState::Heard;
  bool base = false;  // the local radio: row 0, and no other
  bool known = true;  // false for row 0 until the local radio's address is known
  Clock::time_point firstSeen{};
  Clock::time_point lastHeard{};
  std::uint64_t frames = 0;  // frames received from it
  std::optional<std::uint8_t> lastLqi;
  std::deque<LqiSample> lqi;  // samples of the last kLqiWindow, oldest first

  // The mean of the samples taken since `now` - kLqiWindow; nothing when
  // there are none.
  std::optional<double> MeanLqi(Clock::time_point now) const;
};

// What changed since the last TakeChanges(): rows added at the end, and rows
// whose values changed (indexes into Rows()). Rows are never removed or
// reordered, so a view can map them one to one.
struct Changes {
  std::size_t firstAdded = 0;  // == Rows().size() before the batch when none added
  std::size_t added = 0;
  std::vector<std::size_t> changed;  // sorted, unique, all < firstAdded
  bool Empty() const { return added == 0 && changed.empty(); }
};

class NodeTable {
 public:
  // Rows() holds row 0, the local radio, from the start; the first
  // TakeChanges() reports nothing for it.
  explicit NodeTable(const TimeSource& clock);

  // The local radio, row 0. Calling again updates it.
  void SetBase(std::uint16_t address, std::optional<std::string> mac);
  // Feeds from the decoder's view events and the command layer's replies.
  // 0xA2 (a remote joined, MAC and address) makes or updates the MAC's row,
  // Joined; 0xA5 (a node left) marks the address's row Left; 0xA1 (PAN
  // formed), 0xA3 (the local remote joined, its address) and 0xA4 (it left
  // its PAN) are the local radio's own news. Others change nothing.
  void Announced(const Announcement& announcement);
  void ReceivedData(std::uint16_t address, std::uint8_t lqi);
  void IoEvent(std::uint16_t address);
  // A reply to a command sent to a remote; `lqi` when the reply carries one.
  void RemoteReplied(std::uint16_t address, std::optional<std::uint8_t> lqi);
  // A scan's answer from `address`.
  void Answered(std::uint16_t address, std::optional<std::uint8_t> lqi);

  const std::vector<Node>& Rows() const { return rows_; }
  std::optional<std::size_t> RowOf(std::uint16_t address) const;
  std::optional<std::size_t> RowOfMac(const std::string& mac) const;
  Changes TakeChanges();

  // Drops LQI samples older than kLqiWindow (called when the view draws;
  // a row also drops its own old samples as new ones come). Rows whose
  // samples changed are reported changed.
  void Trim();

 private:
  // The row of `address`, made (Heard, first seen now) when there is none.
  std::size_t RowFor(std::uint16_t address);
  std::size_t Add(Node node);
  // `row` takes `address`; a row that held it before is marked Left and
  // no longer found by it.
  void TakeAddress(std::size_t row, std::uint16_t address);
  void Joined(const std::string& mac, std::uint16_t address);
  void Heard(std::size_t row, std::optional<std::uint8_t> lqi, bool frame);
  void Mark(std::size_t row);

  const TimeSource& clock_;
  std::vector<Node> rows_;
  std::unordered_map<std::uint16_t, std::size_t> byAddress_;
  std::unordered_map<std::string, std::size_t> byMac_;
  std::vector<bool> marked_;  // per row: already in changes_.changed
  Changes changes_;
};

// The file of names in the work directory.
inline constexpr const char* kNamesFile = "names.ini";

// Names by MAC from the text of a names file: one `MAC=name` line each (the
// first '=' ends the MAC, so a name may hold '='), MACs in any form
// NormalMac() takes; blanks around the MAC and the name and a line's CR are
// dropped. Blank lines, comments ('#' or ';'), section
// headers ('[...]'), lines without a MAC or name and lines with control
// bytes in the name are skipped; a MAC given twice keeps its last name.
std::map<std::string, std::string> ParseNames(std::string_view text);
// The text of a names file: a comment line, then a line a name, in MAC order.
std::string NamesText(const std::map<std::string, std::string>& names);

// Names the user gives radios, by MAC, kept in one file of the work
// directory ("names.ini": one `MAC=name` line each).
class NameBook {
 public:
  explicit NameBook(const WorkDir& dir);
  // Reads the file; a missing file, or one that is not a regular file or
  // is larger than any names file, is an empty book. Lines that do not
  // parse are skipped.
  void Load();
  // Sets (blanks at its ends dropped; empty name: removes) and writes the file at once, replacing it
  // whole so a crash never leaves half a file (link/file_to_write.h: a
  // link is written through, a device or pipe is refused). False when it
  // could not be written (the book keeps the name for this run), and for a
  // MAC that NormalMac() refuses or a name with a line break or another
  // control byte (nothing kept).
  bool Set(const std::string& mac, const std::string& name);
  std::optional<std::string> NameOf(const std::string& mac) const;
  // The name of the radio at `address` in `table`, when it has one.
  std::optional<std::string> NameAt(const NodeTable& table, std::uint16_t address) const;

 private:
  const WorkDir& dir_;
  std::map<std::string, std::string> names_;
};

// A mean LQI with one decimal ("151.5"), empty for none.
std::string MeanLqiText(const std::optional<double>& mean);

// Whole seconds from `at` to `now` (0 when `at` is later).
std::int64_t SecondsAgo(Clock::time_point at, Clock::time_point now);

// The table as CSV: a header line, then one line per known row (address, MAC,
// name, state, first seen and last heard as seconds ago, frames, last LQI,
// mean LQI of the last minute), each ending in "\r\n". Fields with commas,
// quotes or line breaks are quoted, quotes doubled; a value not known is
// an empty field.
inline constexpr const char* kNodesCsvHeader =
    "address,mac,name,state,first_seen_s_ago,last_heard_s_ago,frames,last_lqi,mean_lqi";
std::string NodesCsv(const NodeTable& table, const NameBook* names, Clock::time_point now);
// One CSV field, quoted when it must be.
std::string CsvField(std::string_view text);

}  // namespace net
}  // namespace qmx
