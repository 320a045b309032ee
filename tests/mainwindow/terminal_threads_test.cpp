// The terminal's threads: the receive ring handed between the frame parser
// and the terminal while bytes keep arriving, and the repeated test
// transmission on a clock moved by hand.
#include "mainwindow/terminal_threads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/ring.h"
#include "mainwindow/terminal_logic.h"
#include "tests/fixtures/sim_link.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;

std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// RX Data frames whose sender carries their number; 0xFB appears only as the
// start of a frame. Bytes arrive in pieces that split frames anywhere while
// the ring goes back and forth between the parser and the terminal. Each
// frame is decoded by the parser or shown (from its 0xFB on) by the
// terminal, never both and never neither.
TEST(RingHandOverTest, EveryFrameIsParsedOrShownOnceWhileTheConsumerChanges) {
  test::SimLink sim;  // port never opened: this test is the ring's producer
  RadioLink& link = *sim.link;
  std::mutex shownMutex;
  std::string shown;
  TerminalReaderThread terminal(link.ring, [&](std::string text) {
    std::lock_guard lock(shownMutex);
    shown += text;
  });
  terminal.SetHex(true);
  RingHandOver handOver(link.parser, terminal);
  link.parser.Start();

  constexpr int kFrames = 3000;
  std::atomic<bool> producerDone{false};
  std::thread producer([&] {
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < kFrames; ++i) {
      const auto lo = static_cast<std::uint8_t>(i % 200), hi = static_cast<std::uint8_t>(i / 200);
      stream.insert(stream.end(), {0xFB, 0x06, 0x00, 0x26, lo, hi, 0x10, 0x55});
    }
    std::size_t piece = 1;
    for (std::size_t at = 0; at < stream.size(); at += piece, piece = piece % 13 + 1) {
      const std::size_t n = std::min(piece, stream.size() - at);
      EXPECT_EQ(link.ring.Write({stream.data() + at, n}), n);
      std::this_thread::yield();  // let the swaps fall between pieces
    }
    producerDone.store(true);
  });
  // Back and forth for as long as bytes arrive.
  for (int swap = 0; !producerDone.load() || swap < 20; ++swap) {
    if (swap % 2 == 0)
      handOver.ToTerminal();
    else
      handOver.ToParser();
  }
  producer.join();
  // What no consumer took yet is still there: the parser's unfinished frame
  // and the ring's unread bytes.
  handOver.ToParser();
  link.parser.Stop();
  std::vector<std::uint8_t> rest = link.parser.TakeUnfinished();
  std::vector<std::uint8_t> unread(link.ring.Available());
  link.ring.Read(unread);
  rest.insert(rest.end(), unread.begin(), unread.end());

  std::set<std::string> decoded;
  std::size_t decodedCount = 0;
  for (const std::string& line : sim.sink.Lines()) {
    ASSERT_EQ(line.rfind("data: ", 0), 0u) << line;
    decoded.insert(line);
    ++decodedCount;
  }
  EXPECT_EQ(decoded.size(), decodedCount) << "a frame decoded twice";
  const std::size_t shownFrames = CountOf(shown, "FB ");
  const auto restFrames = static_cast<std::size_t>(std::count(rest.begin(), rest.end(), 0xFB));
  EXPECT_EQ(decodedCount + shownFrames + restFrames, static_cast<std::size_t>(kFrames))
      << decodedCount << " decoded, " << shownFrames << " shown, " << restFrames << " left";
  EXPECT_GT(shownFrames, 0u);
}

// Half a frame taken by the parser when the terminal takes over: the
// terminal shows it before what arrives next. The hand-over waits until the
// parser has emptied the ring, so the half frame is the parser's, not the
// ring's, whatever the threads' timing.
TEST(RingHandOverTest, HalfAFrameTheParserHeldIsShownFirstByTheTerminal) {
  test::SimLink sim;  // port never opened: this test is the ring's producer
  RadioLink& link = *sim.link;
  std::mutex shownMutex;
  std::condition_variable shownChanged;
  std::string shown;
  TerminalReaderThread terminal(link.ring, [&](std::string text) {
    std::lock_guard lock(shownMutex);
    shown += text;
    shownChanged.notify_all();
  });
  terminal.SetHex(true);
  RingHandOver handOver(link.parser, terminal);
  link.parser.Start();

  const std::vector<std::uint8_t> half{0xFB, 0x06, 0x00, 0x26}, next{0x41, 0x42};
  ASSERT_EQ(link.ring.Write(half), half.size());
  while (link.ring.Available() > 0) std::this_thread::yield();
  handOver.ToTerminal();
  ASSERT_EQ(link.ring.Write(next), next.size());
  const std::string expected = TerminalText(half, true) + TerminalText(next, true);
  {
    std::unique_lock lock(shownMutex);
    shownChanged.wait_for(lock, 10s, [&] { return shown.size() >= expected.size(); });
    EXPECT_EQ(shown, expected);
  }
  handOver.ToParser();
  EXPECT_TRUE(sim.sink.Lines().empty());
}

// Records each write and lets the test wait for the n-th.
struct WriteLog {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> writes;
  bool ok = true;
  bool Write(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex);
    writes.emplace_back(bytes.begin(), bytes.end());
    cv.notify_all();
    return ok;
  }
  void WaitFor(std::size_t n) {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return writes.size() >= n; });
  }
  std::size_t Count() {
    std::lock_guard lock(mutex);
    return writes.size();
  }
};

TEST(TerminalTransmitTest, WritesAtOnceThenEverySecondUntilStopped) {
  test::FakeClock clock;
  WriteLog log;
  int asked = 0;
  TerminalTransmitThread transmit([&](auto bytes) { return log.Write(bytes); }, [&] { return ++asked, true; },
                                  clock);
  transmit.Start();
  EXPECT_TRUE(transmit.On());
  log.WaitFor(1);
  clock.Advance(999ms);
  clock.Advance(1ms);
  log.WaitFor(2);
  transmit.Stop();
  EXPECT_FALSE(transmit.On());
  transmit.Join();
  clock.Advance(5s);
  EXPECT_EQ(log.Count(), 2u);
  EXPECT_EQ(log.writes[0], "This is a test");
  EXPECT_EQ(asked, 0);
}

TEST(TerminalTransmitTest, AFailedWriteTheUserCancelsEndsTheRepetition) {
  test::FakeClock clock;
  WriteLog log;
  log.ok = false;
  TerminalTransmitThread transmit([&](auto bytes) { return log.Write(bytes); }, [] { return false; }, clock);
  transmit.Start();
  log.WaitFor(1);
  transmit.Join();  // ends by itself
  EXPECT_FALSE(transmit.On());
  EXPECT_EQ(log.Count(), 1u);
}

}  // namespace
}  // namespace qmx
