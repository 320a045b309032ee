// The Network tab's decisions without its widgets: what each cell of a
// radio's row says, which Poll I/O slot a radio goes into, the Identify
// blink, the short link measurement to one address, and the scan of an
// address range for radios that answer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "link/clock.h"
#include "link/network_nodes.h"
#include "link/result.h"
#include "mainwindow/poll_io_logic.h"
#include "tools/diag_measure.h"
#include "tools/node_scan.h"

namespace qmx {

class CommandLayer;

// The columns of the table, in their order.
enum class NetColumn : int { Address, Name, Mac, State, FirstSeen, LastHeard, Frames, LastLqi, LqiLine, Count };
inline constexpr int kNetColumns = static_cast<int>(NetColumn::Count);
const char* NetColumnTitle(NetColumn column);

// How long ago, coarse enough to stay readable: "5 s", "3 min 07 s",
// "2 h 05 min", "3 d 04 h". A time in the future counts as 0 s.
std::string AgeText(Clock::duration age);

// The text of one cell (the LQI line draws itself: its text is the mean of
// the samples, for copying and for screen readers). `name`: the name the
// user gave the radio, if any.
std::string NodeCellText(const net::Node& node, NetColumn column, const std::optional<std::string>& name,
                         Clock::time_point now);
// The row as Copy gives it: every cell's text, tab-separated.
std::string NodeRowText(const net::Node& node, const std::optional<std::string>& name, Clock::time_point now);

// An address as lists show it beside its name: "0x0012  Kitchen"; the
// address alone without a name.
std::string AddressWithName(std::uint16_t address, const std::optional<std::string>& name);

// The Poll I/O slot (1 … 4) a radio at `address` goes into: a slot that
// holds that address already, else the first whose address text is empty;
// nothing when every slot holds another radio.
std::optional<int> PollSlotFor(const std::array<std::string, kRemoteRadios>& addressTexts, std::uint16_t address);
inline constexpr const char* kNoFreePollSlot =
    "All four Poll I/O radios are in use.  Clear the network address of one of them first.";
inline constexpr const char* kNoFreePollSlotCaption = "Poll";

// Identify: output line kIdentifyLine of the remote radio is read, then set
// to the other level and back `blinks` times (`pause` lets kIdentifyBlinkMs
// pass after each write), the last write being its first value. A failed
// write still tries that last one, so the line is left as it was found
// whenever the radio answers. Nothing is written when the read fails.
inline constexpr int kIdentifyLine = 0;
inline constexpr int kIdentifyBlinks = 3;
inline constexpr int kIdentifyBlinkMs = 300;
// One output line of one radio: its value read, a value written.
struct OutputLine {
  std::function<Result<std::uint8_t>()> read;
  std::function<Done(std::uint8_t value)> write;
};
// Line kIdentifyLine of the remote radio at `address`, through Get and Set
// Remote Register of its bank 5.
OutputLine RemoteOutputLine(CommandLayer& commands, std::uint16_t address);
Done IdentifyRadio(const OutputLine& line, const std::function<void(int ms)>& pause, int blinks = kIdentifyBlinks);
inline constexpr const char* kIdentifyFailed = "The radio did not answer.  Its output could not be blinked.";
inline constexpr const char* kIdentifyCaption = "Identify";

// A short measurement of the link to one address: `packets` test packets
// of kMeasureBytes each, through the diagnostics' sender.
inline constexpr int kMeasurePackets = 10;
inline constexpr std::uint8_t kMeasureBytes = 16;
struct LinkMeasurement {
  int sent = 0;
  int answered = 0;      // the local radio replied
  int acknowledged = 0;  // and the remote acknowledged
  std::optional<int> meanLqi;  // of the acknowledged packets
};
LinkMeasurement MeasureLink(const diag::TestSender& send, std::uint16_t address, int packets = kMeasurePackets);
// "Link to 0x0012: 9 of 10 test packets acknowledged, mean LQI 187."
std::string MeasurementText(std::uint16_t address, const LinkMeasurement& m);
inline constexpr const char* kMeasureCaption = "Diagnostics";

// Find radios: the range typed as two network addresses, first not after
// last, each one a radio may have (0xFFFF, the broadcast address, every
// radio acknowledges). The scan itself is net::NodeScan.
std::optional<net::AddressRange> ReadScanRange(std::string_view first, std::string_view last);
inline constexpr const char* kBadScanRange =
    "Enter the first and last network address of the range, such as 0x0001 and 0x0040.";
inline constexpr const char* kScanCaption = "Find Radios";
// "Found 3 radios in 0x0001 to 0x0040." or "…, cancelled after 12 of 64."
std::string ScanSummaryText(const net::ScanSummary& summary, net::AddressRange range);

}  // namespace qmx
