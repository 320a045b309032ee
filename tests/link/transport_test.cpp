// The serial transport: through a real pty for what the tty and the reading
// thread do together, and with a scripted port for the outcomes a pty cannot
// produce.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "link/event.h"
#include "link/failure_text.h"
#include "link/options.h"
#include "link/radio_link.h"
#include "link/ring.h"
#include "link/serial_port.h"
#include "link/transport.h"
#include "tests/fixtures/fake_prompter.h"
#include "tests/fixtures/pty_pair.h"
#include "tests/fixtures/sim_link.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;
using test::FakePrompter;
using test::PtyPair;
using test::Shown;

const Shown kOpenFailed{"Could not open selected CommPort.  Please close all programs and try again.",
                        "Invalid Comm Port"};
const Shown kGetFailed{"Could not setup comm port.  Please try again.", "Get DCB Error"};
const Shown kSetFailed{"Could not setup comm port.  Please try again.", "Set DCB Error"};
const Shown kWriteFailed{"Could not write data to comm port please check cable and radio power.",
                         "Comm Port Write Problem"};

// Waits up to 3 s for something another thread does.
template <class Pred>
bool Eventually(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Takes `count` bytes out of the ring as they arrive (2 s without a byte
// ends it early).
std::vector<std::uint8_t> Consume(ReceiveRing& ring, std::size_t count) {
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> buf(8192);
  while (out.size() < count) {
    pollfd p{ring.dataEvent().fd(), POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) break;
    const std::size_t n = ring.Read(buf);
    out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(n));
  }
  return out;
}

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = 12345;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}

struct PtyLink {
  LinkOptions options;
  FakePrompter prompter;
  ReceiveRing ring;
  SerialTransport transport{[](const std::string&) { return MakePosixSerialPort(); }, options, ring};
  PtyLink() {
    transport.SetSettleTime(0ms);
    ConnectFaultBoxes(transport, options, prompter);
  }
};

const LineSettings k9600{9600, 8, parity::None, stopbits::One, false};

TEST(TransportOnPty, OpenIsExclusiveAndAFailedOpenSaysSo) {
  PtyPair pty;
  PtyLink a, b;
  a.transport.SetSettleTime(100ms);  // the real line settling time
  ASSERT_TRUE(a.transport.OpenCommPort(k9600, pty.SlavePath(), true));
  EXPECT_TRUE(a.transport.IsOpen());
  EXPECT_EQ(a.transport.PortName(), pty.SlavePath());
  EXPECT_EQ(a.prompter.Count(), 0u);

  EXPECT_FALSE(ShowPortFailure(b.prompter, b.transport.OpenCommPort(k9600, pty.SlavePath(), true)));
  EXPECT_FALSE(ShowPortFailure(b.prompter, b.transport.OpenCommPort(k9600, "/dev/qmx-no-such-port", true)));
  EXPECT_EQ(b.prompter.All(), (std::vector<Shown>{kOpenFailed, kOpenFailed}));
  // The box says why below the message.
  EXPECT_EQ(b.prompter.Details(), (std::vector<std::string>{"Busy: " + pty.SlavePath() + " is in use by another program",
                                                            "Not present: /dev/qmx-no-such-port does not exist; is "
                                                            "the device plugged in?"}));
  EXPECT_FALSE(b.transport.IsOpen());
  EXPECT_FALSE(b.transport.WritePort(std::vector<std::uint8_t>{1, 2}));

  a.transport.StopComm();
  EXPECT_TRUE(b.transport.OpenCommPort(k9600, pty.SlavePath(), true));
}

// A pseudo-terminal has no modem lines: opening it never waits for a line
// to settle (a wait belongs after DTR or RTS went up, and only once).
TEST(TransportOnPty, OpeningAPseudoTerminalWaitsForNothing) {
  PtyPair pty;
  PtyLink l;
  l.transport.SetSettleTime(100ms);
  std::vector<std::chrono::milliseconds> waits;
  l.transport.SetSleeper([&waits](std::chrono::milliseconds d) { waits.push_back(d); });
  ASSERT_TRUE(l.transport.OpenCommPort(k9600, pty.SlavePath(), true));
  ASSERT_TRUE(l.transport.OpenCommPort(k9600, pty.SlavePath(), false));
  EXPECT_TRUE(waits.empty()) << waits.size() << " waits";
}

TEST(TransportOnPty, TheReasonAPortDidNotOpenIsLogged) {
  test::SimLink l;
  l.link->options.logData = true;
  EXPECT_FALSE(l.link->transport.OpenCommPort(k9600, "/dev/qmx-no-such-port", true));
  EXPECT_NE(l.LogText().find("Port Open Failed : Not present: no port named /dev/qmx-no-such-port\r\n"),
            std::string::npos)
      << l.LogText();
}

TEST(TransportOnPty, BytesTravelUnchangedBothWays) {
  PtyPair pty;
  PtyLink l;
  ASSERT_TRUE(l.transport.OpenCommPort(k9600, pty.SlavePath(), true));
  std::vector<std::uint8_t> bytes = {0x00, 0xFF, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0x7F};
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  const auto more = Pattern(5000);
  bytes.insert(bytes.end(), more.begin(), more.end());

  ASSERT_EQ(pty.WriteMaster(bytes), bytes.size());
  EXPECT_EQ(Consume(l.ring, bytes.size()), bytes);

  EXPECT_TRUE(l.transport.WritePort(bytes));
  EXPECT_EQ(pty.ReadMaster(bytes.size()), bytes);
  EXPECT_TRUE(l.transport.WriteByte(0x13));
  EXPECT_EQ(pty.ReadMaster(1), std::vector<std::uint8_t>{0x13});
  EXPECT_EQ(l.prompter.Count(), 0u);
}

TEST(TransportOnPty, BurstLargerThanTheRingWaitsInsteadOfOverwriting) {
  PtyPair pty;
  PtyLink l;
  ASSERT_TRUE(l.transport.OpenCommPort(k9600, pty.SlavePath(), true));
  const auto burst = Pattern(3 * ReceiveRing::kSize + 1234);
  std::size_t written = 0;
  std::thread device([&] { written = pty.WriteMaster(burst, 10s); });

  // Nobody consumes: the ring fills up and stays full.
  ASSERT_TRUE(Eventually([&] { return l.ring.FreeSpace() == 0; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(l.ring.Available(), ReceiveRing::kSize);

  const auto got = Consume(l.ring, burst.size());
  device.join();
  EXPECT_EQ(written, burst.size());
  ASSERT_EQ(got.size(), burst.size());
  EXPECT_TRUE(got == burst) << "bytes lost or reordered";
  EXPECT_TRUE(l.transport.IsOpen());
}

TEST(TransportOnPty, UnplugEndsTheThreadAndIsReportedOnce) {
  PtyPair pty;
  PtyLink l;
  std::atomic<int> lost{0};
  std::mutex m;
  std::vector<bool> states;
  l.transport.SetStateListener([&](bool open) {
    std::lock_guard lock(m);
    states.push_back(open);
  });
  // The listener runs on the reading thread; stopping from there must not
  // deadlock.
  l.transport.SetPortLostListener([&] {
    ++lost;
    l.transport.StopComm();
  });
  ASSERT_TRUE(l.transport.OpenCommPort(k9600, pty.SlavePath(), true));
  pty.CloseMaster();

  ASSERT_TRUE(Eventually([&] { return !l.transport.CommThreadRunning(); }));
  EXPECT_EQ(lost.load(), 1);
  EXPECT_FALSE(l.transport.IsOpen());
  EXPECT_FALSE(l.transport.WritePort(std::vector<std::uint8_t>{0xFB, 0x02, 0x01, 0x10}));
  EXPECT_FALSE(ShowPortFailure(l.prompter, l.transport.GetPortSettings()));
  EXPECT_EQ(l.prompter.All(), std::vector<Shown>{kGetFailed});

  l.transport.StopComm();
  l.transport.StopComm();
  EXPECT_EQ(lost.load(), 1);
  std::lock_guard lock(m);
  EXPECT_EQ(states, (std::vector<bool>{true, false}));
}

TEST(TransportOnPty, StopCommIsImmediateAndReleasesThePort) {
  PtyPair pty;
  PtyLink l;
  std::atomic<int> closes{0};
  std::atomic<int> lost{0};
  l.transport.SetStateListener([&](bool open) { closes += open ? 0 : 1; });
  l.transport.SetPortLostListener([&] { ++lost; });
  l.transport.StopComm();  // nothing open: nothing happens
  ASSERT_TRUE(l.transport.OpenCommPort(k9600, pty.SlavePath(), true));
  std::this_thread::sleep_for(10ms);  // let the thread settle into its wait

  const auto start = std::chrono::steady_clock::now();
  l.transport.StopComm();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_FALSE(l.transport.IsOpen());
  EXPECT_FALSE(l.transport.CommThreadRunning());
  EXPECT_TRUE(ProbePort(pty.SlavePath()));
  l.transport.StopComm();
  EXPECT_EQ(closes.load(), 1);
  EXPECT_EQ(lost.load(), 0);

  // And the port opens again.
  ASSERT_TRUE(l.transport.OpenCommPort(k9600, pty.SlavePath(), true));
  ASSERT_EQ(pty.WriteMaster(std::vector<std::uint8_t>{7, 8, 9}), 3u);
  EXPECT_EQ(Consume(l.ring, 3), (std::vector<std::uint8_t>{7, 8, 9}));
}

TEST(TransportOnPty, ReconfiguringTheOpenPortChangesItsLine) {
  PtyPair pty;
  PtyLink l;
  ASSERT_TRUE(l.transport.OpenCommPort(k9600, pty.SlavePath(), true));
  Result<LineSettings> got = l.transport.GetPortSettings();
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, k9600);

  l.options.obeyCts = true;
  const LineSettings cases[] = {
      {115200, 8, parity::Even, stopbits::Two, true},
      {14400, 8, parity::Odd, stopbits::One, true},
      {28800, 8, parity::None, stopbits::Two, true},
  };
  for (const auto& want : cases) {
    ASSERT_TRUE(l.transport.OpenCommPort(want, "ignored", false));
    got = l.transport.GetPortSettings();
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, want) << want.baudRate;
  }
  EXPECT_EQ(l.transport.PortName(), pty.SlavePath());
  // The thread kept reading throughout.
  ASSERT_EQ(pty.WriteMaster(std::vector<std::uint8_t>{0xFB}), 1u);
  EXPECT_EQ(Consume(l.ring, 1), std::vector<std::uint8_t>{0xFB});
  EXPECT_EQ(l.prompter.Count(), 0u);
}

// A port whose every answer the test chooses.
struct Script {
  std::mutex m;
  bool openOk = true, getOk = true, applyOk = true;
  LineSettings line{1200, 7, parity::Odd, stopbits::Two, true};
  std::vector<std::string> calls;
  Status writeStatus = Status::Ok;
  std::chrono::milliseconds writeTimeout{0};
  std::atomic<unsigned> pendingErrors{0};
  std::atomic<int> takes{0};
  std::atomic<bool> closed{false};
  Event wake;
};

class ScriptedPort : public SerialPort {
 public:
  explicit ScriptedPort(std::shared_ptr<Script> s) : s_(std::move(s)) {}
  Done Open(const std::string&) override {
    std::lock_guard lock(s_->m);
    open_ = s_->openOk;
    return s_->openOk ? Done{} : Done::Fail(Operation::OpenPort, Status::CannotOpen, "refused");
  }
  bool IsOpen() const override { return open_; }
  Result<LineSettings> GetSettings() override {
    std::lock_guard lock(s_->m);
    if (!s_->getOk) return Result<LineSettings>::Fail(Operation::LineSettings, Status::LineNotRead);
    return s_->line;
  }
  Done ApplySettings(const LineSettings& in) override {
    std::lock_guard lock(s_->m);
    s_->calls.push_back("apply");
    if (!s_->applyOk) return Done::Fail(Operation::LineSettings, Status::LineNotApplied);
    s_->line = in;
    return {};
  }
  Done SetDtr(bool on) override { return Call(on ? "dtr on" : "dtr off"); }
  Done SetRts(bool on) override { return Call(on ? "rts on" : "rts off"); }
  Done Write(std::span<const std::uint8_t>, std::chrono::milliseconds timeout) override {
    std::lock_guard lock(s_->m);
    s_->writeTimeout = timeout;
    if (s_->writeStatus == Status::Ok) return {};
    return Done::Fail(Operation::Write, s_->writeStatus);
  }
  WaitResult WaitReadable(const Event& stop) override {
    pollfd p[2] = {{stop.fd(), POLLIN, 0}, {s_->wake.fd(), POLLIN, 0}};
    ::poll(p, 2, -1);
    if (p[0].revents) return WaitResult::Stopped;
    s_->wake.reset();
    return WaitResult::Readable;
  }
  Result<std::size_t> Read(std::span<std::uint8_t>) override { return 0; }
  Result<unsigned> TakeLineErrors() override {
    const unsigned flags = s_->pendingErrors.exchange(0);
    ++s_->takes;
    return flags;
  }
  void Close() override {
    open_ = false;
    s_->closed = true;
  }

 private:
  Done Call(const char* what) {
    std::lock_guard lock(s_->m);
    s_->calls.push_back(what);
    return {};
  }
  std::shared_ptr<Script> s_;
  std::atomic<bool> open_{false};
};

struct ScriptedLink {
  std::shared_ptr<Script> script = std::make_shared<Script>();
  std::atomic<int> made{0};
  LinkOptions options;
  FakePrompter prompter;
  ReceiveRing ring;
  SerialTransport transport{[this](const std::string&) {
                              ++made;
                              return std::make_unique<ScriptedPort>(script);
                            },
                            options, ring};
  ScriptedLink() {
    transport.SetSettleTime(0ms);
    ConnectFaultBoxes(transport, options, prompter);
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(script->m);
    return script->calls;
  }
};

TEST(TransportScripted, OpenSetsTheCallersLineWithCtsFromTheOptionThenRaisesDtrAndRts) {
  for (const bool obeyCts : {false, true}) {
    ScriptedLink l;
    l.options.obeyCts = obeyCts;
    std::vector<bool> states;
    l.transport.SetStateListener([&](bool open) { states.push_back(open); });
    ASSERT_TRUE(l.transport.OpenCommPort({115200, 7, parity::Even, stopbits::Two, !obeyCts}, "COM7", true));
    EXPECT_EQ(l.script->line, (LineSettings{115200, 7, parity::Even, stopbits::Two, obeyCts}));
    EXPECT_EQ(l.Calls(), (std::vector<std::string>{"apply", "dtr on", "rts on"}));
    EXPECT_TRUE(l.transport.IsOpen());
    EXPECT_EQ(l.prompter.Count(), 0u);
    l.transport.StopComm();
    EXPECT_TRUE(l.script->closed);
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
  }
}

TEST(TransportScripted, EachOpenFailureShowsItsMessageAndStopsThePort) {
  struct Case {
    const char* what;
    bool openOk, getOk, applyOk;
    Status result;
    Shown shown;
  };
  const Case cases[] = {
      {"open", false, true, true, Status::CannotOpen, kOpenFailed},
      {"get", true, false, true, Status::LineNotRead, kGetFailed},
      {"apply", true, true, false, Status::LineNotApplied, kSetFailed},
  };
  for (const auto& c : cases) {
    ScriptedLink l;
    l.script->openOk = c.openOk;
    l.script->getOk = c.getOk;
    l.script->applyOk = c.applyOk;
    const Done opened = l.transport.OpenCommPort(k9600, "COM3", true);
    ShowPortFailure(l.prompter, opened);
    EXPECT_EQ(opened.status(), c.result) << c.what;
    EXPECT_EQ(l.prompter.All(), std::vector<Shown>{c.shown}) << c.what;
    if (c.openOk) {
      // The comm stop was signalled: the thread closes the port by itself.
      EXPECT_TRUE(Eventually([&] { return l.script->closed.load() && !l.transport.IsOpen(); })) << c.what;
    }
    EXPECT_FALSE(l.transport.WritePort(std::vector<std::uint8_t>{1})) << c.what;
  }
}

TEST(TransportScripted, ReconfigureUsesTheOpenPortAndFailsWithoutOne) {
  ScriptedLink l;
  const Done reconfigured = l.transport.OpenCommPort(k9600, "", false);
  ShowPortFailure(l.prompter, reconfigured);
  EXPECT_EQ(reconfigured.status(), Status::LineNotRead);
  EXPECT_FALSE(ShowPortFailure(l.prompter, l.transport.GetPortSettings()));
  EXPECT_EQ(l.prompter.All(), (std::vector<Shown>{kGetFailed, kGetFailed}));
  EXPECT_EQ(l.made.load(), 0);

  l.prompter.Clear();
  ASSERT_TRUE(l.transport.OpenCommPort(k9600, "COM1", true));
  ASSERT_TRUE(l.transport.OpenCommPort({57600, 8, parity::Odd, stopbits::One, false}, "COM2", false));
  EXPECT_EQ(l.made.load(), 1);
  EXPECT_EQ(l.transport.PortName(), "COM1");
  const Result<LineSettings> got = l.transport.GetPortSettings();
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (LineSettings{57600, 8, parity::Odd, stopbits::One, false}));
  EXPECT_EQ(l.prompter.Count(), 0u);
}

TEST(TransportScripted, WriteOutcomes) {
  const struct {
    Status port;
    bool ok;
    std::vector<Shown> shown;
  } cases[] = {
      {Status::Ok, true, {}},
      {Status::WriteFailed, false, {kWriteFailed}},
      {Status::TimedOut, false, {}},
      {Status::PortClosed, false, {}},
  };
  for (const auto& c : cases) {
    ScriptedLink l;
    ASSERT_TRUE(l.transport.OpenCommPort(k9600, "COM1", true));
    l.script->writeStatus = c.port;
    EXPECT_EQ(l.transport.WritePort(std::vector<std::uint8_t>{0xFB, 0x02, 0x05, 0x10}).ok(), c.ok);
    EXPECT_EQ(l.prompter.All(), c.shown);
    EXPECT_EQ(l.script->writeTimeout, 2000ms);
  }
}

TEST(TransportScripted, LineErrorsAreAlwaysClearedAndShownOnlyWhenAsked) {
  for (const bool show : {false, true}) {
    ScriptedLink l;
    l.options.showCommErrors = show;
    ASSERT_TRUE(l.transport.OpenCommPort(k9600, "COM1", true));
    l.script->pendingErrors = lineerror::Parity | lineerror::Framing | lineerror::Overrun;
    l.script->wake.set();
    ASSERT_TRUE(Eventually([&] { return l.script->takes.load() >= 1; }));
    EXPECT_EQ(l.script->pendingErrors.load(), 0u);
    // A second, clean wake-up: whatever the first one showed is shown by now.
    const int before = l.script->takes.load();
    l.script->wake.set();
    ASSERT_TRUE(Eventually([&] { return l.script->takes.load() > before; }));
    if (show) {
      EXPECT_EQ(l.prompter.All(), (std::vector<Shown>{{"The hardware detected a framing error.", "Framing Error"}}));
    } else {
      EXPECT_EQ(l.prompter.Count(), 0u);
    }
  }
}

TEST(LineErrors, FirstFlagInReportOrderWins) {
  const struct {
    unsigned flags;
    const char* message;
    const char* caption;
  } cases[] = {
      {lineerror::IoError, "An I/O error occurred during communications with the device.", "I/O Error"},
      {lineerror::ModeNotSupported, "The requested mode is not supported.", "Mode Error"},
      {lineerror::Break, "The hardware detected a break condition.", "Break Error"},
      {lineerror::Framing, "The hardware detected a framing error.", "Framing Error"},
      {lineerror::InputOverflow, "An input buffer overflow has occurred.", "Input Buffer Error"},
      {lineerror::OutputFull, "The application tried to transmit a character, but the output buffer was full.",
       "Output Buffer Error"},
      {lineerror::Overrun, "A character-buffer overrun has occurred.", "Overrun Error"},
      {lineerror::Parity, "The hardware detected a parity error.", "Rx Parity Error"},
      {lineerror::Parity | lineerror::Break, "The hardware detected a break condition.", "Break Error"},
      {lineerror::Overrun | lineerror::InputOverflow | lineerror::OutputFull, "An input buffer overflow has occurred.",
       "Input Buffer Error"},
      {0xFFu, "An I/O error occurred during communications with the device.", "I/O Error"},
      {lineerror::Parity | 0x100u, "The hardware detected a parity error.", "Rx Parity Error"},
  };
  for (const auto& c : cases) {
    const LineErrorText t = FirstLineError(c.flags);
    ASSERT_NE(t.message, nullptr) << c.flags;
    EXPECT_STREQ(t.message, c.message) << c.flags;
    EXPECT_STREQ(t.caption, c.caption) << c.flags;
  }
  EXPECT_EQ(FirstLineError(0).message, nullptr);
  EXPECT_EQ(FirstLineError(0x100u).caption, nullptr);
}

// A consumer driven by the reading thread: takes each block as it is put
// into the ring, and notes when a given byte came.
class GulpCounter : public RingConsumer {
 public:
  GulpCounter(ReceiveRing& ring, std::uint8_t marker) : ring_(ring), marker_(marker) {}
  void ReaderStarted() override {}
  void ReaderEnded() override {}
  void BytesWritten() override {
    std::uint8_t buf[4096];
    std::lock_guard lock(mutex_);
    ++gulps_;
    while (const std::size_t n = ring_.Read(buf)) {
      bytes_.insert(bytes_.end(), buf, buf + n);
      if (std::find(buf, buf + n, marker_) != buf + n) markerAt_ = std::chrono::steady_clock::now();
    }
  }
  std::size_t Gulps() const {
    std::lock_guard lock(mutex_);
    return gulps_;
  }
  std::vector<std::uint8_t> Bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
  }
  std::optional<std::chrono::steady_clock::time_point> TakeMarkerTime() {
    std::lock_guard lock(mutex_);
    return std::exchange(markerAt_, std::nullopt);
  }

 private:
  ReceiveRing& ring_;
  const std::uint8_t marker_;
  mutable std::mutex mutex_;
  std::size_t gulps_ = 0;
  std::vector<std::uint8_t> bytes_;
  std::optional<std::chrono::steady_clock::time_point> markerAt_;
};

constexpr std::uint8_t kMarker = 0xEE;

// Writes a block of 8 bytes (never kMarker) every `period` until stopped;
// all it wrote, in order, once joined.
struct Flood {
  Flood(PtyPair& pty, std::chrono::milliseconds period)
      : thread([this, &pty, period] {
          for (std::uint8_t i = 0; !stop; ++i) {
            const std::vector<std::uint8_t> block(8, static_cast<std::uint8_t>(i % 0x80));
            pty.WriteMaster(block);
            sent.insert(sent.end(), block.begin(), block.end());
            std::this_thread::sleep_for(period);
          }
        }) {}
  ~Flood() {
    if (thread.joinable()) Join();
  }
  std::vector<std::uint8_t> Join() {
    stop = true;
    thread.join();
    return sent;
  }
  std::atomic<bool> stop{false};
  std::vector<std::uint8_t> sent;
  std::thread thread;
};

// The transport with a GulpCounter as its ring's consumer; the reading
// thread ends before the counter goes.
struct GatherLink : PtyLink {
  GatherLink() { transport.SetRingConsumer(&counter); }
  ~GatherLink() { transport.StopComm(); }
  bool Open(const PtyPair& pty, std::chrono::milliseconds gather, std::chrono::milliseconds quietAfterWrite) {
    transport.SetGatherTimes(gather, quietAfterWrite);
    return transport.OpenCommPort(k9600, pty.SlavePath(), true).ok();
  }
  GulpCounter counter{ring, kMarker};
};

TEST(TransportGathering, AFloodIsTakenInGulpsWholeAndInOrderAndStopsAtOnce) {
  PtyPair pty;
  GatherLink l;
  ASSERT_TRUE(l.Open(pty, 20ms, 1000ms));
  Flood flood(pty, 1ms);
  std::this_thread::sleep_for(400ms);
  const std::vector<std::uint8_t> sent = flood.Join();
  ASSERT_TRUE(Eventually([&] { return l.counter.Bytes().size() >= sent.size(); }));
  EXPECT_TRUE(l.counter.Bytes() == sent) << "bytes lost or reordered";
  // One block a millisecond, taken every 20 ms or so.
  EXPECT_LT(l.counter.Gulps(), sent.size() / 8 / 3) << sent.size() / 8 << " blocks";

  // A stop does not wait for a pause to end.
  l.transport.SetGatherTimes(2000ms, 1000ms);
  Flood more(pty, 1ms);
  std::this_thread::sleep_for(50ms);
  const auto start = std::chrono::steady_clock::now();
  l.transport.StopComm();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  more.Join();
}

TEST(TransportGathering, AnAnswerToAWriteAndBytesAfterSilenceAreTakenAtOnce) {
  PtyPair pty;
  GatherLink l;
  // Pauses far longer than any wait below.
  ASSERT_TRUE(l.Open(pty, 400ms, 150ms));
  const auto markerDelay = [&] {
    const auto sent = std::chrono::steady_clock::now();
    pty.WriteMaster(std::vector<std::uint8_t>{kMarker});
    std::optional<std::chrono::steady_clock::time_point> at;
    Eventually([&] { return (at = l.counter.TakeMarkerTime()).has_value(); });
    return at ? *at - sent : std::chrono::steady_clock::duration::max();
  };

  // After silence, two lone bytes, the second soon after the first.
  std::this_thread::sleep_for(500ms);
  pty.WriteMaster(std::vector<std::uint8_t>{1});
  std::this_thread::sleep_for(30ms);
  EXPECT_LT(markerDelay(), 150ms);

  // During a flood, what a write asks for. Three times: a pause under way
  // could end just in time once.
  std::this_thread::sleep_for(500ms);
  Flood flood(pty, 2ms);
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(250ms);  // past the quiet after the last write
    ASSERT_TRUE(l.transport.WriteByte(0x55));
    EXPECT_LT(markerDelay(), 150ms) << "answer " << i;
  }
  flood.Join();
}

}  // namespace
}  // namespace qmx
