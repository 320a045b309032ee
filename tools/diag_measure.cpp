#include "tools/diag_measure.h"

#include <cstdio>
#include <utility>

#include "link/clock.h"
#include "link/command_layer.h"
#include "link/number_text.h"

namespace qmx::diag {

namespace {

struct PeriodInfo {
  const char* text;
  std::uint32_t pollTicks;
  std::uint32_t scanSweeps;
};

constexpr std::array<PeriodInfo, 5> kPeriodInfo{{
    {"1 sec", 33, 0},
    {"10 sec", 333, 6},
    {"60 sec", 2000, 33},
    {"30 minutes", 60000, 1000},
    {"1 hour", 120000, 2000},
}};

const PeriodInfo& Info(LogPeriod period) { return kPeriodInfo.at(static_cast<std::size_t>(period)); }

// A percentage cell or log number: part × 100 / whole, integer division.
std::uint32_t Percent(std::uint32_t part, std::uint32_t whole) {
  return static_cast<std::uint32_t>(std::uint64_t{part} * 100 / whole);
}

// The number a cell shows; 0 for an empty cell or "--".
int CellNumber(const std::string& cell) {
  std::int32_t v = 0;
  return TryTextToInt(cell, v) ? v : 0;
}

}  // namespace

const char* LogPeriodText(LogPeriod period) { return Info(period).text; }
std::uint32_t PollTickLimit(LogPeriod period) { return Info(period).pollTicks; }
std::uint32_t ScanSweepLimit(LogPeriod period) { return Info(period).scanSweeps; }

std::optional<std::uint8_t> ReadPacketLength(std::string_view text) {
  std::int32_t v = 0;
  if (!TryTextToInt(text, v)) return std::uint8_t{1};
  if (v < 0 || v > kMaxTestBytes) return std::nullopt;
  return static_cast<std::uint8_t>(v);
}

int ReadPollingDelay(std::string_view text) {
  std::int32_t v = 0;
  if (!TryTextToInt(text, v) || v < 0) return 0;
  return v > kMaxDelayMs ? kMaxDelayMs : v;
}

// Each test packet is sent once: a packet without a reply counts as lost.
TestSender CommandSender(CommandLayer& commands) {
  return [&commands](PacketRecord& rec) { return commands.TxData(rec, {kUsualReplyWait.timeoutMs, 0}); };
}

// ---------------------------------------------------------------------------
// Scan

void ScanTable::Fill() {
  for (int r = 0; r < kRows; ++r) rows[static_cast<std::size_t>(r)] = ScanRow{true, std::to_string(r + 1), {}, {}, {}};
}

void ScanTable::UncheckAll() {
  for (ScanRow& row : rows) row.checked = false;
}

std::string ScanTable::LogLine(int row) const {
  const ScanRow& cells = rows.at(static_cast<std::size_t>(row));
  char line[96];
  std::snprintf(line, sizeof line, "Addr %i RX Percent %i, TX Percent %i, LQI %i", row + 1, CellNumber(cells.rx),
                CellNumber(cells.tx), CellNumber(cells.lqi));
  return line;
}

Scan::Scan(ScanTable& table, ScanCounters& counters, TestSender send, LineWriter log)
    : table_(table), counters_(counters), send_(std::move(send)), log_(std::move(log)) {}

void Scan::Start() {
  next_ = 0;
  sweepCount_ = 0;
  ++starts_;
}

Scan::StepResult Scan::Step(std::uint8_t length, int delayMs, LogPeriod period) {
  StepResult result;
  const int r = next_;
  result.row = r;
  const auto index = static_cast<std::size_t>(r);
  ScanRow& row = table_.rows[index];
  if (row.checked) {
    result.sent = true;
    PacketRecord rec;
    rec.NetworkAddress = static_cast<std::uint16_t>(r + 1);
    rec.Length = length;
    for (std::size_t i = 0; i < length && i < rec.Data.size(); ++i) rec.Data[i] = '.';
    const std::uint64_t start = starts_;
    const Done sent = send_(rec);
    // The window goes on while the packet waits for its answer: counters
    // reset meanwhile count this packet afresh; a scan started anew
    // meanwhile begins at its first row.
    if (start != starts_) {
      result.wait = kFirstWait;
      return result;
    }
    ScanCounter& count = counters_[index];
    ++count.attempts;
    if (!sent) {
      row.addr = "--";
      row.lqi = "--";
    } else {
      ++count.replies;
      if (rec.TxStatus == txstatus::Acknowledged) {
        row.addr = std::to_string(r + 1);
        ++count.acknowledged;
      } else {
        row.addr = "--";
      }
      row.lqi = std::to_string(rec.Lqi);
    }
    if (count.attempts != 0) {
      row.rx = std::to_string(Percent(count.acknowledged, count.attempts));
      row.tx = std::to_string(Percent(count.replies, count.attempts));
    }
    if (sweepCount_ == 0 && log_) log_(table_.LogLine(r));
  }
  const std::chrono::milliseconds delay(delayMs);
  result.wait = delay;
  next_ = r + 1;
  if (next_ == kRows) {
    next_ = 0;
    result.sweepEnded = true;
    sweepCount_ = NextLogCount(sweepCount_, ScanSweepLimit(period));
    result.wait = delay + delay + kTickGap;
  }
  return result;
}

// ---------------------------------------------------------------------------
// Poll

Poll::Poll(TestSender send, LineWriter log) : send_(std::move(send)), log_(std::move(log)) {}

void Poll::Start() {
  if (log_) log_("");
  attempts_ = 0;
  successes_ = 0;
  tickCount_ = 0;
  resetRequested_ = false;
}

std::string Poll::LogLine() const {
  char line[64];
  std::snprintf(line, sizeof line, "LQI %i,Packet Success Rate %i%%", lqi_, successRate_);
  return line;
}

Poll::TickResult Poll::Tick(std::uint8_t length, int delayMs, LogPeriod period) {
  PacketRecord rec;
  rec.NetworkAddress = 0x0000;
  rec.Length = length;
  for (std::size_t i = 0; i < length && i < rec.Data.size(); ++i) rec.Data[i] = static_cast<std::uint8_t>(i + 1);
  if (resetRequested_) {
    resetRequested_ = false;
    attempts_ = 0;
    successes_ = 0;
  }
  const Done sent = send_(rec);
  // Counted once answered, so that a start or reset while the packet waits
  // leaves attempts and successes matched.
  ++attempts_;
  if (sent) {
    if (rec.TxStatus == txstatus::Acknowledged) ++successes_;
    lqi_ = rec.Lqi;
  } else {
    lqi_ = 0;
  }
  if (attempts_ != 0) successRate_ = static_cast<int>(Percent(successes_, attempts_));
  TickResult result;
  if (tickCount_ == 0) {
    if (log_) log_(LogLine());
    result.logged = true;
  }
  tickCount_ = NextLogCount(tickCount_, PollTickLimit(period));
  result.lqi = lqi_;
  result.successRate = successRate_;
  result.wait = std::chrono::milliseconds(delayMs) + kTickGap;
  return result;
}

// ---------------------------------------------------------------------------
// Without a timer

void RunSweeps(Scan& scan, int sweeps, std::uint8_t length, int delayMs, LogPeriod period, TimeSource& time) {
  if (sweeps < 1) return;
  time.Sleep(kFirstWait);
  for (int done = 0;;) {
    const Scan::StepResult step = scan.Step(length, delayMs, period);
    if (step.sweepEnded && ++done == sweeps) return;
    time.Sleep(step.wait);
  }
}

Poll::TickResult RunTicks(Poll& poll, int ticks, std::uint8_t length, int delayMs, LogPeriod period,
                          TimeSource& time) {
  Poll::TickResult tick;
  if (ticks < 1) return tick;
  time.Sleep(kFirstWait);
  for (int n = 1;; ++n) {
    tick = poll.Tick(length, delayMs, period);
    if (n == ticks) return tick;
    time.Sleep(tick.wait);
  }
}

}  // namespace qmx::diag
