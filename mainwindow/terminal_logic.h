// The terminal tab's decisions without its widgets: how received bytes are
// shown, what the repeated transmission sends, and what a change of the
// main window's tab does to the link.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qmx {

// The main window's tabs, in their order.
enum class MainTab { Serial = 0, PollIO = 1, Events = 2, Zavedo = 3, Network = 4 };

// Received bytes as the terminal shows them: two upper-case hex digits and a
// space each, or each byte as the character of that code (Latin-1).
std::string TerminalText(std::span<const std::uint8_t> bytes, bool hex);

// What the terminal's repeated transmission writes, every kRepeatMs.
inline constexpr std::string_view kTerminalTestText = "This is a test";
inline constexpr int kTerminalRepeatMs = 1000;

// A change of tab from `from` to `to`.
struct TabChange {
  // Leaving the Poll I/O tab while its status panel is collapsed.
  bool refused = false;
  // Leaving the terminal: the frame parser takes the ring back, protocol
  // mode is entered and the local radio read again.
  bool leaveTerminal = false;
  // Entering the terminal: protocol mode is left and the terminal reader
  // takes the ring.
  bool enterTerminal = false;
  // The panel's collapse box is shown (only on the Poll I/O tab).
  bool showCollapseBox = false;
};
TabChange PlanTabChange(MainTab from, MainTab to, bool pollPanelCollapsed);

// The periodic protocol work of the other tabs: the Poll I/O tab's automatic
// poll and the Serial tab's transmission. While the terminal holds the port
// the radio is out of protocol mode and passes every frame on over the air,
// so this work is paused on the way in and resumed once protocol mode is
// back.
struct PeriodicWork {
  bool poll = false;
  bool transmit = false;
  bool Any() const { return poll || transmit; }
};
// The status line for work that is paused, resumed or stopped: what, then
// the state ("Automatic refresh and repeated transmit resumed."); empty when
// there is no work.
std::string PeriodicWorkText(PeriodicWork work, std::string_view state);
inline constexpr std::string_view kPausedForTerminal = "paused while Zavedo is open.";
// The status line on leaving the terminal: the terminal's own repeated
// transmit, stopped there (raw text would reach a radio in protocol mode),
// then the paused work, resumed or stopped; empty when there is neither.
std::string LeftTerminalText(bool terminalRepeatStopped, PeriodicWork work, bool protocolMode);

}  // namespace qmx
