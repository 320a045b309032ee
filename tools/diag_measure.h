// Link diagnostics: test data packets sent again and again with TX Data and
// what comes back counted. Plain C++, shared by the diagnostics window and
// `qmxctl diag`.
//
// - The scan (local radio a base) sends to each checked network address
//   1 … 60 in turn and keeps per address the share of packets acknowledged
//   (Rx Percent), the share the local radio answered (Tx Percent) and the
//   last LQI.
// - The poll (local radio a remote) sends to the base, address 0x0000, and
//   keeps the packet success rate and the last LQI.
//
// Neither owns a timer: the caller runs one step, waits what the step
// returns (the window with a QTimer, qmxctl by sleeping), and runs the next.
// Results are logged every so many poll ticks or scan sweeps (the logging
// period), counted in steps, not in clock time.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "link/packet.h"
#include "link/result.h"

namespace qmx {

class CommandLayer;
class TimeSource;

namespace diag {

// Rows of the scan table: row r stands for network address r + 1.
inline constexpr int kRows = 60;
// A TX Data frame carries the two address bytes and at most 96 data bytes.
inline constexpr int kMaxTestBytes = static_cast<int>(kMaxPayload) - 2;

// Shown when "Packet Length" asks for more than a frame carries.
inline constexpr const char* kLengthRefused =
    "Packet Length must be a number from 0 to 96 (0x60).  A TX Data packet carries at most 96 data bytes.";
inline constexpr const char* kLengthRefusedCaption = "Packet Length Error";

// ---------------------------------------------------------------------------
// Logging period

enum class LogPeriod { OneSecond, TenSeconds, SixtySeconds, ThirtyMinutes, OneHour };
inline constexpr std::array<LogPeriod, 5> kLogPeriods{LogPeriod::OneSecond, LogPeriod::TenSeconds,
                                                      LogPeriod::SixtySeconds, LogPeriod::ThirtyMinutes,
                                                      LogPeriod::OneHour};
// "1 sec", "10 sec", "60 sec", "30 minutes", "1 hour".
const char* LogPeriodText(LogPeriod period);
// A poll logs when its tick count is 0, a scan when its sweep count is 0;
// after each tick or sweep the count goes back to 0 when it equals the
// period's limit, otherwise it grows by 1.
std::uint32_t PollTickLimit(LogPeriod period);
std::uint32_t ScanSweepLimit(LogPeriod period);
inline std::uint32_t NextLogCount(std::uint32_t count, std::uint32_t limit) { return count == limit ? 0 : count + 1; }

// ---------------------------------------------------------------------------
// Numbers typed into the window

// "Packet Length": a text that is not a number counts as 1. Nothing when
// the number is negative or more than a frame carries.
std::optional<std::uint8_t> ReadPacketLength(std::string_view text);
// "Polling Delay" in milliseconds: a text that is not a number counts as 0,
// and so does a negative number; at most kMaxDelayMs.
inline constexpr int kMaxDelayMs = 24 * 3600 * 1000;
int ReadPollingDelay(std::string_view text);

// ---------------------------------------------------------------------------
// Sending

// Sends one test packet; a failure when the local radio did not answer,
// otherwise the reply's TxStatus and Lqi are in the record.
using TestSender = std::function<Done(PacketRecord& rec)>;
// TX Data through the command layer: 1000 ms, no retries.
TestSender CommandSender(CommandLayer& commands);
// Takes one finished log line (poll or scan).
using LineWriter = std::function<void(const std::string& line)>;

// ---------------------------------------------------------------------------
// The scan

struct ScanCounter {
  std::uint32_t attempts = 0;      // test packets handed to TX Data
  std::uint32_t replies = 0;       // of those, answered by the local radio
  std::uint32_t acknowledged = 0;  // of those, with TxStatus 0
};
using ScanCounters = std::array<ScanCounter, kRows>;

// One row as the window shows it: the check box and the four cells.
struct ScanRow {
  bool checked = true;
  std::string addr;
  std::string rx;
  std::string tx;
  std::string lqi;
};

struct ScanTable {
  std::array<ScanRow, kRows> rows;
  // Every row checked, Addr its address in decimal, the other cells empty.
  void Fill();
  void UncheckAll();
  // "Addr 7 RX Percent 100, TX Percent 100, LQI 216": the row's address and
  // the numbers of its cells (an empty cell or "--" gives 0).
  std::string LogLine(int row) const;
};

class Scan {
 public:
  Scan(ScanTable& table, ScanCounters& counters, TestSender send, LineWriter log);

  // A new scan: the sweep count starts at 0 and the first step takes row 0.
  void Start();

  struct StepResult {
    int row = 0;             // the row this step took
    bool sent = false;       // it was checked and a packet went out
    bool sweepEnded = false;  // it was the last row
    std::chrono::milliseconds wait{0};  // before the next step
  };
  // Takes the next row: when checked, sends `length` "." bytes to its
  // address and updates its cells and counters, and logs it when the sweep
  // count is 0. Every row, checked or not, then waits the polling delay;
  // after the last row the sweep count advances and the next sweep follows
  // a further delay + 10 ms.
  StepResult Step(std::uint8_t length, int delayMs, LogPeriod period);

  int NextRow() const { return next_; }
  std::uint32_t SweepCount() const { return sweepCount_; }

 private:
  ScanTable& table_;
  ScanCounters& counters_;
  TestSender send_;
  LineWriter log_;
  int next_ = 0;
  std::uint32_t sweepCount_ = 0;
  std::uint64_t starts_ = 0;
};

// ---------------------------------------------------------------------------
// The poll

class Poll {
 public:
  Poll(TestSender send, LineWriter log);

  // "Start Polling": an empty line in the log, every count at 0.
  void Start();
  // "Reset": attempts and successes start again at the next tick.
  void RequestReset() { resetRequested_ = true; }

  struct TickResult {
    int lqi = 0;          // for the "Last LQI" gauge
    int successRate = 0;  // for the "Packet Success Rate" gauge
    bool logged = false;
    std::chrono::milliseconds wait{0};  // before the next tick: delay + 10 ms
  };
  // Sends bytes 1, 2, 3 … (`length` of them) to address 0x0000 and counts
  // the answer; logs "LQI %i,Packet Success Rate %i%" when the tick count is
  // 0.
  TickResult Tick(std::uint8_t length, int delayMs, LogPeriod period);

  std::uint32_t Attempts() const { return attempts_; }
  std::uint32_t Successes() const { return successes_; }
  std::uint32_t TickCount() const { return tickCount_; }
  // "LQI 90,Packet Success Rate 100%" with the values last shown.
  std::string LogLine() const;

 private:
  TestSender send_;
  LineWriter log_;
  std::uint32_t attempts_ = 0;
  std::uint32_t successes_ = 0;
  std::uint32_t tickCount_ = 0;
  bool resetRequested_ = false;
  int lqi_ = 0;
  int successRate_ = 0;
};

// The wait before the first tick or sweep after a start.
inline constexpr std::chrono::milliseconds kFirstWait{1};
// What a tick or sweep adds to the polling delay before the next.
inline constexpr std::chrono::milliseconds kTickGap{10};

// A caller without a timer of its own (qmxctl): runs a started scan for
// `sweeps` whole sweeps, or a started poll for `ticks` ticks, letting each
// step's wait pass on `time` as the window's timer would (the first wait
// too, not the last).
void RunSweeps(Scan& scan, int sweeps, std::uint8_t length, int delayMs, LogPeriod period, TimeSource& time);
Poll::TickResult RunTicks(Poll& poll, int ticks, std::uint8_t length, int delayMs, LogPeriod period,
                          TimeSource& time);

}  // namespace diag
}  // namespace qmx
