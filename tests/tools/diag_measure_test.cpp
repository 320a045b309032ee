// Link diagnostics without a window: the scan's cells, counters and log
// lines, the poll's rate, the waits between steps, the logging periods, the
// typed numbers and diagfile.dat.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "link/radio_link.h"
#include "link/workdir.h"
#include "tests/fixtures/sim_link.h"
#include "tests/fixtures/fake_clock.h"
#include "tests/fixtures/fake_prompter.h"
#include "tests/fixtures/temp_dir.h"
#include "tools/diag_log.h"
#include "tools/diag_measure.h"

namespace qmx::diag {
namespace {

using std::chrono::milliseconds;

// What the local radio answers per address: nothing (-1) or a TX Status and
// an LQI. Addresses not listed are acknowledged with LQI 0x50.
struct Answer {
  int result = 1;
  std::uint8_t status = 0;
  std::uint8_t lqi = 0x50;
};

struct FakeRadio {
  std::map<std::uint16_t, std::vector<Answer>> script;  // consumed in order, the last repeats
  std::vector<PacketRecord> sent;

  TestSender Sender() {
    return [this](PacketRecord& rec) {
      sent.push_back(rec);
      Answer a;
      if (auto it = script.find(rec.NetworkAddress); it != script.end() && !it->second.empty()) {
        a = it->second.front();
        if (it->second.size() > 1) it->second.erase(it->second.begin());
      }
      rec.TxStatus = a.status;
      rec.Lqi = a.lqi;
      return a.result < 0 ? Done::Fail(Status::NoReply) : Done{};
    };
  }
};

struct ScanFixture {
  FakeRadio radio;
  ScanTable table;
  ScanCounters counters{};
  std::vector<std::string> lines;
  Scan scan{table, counters, radio.Sender(), [this](const std::string& l) { lines.push_back(l); }};
  ScanFixture() {
    table.Fill();
    scan.Start();
  }
  void Sweep(int delay = 0, LogPeriod period = LogPeriod::TenSeconds) {
    for (int r = 0; r < kRows; ++r) scan.Step(0x10, delay, period);
  }
  const ScanRow& Row(int address) const { return table.rows[static_cast<std::size_t>(address - 1)]; }
};

TEST(DiagScan, NoReplyAndRefusedRowsShowDifferently) {
  ScanFixture f;
  f.table.UncheckAll();
  for (int a : {1, 2, 3}) f.table.rows[static_cast<std::size_t>(a - 1)].checked = true;
  // 1: acknowledged, then silent; 2: no acknowledgement, LQI 0; 3: acknowledged,
  // then TX Status 2 with an LQI.
  f.radio.script[1] = {{1, 0, 0x90}, {-1, 0, 0}};
  f.radio.script[2] = {{1, 1, 0}};
  f.radio.script[3] = {{1, 0, 0x70}, {1, 2, 0x33}};
  f.Sweep();
  f.Sweep();

  const ScanRow& silent = f.Row(1);
  EXPECT_EQ(silent.addr, "--");
  EXPECT_EQ(silent.lqi, "--");
  EXPECT_EQ(silent.rx, "50");
  EXPECT_EQ(silent.tx, "50");
  const ScanRow& refused = f.Row(2);
  EXPECT_EQ(refused.addr, "--");
  EXPECT_EQ(refused.lqi, "0");
  EXPECT_EQ(refused.rx, "0");
  EXPECT_EQ(refused.tx, "100");
  const ScanRow& notLinked = f.Row(3);
  EXPECT_EQ(notLinked.addr, "--");
  EXPECT_EQ(notLinked.lqi, "51");
  EXPECT_EQ(notLinked.rx, "50");
  EXPECT_EQ(notLinked.tx, "100");
  EXPECT_EQ(f.counters[2].attempts, 2u);
  EXPECT_EQ(f.counters[2].replies, 2u);
  EXPECT_EQ(f.counters[2].acknowledged, 1u);
  // Unsent rows keep their texts.
  EXPECT_EQ(f.Row(4).addr, "4");
  EXPECT_EQ(f.Row(4).rx, "");

  // Log lines of the first sweep only ("10 sec"): "--" and empty cells are 0.
  EXPECT_EQ(f.lines, (std::vector<std::string>{"Addr 1 RX Percent 100, TX Percent 100, LQI 144",
                                               "Addr 2 RX Percent 0, TX Percent 100, LQI 0",
                                               "Addr 3 RX Percent 100, TX Percent 100, LQI 112"}));
  EXPECT_EQ(f.table.LogLine(0), "Addr 1 RX Percent 50, TX Percent 50, LQI 0");
  EXPECT_EQ(f.table.LogLine(59), "Addr 60 RX Percent 0, TX Percent 0, LQI 0");
}

TEST(DiagScan, PercentagesAreIntegerShares) {
  ScanFixture f;
  f.table.UncheckAll();
  f.table.rows[6].checked = true;
  // 3 packets: acknowledged, no acknowledgement, no answer.
  f.radio.script[7] = {{1, 0, 1}, {1, 1, 0}, {-1, 0, 0}};
  for (int i = 0; i < 3; ++i) f.Sweep();
  EXPECT_EQ(f.Row(7).rx, "33");
  EXPECT_EQ(f.Row(7).tx, "66");
}

TEST(DiagScan, EveryRowCostsTheDelayAndTheSweepEndsWithAnotherDelayPlusTen) {
  ScanFixture f;
  f.table.UncheckAll();
  f.table.rows[1].checked = true;
  milliseconds total{0};
  int sent = 0;
  for (int r = 0; r < kRows; ++r) {
    const Scan::StepResult s = f.scan.Step(4, 25, LogPeriod::TenSeconds);
    EXPECT_EQ(s.row, r);
    EXPECT_EQ(s.sweepEnded, r == kRows - 1);
    sent += s.sent;
    total += s.wait;
  }
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(total, milliseconds(60 * 25 + 25 + 10));
  ASSERT_EQ(f.radio.sent.size(), 1u);
  EXPECT_EQ(f.radio.sent[0].NetworkAddress, 2);
  EXPECT_EQ(f.radio.sent[0].Length, 4);
  EXPECT_EQ(std::string(f.radio.sent[0].Data.begin(), f.radio.sent[0].Data.begin() + 5), std::string("....\0", 5));
  // Delay 0: rows follow at once, sweeps 10 ms apart.
  for (int r = 0; r < kRows - 1; ++r) EXPECT_EQ(f.scan.Step(4, 0, LogPeriod::TenSeconds).wait, milliseconds(0));
  EXPECT_EQ(f.scan.Step(4, 0, LogPeriod::TenSeconds).wait, milliseconds(10));
}

TEST(DiagScan, LoggingPeriodCountsSweeps) {
  struct Case {
    LogPeriod period;
    std::vector<int> loggedSweeps;  // of the first 15
  };
  for (const Case& c : {Case{LogPeriod::OneSecond, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
                        Case{LogPeriod::TenSeconds, {0, 7, 14}}, Case{LogPeriod::SixtySeconds, {0}}}) {
    ScanFixture f;
    f.table.UncheckAll();
    f.table.rows[0].checked = true;
    f.table.rows[59].checked = true;
    std::vector<int> logged;
    for (int sweep = 0; sweep < 15; ++sweep) {
      const std::size_t before = f.lines.size();
      f.Sweep(0, c.period);
      if (f.lines.size() > before) {
        EXPECT_EQ(f.lines.size() - before, 2u) << "every checked row of a logged sweep";
        logged.push_back(sweep);
      }
    }
    EXPECT_EQ(logged, c.loggedSweeps) << LogPeriodText(c.period);
  }
}

// Without a window the waits pass on a clock: every row, checked or not,
// costs the delay; ticks follow each other delay + 10 ms apart.
TEST(DiagWithoutTimer, WaitsPassOnTheClock) {
  test::FakeClock clock;
  ScanFixture f;
  f.table.UncheckAll();
  f.table.rows[0].checked = true;
  RunSweeps(f.scan, 2, 1, 5, LogPeriod::OneSecond, clock);
  // 1 ms to start; sweep 1: 60 rows of 5 ms, then 5 + 10 ms more; sweep 2:
  // 59 rows (the last wait is not waited).
  EXPECT_EQ(clock.Elapsed(), milliseconds(1 + 60 * 5 + 15 + 59 * 5));
  EXPECT_EQ(f.radio.sent.size(), 2u);
  EXPECT_EQ(f.lines.size(), 2u);

  test::FakeClock pollClock;
  FakeRadio radio;
  Poll poll(radio.Sender(), {});
  poll.Start();
  EXPECT_EQ(RunTicks(poll, 4, 1, 0, LogPeriod::TenSeconds, pollClock).successRate, 100);
  EXPECT_EQ(pollClock.Elapsed(), milliseconds(1 + 3 * 10));
  EXPECT_EQ(radio.sent.size(), 4u);
}

TEST(DiagPoll, RateLqiWaitAndLogging) {
  FakeRadio radio;
  radio.script[0] = {{1, 0, 0x5A}, {1, 1, 0x10}, {-1, 0, 0}, {1, 0, 0x20}};
  std::vector<std::string> lines;
  Poll poll(radio.Sender(), [&](const std::string& l) { lines.push_back(l); });
  poll.Start();
  Poll::TickResult t = poll.Tick(3, 0, LogPeriod::OneSecond);
  EXPECT_EQ(t.lqi, 0x5A);
  EXPECT_EQ(t.successRate, 100);
  EXPECT_EQ(t.wait, milliseconds(10));
  ASSERT_EQ(radio.sent.size(), 1u);
  EXPECT_EQ(radio.sent[0].NetworkAddress, 0);
  EXPECT_EQ(radio.sent[0].Length, 3);
  EXPECT_EQ(radio.sent[0].Data[0], 1);
  EXPECT_EQ(radio.sent[0].Data[2], 3);
  EXPECT_EQ(radio.sent[0].Data[3], 0);
  t = poll.Tick(3, 90, LogPeriod::OneSecond);  // no acknowledgement: LQI as answered
  EXPECT_EQ(t.lqi, 0x10);
  EXPECT_EQ(t.successRate, 50);
  EXPECT_EQ(t.wait, milliseconds(100));
  t = poll.Tick(3, 0, LogPeriod::OneSecond);  // no answer: LQI 0
  EXPECT_EQ(t.lqi, 0);
  EXPECT_EQ(t.successRate, 33);
  poll.RequestReset();
  t = poll.Tick(3, 0, LogPeriod::OneSecond);
  EXPECT_EQ(poll.Attempts(), 1u);
  EXPECT_EQ(t.successRate, 100);

  // "1 sec": ticks 0, 34, 68 … log.
  for (int tick = 4; tick < 69; ++tick) poll.Tick(1, 0, LogPeriod::OneSecond);
  EXPECT_EQ(lines, (std::vector<std::string>{"", "LQI 90,Packet Success Rate 100%",
                                             "LQI 32,Packet Success Rate 100%", "LQI 32,Packet Success Rate 100%"}));
}

TEST(DiagNumbers, TypedLengthAndDelay) {
  EXPECT_EQ(ReadPacketLength("0x10"), 16);
  EXPECT_EQ(ReadPacketLength("abc"), 1);  // not a number: one byte
  EXPECT_EQ(ReadPacketLength(""), 1);
  EXPECT_EQ(ReadPacketLength("96"), 96);
  EXPECT_EQ(ReadPacketLength("0"), 0);
  EXPECT_EQ(ReadPacketLength("97"), std::nullopt);
  EXPECT_EQ(ReadPacketLength("0x110"), std::nullopt);  // its low byte would fit: still refused
  EXPECT_EQ(ReadPacketLength("-1"), std::nullopt);
  EXPECT_EQ(ReadPollingDelay("0x00"), 0);
  EXPECT_EQ(ReadPollingDelay("250"), 250);
  EXPECT_EQ(ReadPollingDelay("ms"), 0);
  EXPECT_EQ(ReadPollingDelay("-5"), 0);
  EXPECT_EQ(ReadPollingDelay("0x7FFFFFFF"), kMaxDelayMs);
}

// The simulated network gives both something to measure: remotes 1 to N
// answer, the rest do not; a local remote reaches the base at 0x0000.
TEST(DiagOnSimulatedNetwork, ScanAndPoll) {
  test::SimLink sim(sim::SimOptions{.remoteLatency = milliseconds(0), .remotes = 5});
  ASSERT_TRUE(sim.Open());
  ASSERT_TRUE(sim.commands().EnterProtocolMode());
  ScanTable table;
  table.Fill();
  ScanCounters counters{};
  Scan scan(table, counters, CommandSender(sim.commands()), {});
  scan.Start();
  for (int r = 0; r < kRows; ++r) scan.Step(8, 0, LogPeriod::TenSeconds);
  for (int a = 1; a <= kRows; ++a) {
    const std::string want = a <= 5 ? "Addr " + std::to_string(a) + " RX Percent 100, TX Percent 100, LQI "
                                    : "Addr " + std::to_string(a) + " RX Percent 0, TX Percent 100, LQI 0";
    EXPECT_EQ(table.LogLine(a - 1).rfind(want, 0), 0u) << table.LogLine(a - 1);
  }

  // The local radio made a remote: the base answers, as lossy as it is set.
  sim.module->PokeRegisters(sim::kLocal, 0, 0, std::vector<std::uint8_t>{0});
  sim.module->SetRemoteLqi(0x0000, 0x40);
  Poll poll(CommandSender(sim.commands()), {});
  poll.Start();
  Poll::TickResult tick;
  for (int i = 0; i < 3; ++i) tick = poll.Tick(8, 0, LogPeriod::TenSeconds);
  EXPECT_EQ(tick.successRate, 100);
  EXPECT_NEAR(tick.lqi, 0x40, 4);
  sim.module->SetRemoteLoss(0x0000, 100);
  for (int i = 0; i < 3; ++i) tick = poll.Tick(8, 0, LogPeriod::TenSeconds);
  EXPECT_EQ(tick.successRate, 50);
  EXPECT_EQ(tick.lqi, 0);
}

// ---------------------------------------------------------------------------
// diagfile.dat

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct LogFixture {
  test::TempDir tmp;
  WorkDir dir{tmp.path()};
  test::FakePrompter prompter;
  DiagLog log{dir, prompter};
  LogFixture() {
    log.SetClock([] { return std::string("07/12/26  |  13:00:00"); });
  }
  std::string Text(const char* name = "diagfile.dat") const { return ReadFile(tmp.path() / name); }
};

constexpr const char* kHeader = "New Data------------------------------------------\r\n07/12/26  |  13:00:00\r\n";

TEST(DiagLogFile, HeaderOncePerRunAndNothingWhileOff) {
  LogFixture f;
  f.log.SetLogToFile(false);
  f.log.Write("note", true);
  EXPECT_FALSE(std::filesystem::exists(f.tmp.path() / "diagfile.dat"));

  f.log.SetLogToFile(true);
  f.log.Write("", true);
  f.log.Write("LQI 90,Packet Success Rate 100%", true);
  f.log.Write("partial", false);
  EXPECT_EQ(f.Text(), std::string(kHeader) + "\r\nLQI 90,Packet Success Rate 100%\r\npartial");

  // A new run (a new log) over the same file adds a header of its own.
  DiagLog next(f.dir, f.prompter);
  next.SetClock([] { return std::string("07/12/26  |  13:00:00"); });
  next.Write("x", true);
  EXPECT_EQ(f.Text(), std::string(kHeader) + "\r\nLQI 90,Packet Success Rate 100%\r\npartial" + kHeader + "x\r\n");
  EXPECT_EQ(f.prompter.Count(), 0u);
}

TEST(DiagLogFile, RotatesLikeTheDataLogAndReportsOpenFailures) {
  LogFixture f;
  {
    std::ofstream full(f.tmp.path() / "diagfile.dat", std::ios::binary);
    full << std::string(1000001, 'x');
    std::ofstream taken(f.tmp.path() / "diagfile0.bak");
  }
  f.log.Write("first", true);
  EXPECT_EQ(f.Text(), std::string(kHeader) + "first\r\n");
  EXPECT_EQ(std::filesystem::file_size(f.tmp.path() / "diagfile1.bak"), 1000001u);

  // A directory in the file's place cannot be opened: one message per write,
  // the line lost.
  std::filesystem::remove(f.tmp.path() / "diagfile.dat");
  std::filesystem::create_directory(f.tmp.path() / "diagfile.dat");
  f.log.Write("lost", true);
  f.log.Write("lost", true);
  EXPECT_EQ(f.prompter.All(), (std::vector<test::Shown>(2, {"Erroring opening diagfile.dat", "LogFile Error", false})));
}

}  // namespace
}  // namespace qmx::diag
