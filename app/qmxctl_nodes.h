// qmxctl nodes: the table of radios heard, as the Network tab shows it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "link/decoder.h"
#include "tools/node_scan.h"

namespace qmx {

class CommandLayer;
class TimeSource;
class WorkDir;

namespace net {
class NodeTable;
}

struct NodesRequest {
  double listenSeconds = 2;
  std::optional<net::AddressRange> scan;
};

namespace ctl {

// The view events the table is fed from, passed on to `next` at once and
// kept, in order, for the thread that owns the table (the decoder's thread
// calls the sink, the table is qmxctl's main thread's).
class NodeFeed : public ViewSink {
 public:
  explicit NodeFeed(ViewSink& next) : next_(next) {}

  void FrameReceived() override { next_.FrameReceived(); }
  void Announced(const Announcement& a) override;
  void EventText(const EventBlock& block) override { next_.EventText(block); }
  void ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) override;
  void IoEvent(std::uint16_t address, std::span<const std::uint8_t> data) override;
  void RemoteJoined(std::uint16_t address) override { next_.RemoteJoined(address); }

  // Hands what came so far to `table`.
  void Drain(net::NodeTable& table);
  // Blocks until something came or `time` reaches `deadline`; false at the
  // deadline.
  bool WaitUntil(TimeSource& time, std::chrono::steady_clock::time_point deadline);

 private:
  struct Event {
    enum Kind : std::uint8_t { Announce, Data, Io } kind;
    Announcement announcement;
    std::uint16_t address = 0;
    std::uint8_t lqi = 0;
  };
  void Keep(Event event);

  ViewSink& next_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Event> events_;
};

}  // namespace ctl

// Reads the local radio's address and MAC (row 0), listens for the time
// asked, scans the range asked, and prints the rows with their names from
// names.ini in `dir`: aligned text, or with `json` one object, {"nodes":
// [...]}. Exit status 0, or 1 when the local radio did not answer (its own
// address, or every packet of the scan).
int RunNodes(CommandLayer& commands, ctl::NodeFeed& feed, TimeSource& time, const WorkDir& dir,
             const NodesRequest& request, bool json);

}  // namespace qmx
