#include "link/link_session.h"

#include <algorithm>
#include <utility>

#include "link/command_layer.h"
#include "link/parser_thread.h"
#include "link/ring.h"
#include "link/transport.h"

namespace qmx {

LinkSession::LinkSession(SerialTransport& transport, CommandLayer& commands, ParserThread& parser, ReceiveRing& ring)
    : transport_(transport), commands_(commands), parser_(parser), ring_(ring) {}

void LinkSession::SetTerminalRing(std::function<void()> take, std::function<void()> give) {
  takeRing_ = std::move(take);
  giveRing_ = std::move(give);
}

WriterId LinkSession::AddWriter(PeriodicWriter writer) {
  const WriterId id = nextId_++;
  writers_.push_back({id, std::move(writer)});
  return id;
}

void LinkSession::RemoveWriter(WriterId id) {
  std::erase_if(writers_, [id](const Entry& e) { return e.id == id; });
  std::erase(paused_, id);
}

bool LinkSession::WasPaused(WriterId id) const {
  return std::find(paused_.begin(), paused_.end(), id) != paused_.end();
}

LinkState LinkSession::State() const {
  std::lock_guard lock(mutex_);
  if (lost_) return LinkState::Lost;
  if (!transport_.IsOpen()) return LinkState::Closed;
  return mode_;
}

LinkState LinkSession::Mode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}

void LinkSession::SetMode(LinkState mode) {
  std::lock_guard lock(mutex_);
  mode_ = mode;
}

std::string LinkSession::StateText() const {
  switch (State()) {
    case LinkState::Closed: return "Disconnected.";
    case LinkState::Lost:
      if (waitingFor_.empty()) return "Port lost.";
      return "Port lost.  Waiting for " + waitingFor_ + " to return (Connect stops waiting)";
    case LinkState::BootCode: return BootCodeNotice(port_.label);
    case LinkState::Protocol:
    case LinkState::Terminal: break;
  }
  return "Connected to local radio on " + port_.label + " at " + std::to_string(port_.line.baudRate);
}

void LinkSession::Run(const std::function<void()>& step) {
  if (runner_)
    runner_(step);
  else
    step();
}

// ---- Writers.

void LinkSession::HoldWriters() { PauseWriters(LinkState::Protocol); }

void LinkSession::ReleaseWriters() {
  if (held_) EndPausedWriters(true);
}

void LinkSession::PauseWriters(LinkState state) {
  if (held_) return;
  held_ = true;
  paused_.clear();
  for (Entry& e : writers_)
    if (e.writer.state == state && e.writer.pause && e.writer.pause()) paused_.push_back(e.id);
}

void LinkSession::EndPausedWriters(bool resume) {
  held_ = false;
  // Without the state they write in, the writers that were paused end; the
  // others are as they were.
  for (Entry& e : writers_) {
    if (e.writer.state != LinkState::Protocol) continue;
    if (resume || !WasPaused(e.id)) {
      if (e.writer.resume) e.writer.resume();
    } else if (e.writer.stop) {
      e.writer.stop();
    }
  }
}

bool LinkSession::StopWriters(LinkState state) {
  bool any = false;
  for (Entry& e : writers_)
    if (e.writer.state == state && e.writer.stop && e.writer.stop()) any = true;
  return any;
}

// ---- Opening.

Done LinkSession::Open(const PortChoice& choice, bool reopen) {
  {
    std::lock_guard lock(mutex_);
    mode_ = LinkState::Protocol;
    lost_ = false;
  }
  port_ = choice;
  const Done opened = transport_.OpenCommPort(choice.line, choice.path, reopen);
  if (opened) node_ = NodeOf(transport_.PortName());
  return opened;
}

Done LinkSession::Connect(const PortChoice& choice, ReplyWait wait) {
  if (Done opened = Open(choice); !opened) return opened;
  return EnterProtocolMode(wait);
}

Done LinkSession::EnterProtocolMode(ReplyWait wait, bool checkBootCode) {
  const Done entered = commands_.EnterProtocolMode(wait);
  if (!entered && entered.status() == Status::NoReply && checkBootCode) (void)BootCodeAnswers();
  return entered;
}

bool LinkSession::BootCodeAnswers() {
  if (!transport_.IsOpen()) return false;
  if (bootCheck_) {
    if (!bootCheck_()) return false;
    SetMode(LinkState::BootCode);
    return true;
  }
  LineSettings saved;
  if (!transport_.ReadLine(saved)) return false;
  // The ring's bytes are the search's while the parser rests, and nothing
  // but the search writes.
  SetMode(LinkState::BootCode);
  const bool parsing = parser_.Running();
  if (parsing) parser_.Stop();
  (void)parser_.TakeUnfinished();
  LineSettings boot = kBootLine;
  boot.ctsFlow = saved.ctsFlow;
  bool found = false;
  if (transport_.ApplyLine(boot)) {
    RingChannel channel(ring_, BootWriter(), *clock_);
    Run([&] { found = FindBootPrompt(channel, *clock_, probeInterval_, kBootProbeAttempts).ok(); });
    transport_.ApplyLine(saved);
  }
  // Nothing the boot code said at its line is a frame.
  transport_.ResetReceiveRing();
  if (parsing) parser_.Start();
  if (!found) SetMode(LinkState::Protocol);
  return found;
}

void LinkSession::Close() {
  terminalPending_ = false;
  StopWriters(LinkState::Protocol);
  StopWriters(LinkState::Terminal);
  paused_.clear();
  held_ = false;
  const LinkState mode = Mode();
  SetMode(LinkState::Protocol);
  if (mode == LinkState::Terminal && giveRing_) giveRing_();
  transport_.StopComm();
  if (bootChannel_) {
    // The parser rested for the boot code's dialogue: it waits for the next
    // connection.
    bootChannel_->Stop();
    bootChannel_.reset();
    parser_.Start();
  }
}

void LinkSession::Disconnect() {
  Close();
  StopWaiting();
  std::lock_guard lock(mutex_);
  lost_ = false;
}

// ---- Terminal.

std::optional<Done> LinkSession::EnterTerminal() {
  PauseWriters(LinkState::Protocol);
  terminalPending_ = true;
  return CommandEnded();
}

std::optional<Done> LinkSession::CommandEnded() {
  if (!terminalPending_) return std::nullopt;
  for (const Entry& e : writers_)
    if (e.writer.state == LinkState::Protocol && e.writer.commandUnderWay && e.writer.commandUnderWay())
      return std::nullopt;
  terminalPending_ = false;
  const Done left = commands_.ExitProtocolMode();
  SetMode(LinkState::Terminal);
  if (takeRing_) takeRing_();
  return left;
}

Done LinkSession::LeaveTerminal(const std::function<bool()>& afterEntry) {
  const bool entered = !terminalPending_;
  terminalPending_ = false;
  terminalWorkStopped_ = StopWriters(LinkState::Terminal);
  SetMode(LinkState::Protocol);
  if (entered && giveRing_) giveRing_();
  return ReturnToProtocol(afterEntry);
}

Done LinkSession::ReturnToProtocol(const std::function<bool()>& afterEntry) {
  return Resume(EnterProtocolMode(kUsualReplyWait, false), afterEntry);
}

Done LinkSession::Resume(Done back, const std::function<bool()>& afterEntry) {
  const bool resume = back && (!afterEntry || afterEntry());
  EndPausedWriters(resume);
  return back;
}

// ---- Boot code.

RingChannel::Writer LinkSession::BootWriter() {
  return [this](std::span<const std::uint8_t> bytes) { return WriteBoot(bytes); };
}

Done LinkSession::WriteBoot(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (mode_ != LinkState::BootCode)
    return Done::Fail(Status::NotAllowed, "the radio is not in its boot code");
  Done written = transport_.WritePort(bytes);
  if (written) bootWritten_ = std::max(bootWritten_, clock_->Now()) + BootLineTime(bytes.size());
  return written;
}

Done LinkSession::EnterBootCode(bool reset) {
  const Result<LineSettings> line = transport_.GetPortSettings();
  if (!line) return Done::From(line);
  savedLine_ = *line;
  const bool fromProtocol = Mode() == LinkState::Protocol;
  // Nothing else writes from here on, the reset included.
  PauseWriters(LinkState::Protocol);
  resetUnanswered_ = reset && fromProtocol && !commands_.SoftwareReset();
  parser_.Stop();
  // Nothing the boot code says is part of a frame.
  (void)parser_.TakeUnfinished();
  SetMode(LinkState::BootCode);
  if (Done opened = transport_.OpenCommPort(kBootLine, transport_.PortName(), false); !opened) {
    // The transport stops a port that did not take its line: the stop is
    // finished here, and the frame parser takes the ring back.
    transport_.StopComm();
    SetMode(fromProtocol ? LinkState::Protocol : LinkState::BootCode);
    parser_.Start();
    EndPausedWriters(true);
    return opened;
  }
  // The boot code's dialogue reads the ring itself while the parser rests.
  bootChannel_.emplace(ring_, BootWriter(), *clock_);
  Done found;
  Run([&] { found = FindBootPrompt(*bootChannel_, *clock_, promptInterval_, kBootPromptAttempts); });
  return found;
}

ByteChannel& LinkSession::BootChannel() { return *bootChannel_; }

Done LinkSession::LeaveBootCode(const std::function<bool()>& afterEntry) {
  // A line changed under bytes still on their way would garble "E" CR, and
  // the boot code would stay.
  Clock::time_point written;
  {
    std::lock_guard lock(mutex_);
    written = bootWritten_;
  }
  if (const auto left = written - clock_->Now(); left > Clock::duration::zero()) clock_->Sleep(left);
  bootChannel_.reset();
  SetMode(LinkState::Protocol);
  if (Done opened = transport_.OpenCommPort(savedLine_, transport_.PortName(), false); !opened) {
    transport_.StopComm();
    parser_.Start();
    EndPausedWriters(false);
    return opened;
  }
  transport_.ResetReceiveRing();
  parser_.Start();
  return Resume(AwaitApplication(), afterEntry);
}

Done LinkSession::AwaitApplication() {
  const auto giveUp = clock_->Now() + kApplicationStartLimit;
  for (;;) {
    const Done entered = commands_.EnterProtocolMode(kStartTryWait);
    if (entered || entered.status() != Status::NoReply || clock_->Now() >= giveUp) return entered;
    // What came meanwhile (the boot code's last words, an echo of a try
    // cut short, the application's start-up) may hold the start of a frame
    // that would swallow the next answer: it is dropped, parsed or not,
    // and the parser hunts afresh.
    parser_.Stop();
    transport_.ResetReceiveRing();
    parser_.Start();
  }
}

void LinkSession::AbandonBootCode() { Close(); }

// ---- Lost and back.

void LinkSession::PortLost() {
  std::lock_guard lock(mutex_);
  lost_ = true;
  // The line to come back at: the radio's as it was last (a configuration
  // change may have moved it since the connection was made), or, from its
  // boot code, the line the application runs at.
  lineAtLoss_ = mode_ == LinkState::BootCode ? savedLine_ : transport_.LastLine();
}

bool LinkSession::WaitForDevice(DeviceWatcher::Callbacks callbacks) {
  const std::string& path = port_.path;
  if (path.empty() || path.front() != '/') return false;
  const DeviceIdentity device = IdentifyDevice(path);
  if (!watcher_.Start(device.WatchName(), node_, std::move(callbacks))) return false;
  waitingFor_ = device.WatchName();
  std::lock_guard lock(mutex_);
  lost_ = true;
  return true;
}

void LinkSession::StopWaiting() {
  watcher_.Stop();
  waitingFor_.clear();
}

Done LinkSession::Reconnect(const std::function<bool()>& afterEntry) {
  const std::string name = waitingFor_.empty() ? port_.path : waitingFor_;
  watcher_.Stop();
  waitingFor_.clear();
  // Whatever happens, this node has had its chance: a failure waits for the
  // next one.
  PortChoice choice = port_;
  choice.path = name;
  {
    std::lock_guard lock(mutex_);
    if (lineAtLoss_) choice.line = *std::exchange(lineAtLoss_, std::nullopt);
  }
  const Done opened = Open(choice);
  node_ = NodeOf(name);
  if (!opened) {
    PortLost();
    return opened;
  }
  Done entered = EnterProtocolMode();
  if (entered && afterEntry && !afterEntry()) entered = Done::Fail(Status::NoReply);
  if (!entered && Mode() != LinkState::BootCode) {
    transport_.StopComm();
    PortLost();
  }
  return entered;
}

// ---- Write gates.

namespace {

Done FramePermitted(LinkState mode) {
  if (mode == LinkState::Terminal)
    return Done::Fail(Status::NotAllowed, "the terminal holds the port: the radio is out of protocol mode");
  if (mode == LinkState::BootCode) return Done::Fail(Status::NotAllowed, "the radio is in its boot code");
  return {};
}

}  // namespace

Done LinkSession::MayWriteFrame() const {
  std::lock_guard lock(mutex_);
  return FramePermitted(mode_);
}

Done LinkSession::WriteFrame(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (Done may = FramePermitted(mode_); !may) return may;
  return transport_.WritePort(bytes);
}

Done LinkSession::WriteTerminal(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (mode_ != LinkState::Terminal) return Done::Fail(Status::NotAllowed, "the radio is in protocol mode");
  return transport_.WritePort(bytes);
}

}  // namespace qmx
