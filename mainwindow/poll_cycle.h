// The Poll I/O tab's requests to its remote radios without the widgets: a
// radio's banks read into its image slot, a register of its bank 5 written,
// and the automatic poll's cycle over all four (write the output lines,
// read the banks, show what came, re-arm). The tab supplies what its
// controls hold and shows what the hooks report.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "config/register_map.h"
#include "link/command_layer.h"
#include "mainwindow/poll_io_logic.h"

namespace qmx {

class CommandLayer;

class RemoteRequests {
 public:
  // Radio number n is 1 … 4 in all of these; every hook is optional.
  struct Hooks {
    // A reply's signal strength (its LQI).
    std::function<void(int n, std::uint8_t lqi)> replyStrength;
    // A request to the radio ended: its success rate may have changed.
    std::function<void(int n)> successRate;
    // A request begins; it ends (each begin has one end).
    std::function<void()> begins;
    std::function<void()> ends;
  };

  RemoteRequests(CommandLayer& commands, RadioImage& image, Hooks hooks)
      : commands_(commands), image_(image), hooks_(std::move(hooks)) {}

  // The banks of `mask` of radio n, at `address`, into its slot; the banks
  // read.
  BankMask Read(int n, std::uint16_t address, BankMask mask);
  // One write to radio n's bank 5 at `address`; true when it was answered.
  bool Write(int n, std::uint16_t address, const RemoteWrite& write);
  // Transmissions and good replies of radio n's register reads so far.
  const RemoteLinkStats& Stats(int n) const { return stats_.at(static_cast<std::size_t>(n - 1)); }

 private:
  class Mark;
  CommandLayer& commands_;
  RadioImage& image_;
  Hooks hooks_;
  std::array<RemoteLinkStats, kRemoteRadios> stats_{};
};

// What a cycle asks of the tab, each time at the moment it needs it (the
// user may change the controls while a request waits), and what it tells.
// The tab answers from what it read of its controls when they were edited.
struct PollCycleHooks {
  // Radio n has an address and its "Poll Radio" is ticked.
  std::function<bool(int n)> polled;
  // Radio n's network address.
  std::function<std::uint16_t(int n)> address;
  // The value of radio n's output line `line` (0 … 5), or nothing when the
  // line is an input.
  std::function<std::optional<std::int32_t>(int n, int line)> outputValue;
  // Radio n's turn begins ("Polling radio n....").
  std::function<void(int n)> polling;
  // Radio n's banks 0, 5 and 6 arrived.
  std::function<void(int n)> read;
};

// What a poll cycle ended with: whether it went through (it was not
// stopped or paused on the way), and the interval to re-arm the timer
// with, if polling goes on.
struct PollCycleEnd {
  bool complete = false;
  std::optional<int> rearmMs;
};

// The timer fired: when `schedule` lets a cycle begin, each polled radio in
// turn gets its output lines written and its banks 0, 5 and 6 read, until
// the schedule abandons the cycle. Nothing when no cycle began (the one in
// progress re-arms).
std::optional<PollCycleEnd> RunPollCycle(PollSchedule& schedule, RemoteRequests& requests,
                                         const PollCycleHooks& hooks);

}  // namespace qmx
