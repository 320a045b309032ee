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
// Plain C++ on the injected clock, used from one thread at a time (the
// window's thread, or qmxctl's); the window's model reads the rows and the
// change list after each batch of events.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/clock.h"

namespace qmx {

struct Announcement;
class WorkDir;

namespace net {

enum class NodeState : std::uint8_t { Joined, Left, Heard };
// "joined", "left", "heard".
const char* NodeStateText(NodeState state);

// LQI samples are kept for this long, for the row's small line.
inline constexpr auto kLqiWindow = std::chrono::seconds(60);

struct LqiSample {
  Clock::time_point at;
  std::uint8_t lqi = 0;
};

struct Node {
  std::uint16_t address = 0;
  std::optional<std::string> mac;  // 16 upper-case hex digits, as announced
  NodeState state = NodeState::Heard;
  bool base = false;  // the local radio (always row 0 once set)
  Clock::time_point firstSeen{};
  Clock::time_point lastHeard{};
  std::uint64_t frames = 0;  // frames received from it
  std::optional<std::uint8_t> lastLqi;
  std::deque<LqiSample> lqi;  // samples of the last kLqiWindow, oldest first
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
  explicit NodeTable(const TimeSource& clock);

  // The local radio, first row. Calling again updates it.
  void SetBase(std::uint16_t address, std::optional<std::string> mac);
  // Feeds from the decoder's view events and the command layer's replies.
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

  // Drops LQI samples older than kLqiWindow (called when the view draws).
  void Trim();

 private:
  const TimeSource& clock_;
  std::vector<Node> rows_;
  Changes changes_;
};

// Names the user gives radios, by MAC, kept in one file of the work
// directory ("names.ini": one `MAC=name` line each).
class NameBook {
 public:
  explicit NameBook(const WorkDir& dir);
  // Reads the file; a missing file is an empty book. Lines that do not
  // parse are skipped.
  void Load();
  // Sets (empty name: removes) and writes the file at once, replacing it
  // whole so a crash never leaves half a file. False when it could not be
  // written (the book keeps the name for this run).
  bool Set(const std::string& mac, const std::string& name);
  std::optional<std::string> NameOf(const std::string& mac) const;
  // The name of the radio at `address` in `table`, when it has one.
  std::optional<std::string> NameAt(const NodeTable& table, std::uint16_t address) const;

 private:
  const WorkDir& dir_;
  std::map<std::string, std::string> names_;
};

// The table as CSV: a header line, then one line per row (address, MAC,
// name, state, first seen and last heard as seconds ago, frames, last LQI,
// mean LQI of the last minute). Fields with commas or quotes are quoted.
std::string NodesCsv(const NodeTable& table, const NameBook* names, Clock::time_point now);

}  // namespace net
}  // namespace qmx
