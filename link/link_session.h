// The one owner of the connection to the local radio. It holds the port,
// its line and its label, and knows what the port is for now:
//
//   Closed ──Open/Connect──▶ Protocol ──EnterTerminal──▶ Terminal
//     ▲                        │  ▲  ◀──LeaveTerminal──────┘
//     │                        │  └──LeaveBootCode──┐
//     ├──Disconnect/Close──────┤                    │
//     │                        └──EnterBootCode──▶ BootCode
//     │                           (or a failed protocol-mode entry
//     │                            whose boot-code check answered)
//     └──StopWaiting── Lost ◀──the device went away (any state)
//                        └──Reconnect──▶ Protocol (or BootCode)
//
// It decides who may write: a protocol frame goes out only in Protocol
// (CommandLayer writes through WriteFrame), terminal bytes only in Terminal
// (WriteTerminal), the boot code's dialogue only in BootCode; anything else
// is refused with NotAllowed and a reason. Periodic writers (the automatic
// poll, the repeated transmissions, diagnostics) register with it and are
// paused, resumed or stopped by its changes of state.
//
// Plain C++ on the injected clock. Every operation runs on the owner's
// thread (the user-interface thread, or qmxctl's main thread); PortLost()
// and the write gates may be called from any thread. Nothing here talks to
// the user: each operation returns a Result, and the caller words it.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/boot_code.h"
#include "link/byte_channel.h"
#include "link/clock.h"
#include "link/device_watch.h"
#include "link/reply_wait.h"
#include "link/result.h"
#include "link/serial_port.h"

namespace qmx {

class SerialTransport;
class CommandLayer;
class ParserThread;
class ReceiveRing;

enum class LinkState { Closed, Protocol, Terminal, BootCode, Lost };

// The port to connect to: the path to open, the line to set, and the name as
// the user knows it ("SIM", "ttyUSB0", or a typed path as typed).
struct PortChoice {
  std::string path;
  LineSettings line;
  std::string label;
};

// A writer that writes by itself, now and then, while the link is in
// `state`. Its hooks are called on the owner's thread.
struct PeriodicWriter {
  LinkState state = LinkState::Protocol;
  // Stops writing until resumed; true when it was writing.
  std::function<bool()> pause;
  std::function<void()> resume;
  // Stops writing for good; true when it was writing.
  std::function<bool()> stop;
  // One of its requests waits for its reply now (may be empty: never).
  std::function<bool()> commandUnderWay;
};
using WriterId = int;

class LinkSession {
 public:
  // After "E" CR the application starts, and listens to protocol mode
  // again, within a second or so. Protocol mode is tried at once and again
  // after each try's short wait for its answer, until the radio answers or
  // this much time has passed since the first try.
  static constexpr Clock::duration kApplicationStartLimit = std::chrono::seconds(5);
  // One try: a single Enter Protocol Mode and this wait for its answer.
  static constexpr ReplyWait kStartTryWait{100.0, 0};

  LinkSession(SerialTransport& transport, CommandLayer& commands, ParserThread& parser, ReceiveRing& ring);
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  // ---- Set up by the owner before use.
  void SetClock(TimeSource& clock) { clock_ = &clock; }
  // Runs a long blocking step (a search for the boot prompt) so that the
  // owner stays alive meanwhile; by default the step runs in place.
  void SetBlockingRunner(std::function<void(const std::function<void()>&)> run) { runner_ = std::move(run); }
  // Between two 0x03 of the boot-code check after a failed protocol-mode
  // entry (kBootProbeInterval), and of the search before an upgrade
  // (kBootPromptInterval).
  void SetBootProbeInterval(Clock::duration d) { probeInterval_ = d; }
  void SetBootPromptInterval(Clock::duration d) { promptInterval_ = d; }
  // The terminal takes the received bytes from the frame parser on entry,
  // and gives them back on leaving.
  void SetTerminalRing(std::function<void()> take, std::function<void()> give);
  // The boot-code check after a failed protocol-mode entry; the session's
  // own search on the open port unless the owner gives another.
  void SetBootCodeCheck(std::function<bool()> check) { bootCheck_ = std::move(check); }

  WriterId AddWriter(PeriodicWriter writer);
  void RemoveWriter(WriterId id);
  // The writers the last EnterTerminal or EnterBootCode paused.
  bool WasPaused(WriterId id) const;
  // The protocol writers paused ahead of a boot-code entry that may come
  // (the upgrade window is open); EnterBootCode then pauses nothing more.
  // Released: they resume, unless the boot code took them over.
  void HoldWriters();
  void ReleaseWriters();

  // ---- What the link is now.
  LinkState State() const;
  // The port open now, or last.
  const PortChoice& Port() const { return port_; }
  // The state in words, for a status line ("Disconnected.", "Connected to
  // local radio on ttyUSB0 at 9600", …).
  std::string StateText() const;

  // ---- Closed → Protocol.
  // Opens the choice's port at its line (the open port is only set to the
  // line when `reopen` is false). Nothing is sent.
  Done Open(const PortChoice& choice, bool reopen = true);
  // Open and EnterProtocolMode.
  Done Connect(const PortChoice& choice, ReplyWait wait = kUsualReplyWait);
  // Protocol mode on the open port. When the radio does not answer and
  // `checkBootCode`, its boot code is looked for: State() is BootCode when
  // it answered (the result is still NoReply).
  Done EnterProtocolMode(ReplyWait wait = kUsualReplyWait, bool checkBootCode = true);
  // The short boot-code check on the open port (the parser rests, 38400
  // 8N1, a few 0x03, then the line and the parser as they were); State() is
  // BootCode when it answered.
  bool BootCodeAnswers();

  // Every writer stopped, the terminal's ring given back, the boot code's
  // dialogue ended, the port closed. A lost device stays Lost.
  void Close();
  // Close, and no more waiting for a lost device: Closed.
  void Disconnect();

  // ---- Protocol ⇄ Terminal.
  // The protocol writers pause; protocol mode is left once none of them
  // waits for a reply: the result of leaving it, or nothing while the entry
  // waits (CommandEnded then completes it).
  std::optional<Done> EnterTerminal();
  // A writer's command ended: the result of a waiting terminal entry that
  // went ahead now, or nothing.
  std::optional<Done> CommandEnded();
  bool TerminalPending() const { return terminalPending_; }
  // The terminal's writers stop, the ring goes back to the frame parser and
  // protocol mode is entered; then `afterEntry` (whose answer says whether
  // the paused work may resume) while the writers still rest. Without
  // protocol mode the paused work ends.
  Done LeaveTerminal(const std::function<bool()>& afterEntry = {});
  // Whether leaving the terminal stopped one of its writers.
  bool TerminalWorkStopped() const { return terminalWorkStopped_; }

  // ---- Protocol ⇄ BootCode.
  // The line saved; when `reset`, a Software Reset; the protocol writers
  // paused, the frame parser stopped, 38400 8N1, and the search for the
  // boot prompt. Fails with the port's result (nothing changed, the parser
  // running), or NoReply when no prompt came (then AbandonBootCode).
  Done EnterBootCode(bool reset);
  bool ResetUnanswered() const { return resetUnanswered_; }
  // The boot code's dialogue, between EnterBootCode and leaving.
  ByteChannel& BootChannel();
  TimeSource& Time() { return *clock_; }
  // After "E" CR: once it has had its time on the wire, the saved line, the
  // frame parser, and protocol mode as soon as the starting application
  // answers (kApplicationStartLimit at most); then `afterEntry`, and the
  // paused work resumes when both succeeded. Fails with the port's result
  // or NoReply.
  Done LeaveBootCode(const std::function<bool()>& afterEntry = {});
  // The boot code said nothing (or the upgrade was given up): Close.
  void AbandonBootCode();

  // ---- Lost and back.
  // The open device vanished (any thread).
  void PortLost();
  // Waits for the lost device under the name that will bring it back (a
  // USB adapter's by-id name). Callbacks come from the watcher's thread.
  // False when there is nothing to wait for (the simulated module) or no
  // way to watch.
  bool WaitForDevice(DeviceWatcher::Callbacks callbacks);
  const std::string& WaitingFor() const { return waitingFor_; }
  void StopWaiting();
  // The device is back: its name opened at the last line, protocol mode
  // (its boot code checked when silent) and `afterEntry`. Fails with the
  // port's result, or NoReply when the radio did not answer or `afterEntry`
  // failed; the port is closed again then, unless the radio is in its boot
  // code (State() BootCode). The node opened has had its chance either way:
  // a later wait looks for another.
  Done Reconnect(const std::function<bool()>& afterEntry = {});

  // ---- The write gates.
  Done MayWriteFrame() const;
  Done WriteFrame(std::span<const std::uint8_t> bytes);
  Done WriteTerminal(std::span<const std::uint8_t> bytes);

 private:
  // The mode of an open port.
  void SetMode(LinkState mode);
  LinkState Mode() const;
  void PauseWriters(LinkState state);
  void EndPausedWriters(bool resume);
  bool StopWriters(LinkState state);
  Done ReturnToProtocol(const std::function<bool()>& afterEntry);
  // After an entry `back`: `afterEntry` when it succeeded, and the paused
  // writers resume when both did (or end).
  Done Resume(Done back, const std::function<bool()>& afterEntry);
  // Protocol-mode tries while the application starts.
  Done AwaitApplication();
  void Run(const std::function<void()>& step);
  Done WriteBoot(std::span<const std::uint8_t> bytes);
  // What the boot code's dialogue writes with: WriteBoot.
  RingChannel::Writer BootWriter();

  SerialTransport& transport_;
  CommandLayer& commands_;
  ParserThread& parser_;
  ReceiveRing& ring_;
  TimeSource* clock_ = &SteadyTime();
  std::function<void(const std::function<void()>&)> runner_;
  std::function<bool()> bootCheck_;
  std::function<void()> takeRing_, giveRing_;
  Clock::duration probeInterval_ = kBootProbeInterval;
  Clock::duration promptInterval_ = kBootPromptInterval;

  // Guards the mode and the lost flag; held by every gated write, so that
  // no write that passed its gate goes out after the mode changed.
  mutable std::mutex mutex_;
  LinkState mode_ = LinkState::Protocol;
  bool lost_ = false;
  std::optional<LineSettings> lineAtLoss_;

  PortChoice port_;
  std::optional<DeviceNode> node_;
  std::string waitingFor_;
  DeviceWatcher watcher_;

  struct Entry {
    WriterId id;
    PeriodicWriter writer;
  };
  std::vector<Entry> writers_;
  std::vector<WriterId> paused_;
  WriterId nextId_ = 1;
  bool held_ = false;  // the protocol writers are paused
  bool terminalPending_ = false;
  bool terminalWorkStopped_ = false;

  LineSettings savedLine_;
  // When the last bytes written to the boot code are through the wire
  // (guarded by mutex_).
  Clock::time_point bootWritten_{};
  bool resetUnanswered_ = false;
  std::optional<RingChannel> bootChannel_;
};

}  // namespace qmx
