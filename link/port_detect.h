// What the port settings dialog decides, without the dialog: the entries of
// its port list, the port settings its selections stand for, and the order
// in which the automatic search tries ports, parities and baud rates.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/serial_port.h"

namespace qmx {

// The entry that stands for the built-in simulated module.
inline constexpr std::string_view kSimPortName = "SIM";

struct PortEntry {
  std::string text;     // "ttyUSB0-OK", "ttyS1-N/A", "SIM-OK"
  std::string path;     // what to open: "/dev/ttyUSB0", "sim"
  std::string tooltip;  // description and USB VID:PID, when known
  int number = 0;
  bool usb = false;     // a USB serial adapter
  bool IsSim() const { return path == "sim"; }
};

// The selectable values of the dialog's lists, in list order.
inline constexpr std::uint32_t kBaudRates[] = {1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200};
inline constexpr const char* kParityNames[] = {"NONE", "EVEN", "ODD"};
inline constexpr std::uint8_t kParityCodes[] = {parity::None, parity::Even, parity::Odd};
inline constexpr const char* kStopBitNames[] = {"1", "2"};
inline constexpr std::uint8_t kStopBitCodes[] = {stopbits::One, stopbits::Two};

// The port list: each port gets "-OK" when `probe` finds it free (the probe
// must not open it), else "-N/A", in the order of their numbers (a port goes before the first
// listed port whose number is greater or equal, so equal numbers end up in
// reverse order). The simulated module, when wanted, comes last.
std::vector<PortEntry> BuildPortList(const std::vector<PortInfo>& ports,
                                     const std::function<bool(const std::string& path)>& probe, bool withSim);

// The port name of an entry or of a typed path: the text before its "-OK" or
// "-N/A" suffix ("ttyUSB0-OK" -> "ttyUSB0"; "/dev/pts/3" stays).
std::string EntryPortName(std::string_view entry);
// What to open for an entry's port name: "sim" for the simulated module, a
// path as it is, "/dev/" + name otherwise.
std::string PortPath(std::string_view portName);
// The entry the dialog preselects when no selection was remembered: the
// simulated module when `preferSim`; else the first USB serial adapter (where
// a radio is usually attached); else, with no adapter, the simulated module,
// so that a first Connect and OK reaches a radio whatever serial ports the
// machine has built in; else the first entry.
int DefaultPortIndex(const std::vector<PortEntry>& entries, bool preferSim);

// The port a command-line tool takes when none is named.
struct ImpliedPort {
  std::string path;                   // empty: nothing decides
  std::vector<std::string> adapters;  // the USB serial adapters attached, sorted
};
// `environment` (the user's standing choice) when not empty, else the one
// USB serial adapter among `ports`; none with no adapter or several.
ImpliedPort ImplyPort(const std::string& environment, const std::vector<PortInfo>& ports);

// Line settings for the dialog's selections, by position in the lists above
// (byte size 8). A position outside its list gives 9600 baud, no parity or
// one stop bit.
LineSettings SettingsFromSelection(int baudIndex, int parityIndex, int stopBitsIndex);

// The automatic search. For each port entry in list order, with two stop
// bits, for parities NONE, EVEN, ODD, baud rates from 115200 down to 1200:
// one attempt each. The callbacks mirror each step in the dialog and do the
// attempt.
struct DetectSteps {
  // Shows the entry (or none, -1) being searched and the list selections.
  std::function<void(int entryIndex)> selectPort;
  std::function<void(int parityIndex, int baudIndex, int stopBitsIndex)> selectLine;
  // One attempt: open (or re-configure) and ask for protocol mode.
  // Returns whether the radio answered; sets `opened` to whether the port is
  // open afterwards.
  std::function<bool(const std::string& path, const LineSettings& line, bool open, bool& opened)> tryPort;
  std::function<bool()> cancelled;
  // Closes the port of the entry before the next one is opened.
  std::function<void()> stopPort;
  // Optional: whether the boot code answers on the port (`path`) whose
  // line search found no radio; the port may have been closed by a line it
  // could not take.
  std::function<bool(const std::string& path)> bootCode;
};

// True when the radio answered; the last selections then show its settings.
// Otherwise `bootCodeEntry`, when given, is the first entry whose port's
// boot code answered (asked once per port that opened, after its line
// search, until one did), or -1.
bool AutoDetectRadio(const std::vector<PortEntry>& entries, const DetectSteps& steps, int* bootCodeEntry = nullptr);

}  // namespace qmx
