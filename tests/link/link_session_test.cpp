#include "link/link_session.h"

#include <gtest/gtest.h>

#include <optional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <functional>
#include <vector>

#include "link/frame.h"
#include "link/packet.h"
#include "link/reply_wait.h"
#include "tests/fixtures/sim_link.h"
#include "tests/fixtures/test_ports.h"
#include "tests/fixtures/watchdog.h"

namespace qmx {
namespace {

using namespace std::chrono_literals;

const std::vector<std::uint8_t> kLeave{'E', '\r'};

// A simulated radio behind a port that taps every byte written, tagged with
// the phase the test is in.
struct SessionFixture : ::testing::Test {
  SessionFixture() {
    sim::SimOptions options;
    options.time = &clock;
    module = std::make_shared<sim::SimModule>(options);
    link = std::make_unique<RadioLink>(
        [this](const std::string& name) -> std::unique_ptr<SerialPort> {
          auto inner = sim::MakeSimPortFactory(module)(name);
          if (!inner) return nullptr;
          return std::make_unique<test::PassPort>(std::move(inner), name, [this](std::span<const std::uint8_t> b) {
            std::lock_guard lock(wireMutex);
            wire.push_back({phase, {b.begin(), b.end()}});
            if (loseFrames == 0 || b.empty() || b.front() != kStartOfPacket) return false;
            --loseFrames;
            if (onLost) onLost();
            return true;
          });
        },
        dir, prompter, waiter, sink);
    link->transport.SetSettleTime(0ms);
    link->parser.Start();
    session().SetClock(clock);
  }
  ~SessionFixture() override { link.reset(); }

  LinkSession& session() { return link->session; }
  PortChoice Sim() const { return {"sim", test::FactoryLine(), "SIM"}; }
  // Writes are checked against `p` from now on; nothing: a change of state
  // is under way, whose own writes the other tests check.
  void Phase(std::optional<LinkState> p) {
    std::lock_guard lock(wireMutex);
    phase = p;
  }
  // What was written while the test was in `p`.
  std::vector<std::vector<std::uint8_t>> WrittenIn(LinkState p) {
    std::lock_guard lock(wireMutex);
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& [at, bytes] : wire)
      if (at == p) out.push_back(bytes);
    return out;
  }
  // Unplugged, and the loss heard by the link.
  void Unplug() {
    std::promise<void> heard;
    link->SetPortLostListener([&heard] { heard.set_value(); });
    module->Unplug();
    heard.get_future().wait();
    link->SetPortLostListener({});
  }
  void RadioInBootCode() {
    module->SetFault(sim::Fault::NoFirmware);
    module->PowerCycle();
    clock.Advance(1s);  // past the start-up
    module->WaitUntilIdle();
    ASSERT_TRUE(module->InBootCode());
  }

  test::FakeClock clock;
  test::TempDir temp;
  WorkDir dir{temp.path()};
  test::FakePrompter prompter;
  CondVarWaiter waiter{clock};
  test::RecordingSink sink;
  std::shared_ptr<sim::SimModule> module;
  std::unique_ptr<RadioLink> link;
  std::mutex wireMutex;
  std::optional<LinkState> phase = LinkState::Closed;
  std::vector<std::pair<std::optional<LinkState>, std::vector<std::uint8_t>>> wire;
  // The next frames written that never reach the radio, and what happens
  // on the line as each is lost.
  int loseFrames = 0;
  std::function<void()> onLost;
};

bool IsFrame(const std::vector<std::uint8_t>& bytes) { return !bytes.empty() && bytes.front() == kStartOfPacket; }

// Both periodic writers registered, the session walks through every change
// of state. At each stop both try to write, as their timers would whether
// or not they obeyed a pause: only the one whose state it is reaches the
// wire, and each writer hears of every change that concerns it.
TEST_F(SessionFixture, EveryStateChangeKeepsEachWriterToItsState) {
  std::vector<std::string> heard;
  bool pollBusy = false;
  session().AddWriter({LinkState::Protocol,
                       [&] {
                         heard.push_back("poll paused");
                         return true;
                       },
                       [&] { heard.push_back("poll resumed"); },
                       [&] {
                         heard.push_back("poll stopped");
                         return true;
                       },
                       [&] { return pollBusy; }});
  session().AddWriter({LinkState::Terminal, {}, {},
                       [&] {
                         heard.push_back("repeat stopped");
                         return true;
                       },
                       {}});
  session().SetTerminalRing([&] { heard.push_back("ring to terminal"); },
                            [&] { heard.push_back("ring to parser"); });
  const std::vector<std::uint8_t> text{'h', 'i'};
  // One tick of each writer: the status of its write. Outside protocol mode
  // a frame that got out anyway waits for no reply long.
  auto tick = [&] {
    PacketRecord rec;
    rec.Bank = 0;
    rec.Register = 0;
    rec.Span = 1;
    const bool guard = session().State() != LinkState::Protocol;
    if (guard) clock.ExpireWaits(1);
    const Status frame = link->commands.GetRegister(rec, {kUsualReplyWait.timeoutMs, 0}).status();
    if (guard) clock.ExpireWaits(0);
    const Status bytes = session().WriteTerminal(text).status();
    return std::pair{frame, bytes};
  };
  using Ticked = std::pair<Status, Status>;
  auto take = [&] { return std::exchange(heard, {}); };
  using Heard = std::vector<std::string>;

  EXPECT_EQ(session().State(), LinkState::Closed);
  EXPECT_EQ(tick(), (Ticked{Status::PortClosed, Status::NotAllowed}));

  Phase(std::nullopt);
  ASSERT_TRUE(session().Connect(Sim()));
  Phase(LinkState::Protocol);
  EXPECT_EQ(session().State(), LinkState::Protocol);
  EXPECT_EQ(session().StateText(), "Connected to local radio on SIM at 9600");
  EXPECT_EQ(tick(), (Ticked{Status::Ok, Status::NotAllowed}));

  // Into the terminal and back.
  Phase(std::nullopt);
  const std::optional<Done> left = session().EnterTerminal();
  ASSERT_TRUE(left && *left);
  Phase(LinkState::Terminal);
  EXPECT_EQ(session().State(), LinkState::Terminal);
  EXPECT_FALSE(module->InProtocolMode());
  EXPECT_EQ(take(), (Heard{"poll paused", "ring to terminal"}));
  EXPECT_EQ(tick(), (Ticked{Status::NotAllowed, Status::Ok}));
  Phase(std::nullopt);
  ASSERT_TRUE(session().LeaveTerminal());
  Phase(LinkState::Protocol);
  EXPECT_TRUE(session().TerminalWorkStopped());
  EXPECT_EQ(take(), (Heard{"repeat stopped", "ring to parser", "poll resumed"}));
  EXPECT_TRUE(module->InProtocolMode());
  EXPECT_EQ(tick(), (Ticked{Status::Ok, Status::NotAllowed}));

  // A poll request under way holds the entry back until it has ended.
  pollBusy = true;
  Phase(std::nullopt);
  EXPECT_FALSE(session().EnterTerminal());
  EXPECT_TRUE(session().TerminalPending());
  EXPECT_EQ(session().State(), LinkState::Protocol);
  EXPECT_FALSE(session().CommandEnded());
  pollBusy = false;
  Phase(std::nullopt);
  const std::optional<Done> late = session().CommandEnded();
  ASSERT_TRUE(late && *late);
  Phase(LinkState::Terminal);
  EXPECT_EQ(session().State(), LinkState::Terminal);
  Phase(std::nullopt);
  ASSERT_TRUE(session().LeaveTerminal());
  take();

  // Into the boot code and back.
  Phase(std::nullopt);
  ASSERT_TRUE(session().EnterBootCode(true));
  Phase(LinkState::BootCode);
  EXPECT_EQ(session().State(), LinkState::BootCode);
  EXPECT_EQ(take(), (Heard{"poll paused"}));
  EXPECT_EQ(tick(), (Ticked{Status::NotAllowed, Status::NotAllowed}));
  ASSERT_TRUE(session().BootChannel().Write(kLeave));
  module->WaitUntilIdle();
  Phase(std::nullopt);
  ASSERT_TRUE(session().LeaveBootCode());
  Phase(LinkState::Protocol);
  EXPECT_EQ(take(), (Heard{"poll resumed"}));
  EXPECT_EQ(tick(), (Ticked{Status::Ok, Status::NotAllowed}));

  // Lost in protocol mode, and back.
  Unplug();
  Phase(LinkState::Lost);
  EXPECT_EQ(session().State(), LinkState::Lost);
  session().Close();
  EXPECT_EQ(take(), (Heard{"poll stopped", "repeat stopped"}));
  EXPECT_EQ(session().State(), LinkState::Lost);
  EXPECT_EQ(tick(), (Ticked{Status::PortClosed, Status::NotAllowed}));
  module->Plug();
  clock.Advance(1s);
  module->WaitUntilIdle();
  Phase(std::nullopt);
  ASSERT_TRUE(session().Reconnect());
  Phase(LinkState::Protocol);
  EXPECT_EQ(session().State(), LinkState::Protocol);
  EXPECT_EQ(tick(), (Ticked{Status::Ok, Status::NotAllowed}));

  // Lost, and back in the boot code: the reconnect finds it there.
  Unplug();
  Phase(LinkState::Lost);
  session().Close();
  module->Plug();
  RadioInBootCode();
  session().SetBootProbeInterval(10ms);
  clock.ExpireWaits(1 + kUsualReplyWait.retries);  // protocol mode, unanswered
  Phase(std::nullopt);
  const Done back = session().Reconnect();
  EXPECT_EQ(back.status(), Status::NoReply);
  Phase(LinkState::BootCode);
  EXPECT_EQ(session().State(), LinkState::BootCode);
  EXPECT_EQ(tick(), (Ticked{Status::NotAllowed, Status::NotAllowed}));

  Phase(std::nullopt);
  session().Disconnect();
  Phase(LinkState::Closed);
  EXPECT_EQ(session().State(), LinkState::Closed);
  EXPECT_EQ(tick(), (Ticked{Status::PortClosed, Status::NotAllowed}));

  // On the wire: no terminal byte outside the terminal, no frame inside it
  // or in the boot code, nothing at all while lost or closed.
  for (const auto& bytes : WrittenIn(LinkState::Protocol)) EXPECT_TRUE(IsFrame(bytes));
  for (const auto& bytes : WrittenIn(LinkState::Terminal)) EXPECT_EQ(bytes, text);
  for (const auto& bytes : WrittenIn(LinkState::BootCode)) EXPECT_FALSE(IsFrame(bytes));
  EXPECT_TRUE(WrittenIn(LinkState::Lost).empty());
  EXPECT_TRUE(WrittenIn(LinkState::Closed).empty());
}

// A line changed during the connection (a configuration write moves the
// radio and the PC port together) is the line a reconnect comes back at,
// not the one first chosen.
TEST_F(SessionFixture, AReconnectComesBackAtTheLineTheRadioWasMovedTo) {
  ASSERT_TRUE(session().Connect(Sim()));
  LineSettings moved = test::FactoryLine();
  moved.baudRate = 19200;
  ASSERT_TRUE(module->SetLine(moved));
  ASSERT_TRUE(link->transport.ApplyLine(moved));
  ASSERT_TRUE(session().EnterProtocolMode());
  Unplug();
  session().Close();
  module->Plug();
  clock.Advance(1s);
  module->WaitUntilIdle();
  ASSERT_TRUE(module->SetLine(moved));  // the radio saved its new line
  ASSERT_TRUE(session().Reconnect());
  LineSettings line;
  ASSERT_TRUE(link->transport.ReadLine(line));
  EXPECT_EQ(line.baudRate, moved.baudRate);
}

// Leaving the terminal without protocol mode ends the paused work instead
// of resuming it into a radio that would pass its frames over the air.
TEST_F(SessionFixture, PausedWorkEndsWhenProtocolModeDoesNotComeBack) {
  std::vector<std::string> heard;
  const WriterId poll = session().AddWriter({LinkState::Protocol,
                                             [&] {
                                               heard.push_back("paused");
                                               return true;
                                             },
                                             [&] { heard.push_back("resumed"); },
                                             [&] {
                                               heard.push_back("stopped");
                                               return true;
                                             },
                                             {}});
  ASSERT_TRUE(session().Connect(Sim()));
  ASSERT_TRUE(session().EnterTerminal());
  EXPECT_TRUE(session().WasPaused(poll));
  module->SetFault(sim::Fault::NeverReply);
  clock.ExpireWaits(1 + kUsualReplyWait.retries);
  const Done back = session().LeaveTerminal();
  EXPECT_EQ(back.status(), Status::NoReply);
  EXPECT_EQ(heard, (std::vector<std::string>{"paused", "stopped"}));
  EXPECT_EQ(session().State(), LinkState::Protocol);
}

// Software Reset, the boot prompt at 38400 baud, "E" CR; then the radio's
// own line once "E" CR has had its time on the wire, the frame parser and
// protocol mode again, entered at once by a radio that listens at once.
TEST_F(SessionFixture, IntoTheBootCodeAndBackOnTheInjectedClock) {
  ASSERT_TRUE(session().Connect(Sim()));
  ASSERT_TRUE(session().EnterBootCode(true));
  EXPECT_FALSE(session().ResetUnanswered());
  EXPECT_FALSE(link->parser.Running());
  EXPECT_TRUE(module->InBootCode());
  ASSERT_TRUE(session().BootChannel().Write(kLeave));

  const auto before = clock.Elapsed();
  module->WaitUntilIdle();
  ASSERT_TRUE(session().LeaveBootCode());
  // No more than the wire time of the boot code's last bytes.
  EXPECT_GE(clock.Elapsed() - before, BootLineTime(kLeave.size()));
  EXPECT_LT(clock.Elapsed() - before, 1ms);
  EXPECT_TRUE(link->parser.Running());
  EXPECT_FALSE(module->InBootCode());
  EXPECT_TRUE(module->InProtocolMode());
  LineSettings line;
  ASSERT_TRUE(link->transport.ReadLine(line));
  EXPECT_EQ(line.baudRate, test::FactoryLine().baudRate);
}

// A radio already in its boot code cannot answer the reset: the way in goes
// on all the same, and the prompt search finds the boot code. Given up, the
// port closes and the parser waits for the next connection.
TEST_F(SessionFixture, AnUnansweredResetLeavesTheDecisionToThePromptSearch) {
  ASSERT_TRUE(session().Open(Sim()));
  RadioInBootCode();
  clock.ExpireWaits(1);  // the reset's wait for its reply
  const Done entered = session().EnterBootCode(true);
  ASSERT_TRUE(entered);
  EXPECT_TRUE(session().ResetUnanswered());
  session().AbandonBootCode();
  EXPECT_FALSE(link->transport.IsOpen());
  EXPECT_TRUE(link->parser.Running());
  EXPECT_EQ(session().State(), LinkState::Closed);
}

// A port that refuses the boot code's baud rate: the way in fails with the
// port's result, the frame parser has the ring again, and the port, which
// the transport stops when it cannot take a line, is closed.
TEST(LinkSession, APortRefusingTheBootLineGivesItsFailureWithTheParserRunning) {
  test::TempDir temp;
  WorkDir dir(temp.path());
  test::FakePrompter prompter;
  CondVarWaiter waiter;
  test::RecordingSink sink;
  RadioLink link(
      [](const std::string&) {
        auto port = std::make_unique<test::SilentPort>();
        port->refusedBaud = kBootLine.baudRate;
        return port;
      },
      dir, prompter, waiter, sink);
  link.transport.SetSettleTime(0ms);
  ASSERT_TRUE(link.session.Open({"silent", test::FactoryLine(), "silent"}));
  link.parser.Start();
  const Done entered = link.session.EnterBootCode(false);
  EXPECT_EQ(entered.status(), Status::LineNotApplied);
  EXPECT_TRUE(link.parser.Running());
  EXPECT_EQ(link.session.State(), LinkState::Closed);
}

// Bytes in the ring when the way back begins belong to the boot code's
// line: none of them reaches the decoder as a frame.
TEST_F(SessionFixture, BytesLeftFromTheBootCodeAreNeverParsedAfterTheWayBack) {
  ASSERT_TRUE(session().Connect(Sim()));
  ASSERT_TRUE(session().EnterBootCode(true));
  ASSERT_TRUE(session().BootChannel().Write(kLeave));
  const auto exited = BuildFrame(1, 0x27, std::vector<std::uint8_t>{0xA4});  // "Remote:  Exited PAN"
  ASSERT_TRUE(exited);
  // Arrived while the application started.
  module->WaitUntilIdle();
  link->ring.Write({exited->data(), exited->size});
  ASSERT_TRUE(session().LeaveBootCode());
  // A command's round trip: anything parsed before its reply is in the sink.
  ASSERT_TRUE(session().EnterProtocolMode());
  for (const std::string& line : sink.Lines()) EXPECT_EQ(line.find("Exited PAN"), std::string::npos) << line;
}

struct WayBack : SessionFixture {
  // Connected, in the boot code, and "E" CR sent.
  void LeftTheBootCode() {
    Phase(std::nullopt);
    ASSERT_TRUE(session().Connect(Sim()));
    ASSERT_TRUE(session().EnterBootCode(true));
    ASSERT_TRUE(session().BootChannel().Write(kLeave));
    module->WaitUntilIdle();
    Phase(LinkState::Protocol);
  }
  // Protocol-mode tries written on the way back.
  int Tries() {
    int n = 0;
    for (const auto& bytes : WrittenIn(LinkState::Protocol)) n += IsFrame(bytes) ? 1 : 0;
    return n;
  }
};

// Protocol mode is tried at once after "E" CR and again after each short
// wait for its answer: the way back ends with the first answer, whether the
// radio listens at once or loses the first tries while its application
// starts.
TEST_F(WayBack, EntersProtocolModeOnTheFirstAnswer) {
  for (const int lost : {0, 1, 4}) {
    SCOPED_TRACE(lost);
    LeftTheBootCode();
    loseFrames = lost;
    clock.ExpireWaits(lost);
    const auto before = clock.Elapsed();
    ASSERT_TRUE(session().LeaveBootCode());
    // The lost tries' waits, and the wire time of the boot code's last bytes.
    const auto waited = clock.Elapsed() - before - lost * 100ms;
    EXPECT_GE(waited, BootLineTime(kLeave.size()));
    EXPECT_LT(waited, 1ms);
    EXPECT_EQ(Tries(), lost + 1);
    EXPECT_TRUE(module->InProtocolMode());
    EXPECT_EQ(session().State(), LinkState::Protocol);
    session().Disconnect();
    std::lock_guard lock(wireMutex);
    wire.clear();
  }
}

// A radio silent after "E" CR: tries for the whole start limit, then
// NoReply (which the window and qmxctl word as protocol mode not entered);
// the work paused for the boot code ends instead of resuming, and nothing
// is read from the radio.
TEST_F(WayBack, GivesUpWithNoReplyAfterTheStartLimit) {
  bool resumed = false, stopped = false, afterEntry = false;
  session().AddWriter({LinkState::Protocol, [] { return true; }, [&] { resumed = true; },
                       [&] {
                         stopped = true;
                         return true;
                       },
                       {}});
  LeftTheBootCode();
  module->SetFault(sim::Fault::NeverReply);
  clock.ExpireWaits(-1);
  const auto before = clock.Elapsed();
  const Done back = session().LeaveBootCode([&] { return afterEntry = true; });
  clock.ExpireWaits(0);
  EXPECT_EQ(back.status(), Status::NoReply);
  const auto waited = clock.Elapsed() - before;
  EXPECT_GE(waited, LinkSession::kApplicationStartLimit);
  EXPECT_LT(waited, LinkSession::kApplicationStartLimit + 100ms);
  EXPECT_EQ(Tries(), 50);
  EXPECT_FALSE(afterEntry);
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(resumed);
}

// A try cut short while the application starts, whose echo leaves the start
// of a long frame on the line: the answer to the next try is not taken for
// the rest of that frame.
TEST_F(WayBack, AFrameStartLeftByATryCutShortDoesNotSwallowTheNextAnswer) {
  LeftTheBootCode();
  loseFrames = 1;
  onLost = [this] {
    const std::uint8_t start[] = {kStartOfPacket, static_cast<std::uint8_t>(kMaxPacketLength)};
    link->ring.Write(start);
  };
  clock.ExpireWaits(1);
  // A wait that never ends is a fault here: after ten seconds every wait of
  // this thread expires at once, the one blocked now woken to expire too.
  const test::Watchdog dog(10s, [this, self = std::this_thread::get_id()] {
    clock.ExpireWaits(-1, self);
    clock.Advance(Clock::duration(1));
  });
  ASSERT_TRUE(session().LeaveBootCode());
  clock.ExpireWaits(0);
  EXPECT_EQ(Tries(), 2);
}

// The boot-code check after a failed entry borrows the ring from the frame
// parser only when the parser runs, and gives it back as it found it.
TEST_F(SessionFixture, TheBootCodeCheckLeavesTheParserAsItFoundIt) {
  ASSERT_TRUE(session().Open(Sim()));
  RadioInBootCode();
  for (bool parsing : {true, false}) {
    SCOPED_TRACE(parsing);
    if (!parsing) link->parser.Stop();
    EXPECT_TRUE(session().BootCodeAnswers());
    EXPECT_EQ(session().State(), LinkState::BootCode);
    EXPECT_EQ(link->parser.Running(), parsing);
  }
}

}  // namespace
}  // namespace qmx
