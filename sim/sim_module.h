// A software model of one QMX2400 module on a serial line and of the radios
// it reaches over the air. Plain C++; it uses only the frame codec and the
// shared types of the link.
//
// Behaviour, where the module's real behaviour is not pinned down:
//
// Serial line
// - The module has its own line (bank 3). Bytes from the host are understood
//   only when the host's line matches it. MatchMode::Uart (the default) asks
//   what a real UART needs: the same baud rate, 8 data bits and the same
//   parity; stop bits need not match, since a receiver checks only the first
//   one (the program's auto-detection, which always tries two stop bits,
//   relies on that). MatchMode::Full also demands equal stop bits. A pty
//   shows its master neither parity nor data bits: MatchMode::BaudRate and
//   MatchMode::BaudAndStopBits are for that. Mismatched input is ignored.
// - Output carries the module's line with it; the receiving side drops it
//   when it does not match its own line (a real host would read garbage; the
//   sim port reports a framing error instead, and the noise fault provides
//   garbage where a test wants it).
// - A Set Register of bank 3 is answered at the old line; the new line holds
//   from the next byte on. Invalid baud or parity codes are refused (0xE1).
//
// Modes and start-up
// - After power-up or reset the module is in transparent mode unless bank 4
//   register 0 says Protocol (2). Factory setting: transparent. Enter
//   Protocol Mode ("QMX2400", type 0x00) is recognised in either mode.
// - Transparent mode sends bytes over the air to the transparent default
//   address; with `transparentEcho` (default on) they come back at once as if
//   from a loop-back remote, which makes the terminal tab usable.
// - Software Reset is answered with 0x12; the module then boots for
//   `bootTime` (only the boot code listens then, see SimBootloader), comes up with its
//   working settings, and announces 0xA0 (when bank 4 register 4 is on) and
//   then 0xA1 with the PAN ID (base) or 0xA3 (remote) after `panFormTime`.
//   A software reset is a warm restart: it keeps the working settings, so
//   "load defaults, then reset" brings the defaults (and 9600 8N1) into
//   effect without a memory save. PowerCycle() (and Plug()) is a cold start
//   that reloads the saved (non-volatile) settings.
//
// Registers
// - Banks 0-6 and 16 with their exact lengths; a read that runs past the end
//   of a bank returns the bytes that exist (Span reduced). A read of an
//   unknown bank, from a register beyond the bank, or with Span 0 gets
//   Announce 0xE1 and no reply; so does a malformed command (wrong length).
// - Banks 2 and 16 are read-only: a write gets Announce 0xE4 and no reply, so
//   the program's write fails instead of being reported as done. So are the
//   measured values of bank 5 (registers 6-14: ADC readings, voltage,
//   temperature). The MAC
//   address (bank 2 registers 0-7) and the FCC mode (bank 255 register 6,
//   data 1, 2 or 4) are factory-protected: they are written only after a
//   Factory Override (bank 255 register 0x6A, data 0x6A). The override
//   permits the next protected write and repeats of that same write (a
//   retransmission after a lost reply); any other command or a reset ends
//   it. It also covers a protected write carried to a remote radio.
// - Bank 255: register 0xFF data 0 loads the factory defaults into the
//   working settings (the line changes at the next reset or bank 3 write),
//   data 1 saves the working settings; register 0 data 0 resets a remote
//   radio (Set Remote Register only; locally it is 0xE1). Anything else 0xE1.
//   Actions are answered before they act.
// - Unknown packet types get Announce 0xE0.
//
// Radio network
// - The local module is the base of PAN 0x1234 on channel 0x0F; remotes
//   0x0001, 0x0002 and 0x0003 (SimOptions::remotes of them) are joined, each
//   with its own banks, MAC address, LQI, GPIO values and ADC readings that
//   drift on every read.
// - A local module made a remote (bank 0 device mode) reaches a base at
//   0x0000, with its own LQI and loss (SetRemoteLqi/SetRemoteLoss of 0x0000).
// - TX status: the local radio not linked, or the remote not linked (left the
//   network): 2; unknown address, remote rebooting, or lost by the loss
//   model: 1 with LQI 0; broadcast 0xFFFF: 0. Over-the-air replies come
//   `remoteLatency` after the command.
// - With `remoteDataEcho` (default off) a remote sends the data of an
//   acknowledged TXData back as RX Data.
// - A remote reset (bank 255 register 0) makes that remote reboot; the base
//   then announces it as joined (0xA2).
// - An input pin of a remote that changes level (SetRemoteInput) makes the
//   remote report its bank 5 from register 0 in an RX Event.
//
// Live network (SimOptions::network.live; off by default, so that a module
// made for a test sends only what the test asks for)
// - The first host to attach powers the network up: the remotes are not
//   linked, the base announces 0xA0 after `bootTime` (it answers commands
//   meanwhile) and 0xA1 `panFormTime` later; then the remotes join one after
//   another, `joinSpacing` apart, each announced with 0xA2. Every later
//   start of the base (reset, power cycle) repeats the joins after 0xA1.
// - A joined remote reports now and then, `interval` apart on average (each
//   gap drawn between half and one and a half of it): readable text such as
//   "Remote 2: temperature 23.4 C" or, now and then, a binary record as RX
//   Data; a change of one of its input pins as an RX Event (protocol mode
//   only); once in a while it joins again (0xA2). Its analog inputs follow
//   slow patterns in time (ADC0 a thermistor's daily swing sped up, ADC1 a
//   potentiometer that wanders, ADC2 a triangle ramp); output pins and PWM
//   keep what was written. Its loss rate drops reports as it drops replies.
// - In transparent mode each line typed (ended by CR or LF) is answered by
//   the remote at the transparent default address (the first joined remote
//   for broadcast) with its user tag, ": " and the line, CR LF.
// - The network draws its chances from its own generator seeded by `seed`,
//   and a task scheduled by another task counts from the time the first was
//   due: on a fake clock the same seed and the same steps of time give the
//   same frames, whatever the host sends meanwhile.
//
// Faults act on the replies to commands only (asynchronous frames are not
// affected), but for NoFirmware, which puts the module in its boot code;
// see Fault.
//
// Threads: every public function may be called from any thread. Delayed
// output (late replies, start-up announcements, over-the-air replies, the
// live network) comes from an internal scheduler thread that blocks on a
// condition variable until the next task is due. Output reaches the attached
// SimSink with the module's lock held, in the order produced; a sink must
// therefore never call back into the module.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <queue>
#include <random>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/clock.h"
#include "link/frame.h"
#include "link/packet.h"
#include "link/serial_port.h"
#include "sim/sim_bootloader.h"

namespace qmx::sim {

enum class MatchMode {
  Uart,             // baud rate, data bits and parity
  Full,             // baud rate, data bits, parity and stop bits
  BaudRate,         // baud rate only (a pty, as a UART would see it)
  BaudAndStopBits,  // baud rate and stop bits (a pty, strict)
};

// The module's serial line and how strictly a host line must match it.
struct SimLine {
  LineSettings settings;
  MatchMode match = MatchMode::Uart;
  bool Accepts(const LineSettings& host) const;
};

// Bank 3 codes and line settings.
std::optional<std::uint32_t> BaudFromCode(std::uint8_t code);
std::optional<std::uint8_t> CodeFromBaud(std::uint32_t baud);
// Parity and stop bits of a bank 3 register 1 code (parity::/stopbits:: values).
std::optional<LineSettings> LineFromCodes(std::uint8_t baudCode, std::uint8_t paramCode);
std::optional<std::array<std::uint8_t, 2>> CodesFromLine(const LineSettings& line);

// Receives what the module sends on its serial line.
class SimSink {
 public:
  virtual ~SimSink() = default;
  // Bytes sent at `line`; the sink decides whether its own line matches.
  virtual void OnOutput(std::span<const std::uint8_t> bytes, const SimLine& line) = 0;
  // The module was unplugged; the sink is detached after this call.
  virtual void OnUnplug() = 0;
};

enum class Fault {
  DropReply,       // the next `count` replies are lost (the command still acts)
  NeverReply,      // commands are ignored entirely, nothing is answered
  LateReply,       // replies go out `param` ms late
  DuplicateReply,  // each reply is sent twice
  WrongSequence,   // replies carry the sequence number + `param` (mod 128, default 1)
  Noise,           // `param` noise bytes (never 0xFB, default 8) precede each reply
  OverlongLength,  // a stray 0xFB and length byte `param` (default 101) precede each reply
  Unplug,          // the module is unplugged when a command arrives after `param` more replies
  // Not a fault of the replies: the firmware is gone (as after an upgrade
  // cut short). The module starts again and stays in its boot code until a
  // complete image is programmed and "E" CR follows; count and param unused.
  NoFirmware,
};

// What the radios of a live network do by themselves (see the top).
struct NetworkTraffic {
  bool live = false;
  // Mean time between two reports of one remote.
  std::chrono::milliseconds interval{5000};
  // Time between two remotes' joins after the PAN has formed.
  std::chrono::milliseconds joinSpacing{1000};
};

struct SimOptions {
  MatchMode match = MatchMode::Uart;
  std::chrono::milliseconds bootTime{300};
  std::chrono::milliseconds panFormTime{50};
  std::chrono::milliseconds remoteLatency{20};
  // A partial frame followed by this much silence is dropped with Announce 0xE3.
  std::chrono::milliseconds parserTimeout{250};
  bool remoteDataEcho = false;
  bool transparentEcho = true;
  // Seeds the faults' noise, the link quality jitter, the loss model and,
  // through a generator of its own, the live network.
  std::uint32_t seed = 1;
  // The remotes of the network: addresses 1 … remotes (at most 200).
  int remotes = 3;
  NetworkTraffic network{};
  // Where the module's timers take their time from; the steady clock when
  // null. It must outlive the module.
  TimeSource* time = nullptr;
};

// Options of a module whose network is live, each remote reporting about
// every `interval`; a zero interval gives the quiet default.
SimOptions LiveNetwork(std::chrono::milliseconds interval, std::uint32_t seed = 1);

// The local radio in calls that take a radio; remotes are named by address.
inline constexpr int kLocal = -1;

class SimModule {
 public:
  explicit SimModule(SimOptions options = {});
  ~SimModule();
  SimModule(const SimModule&) = delete;
  SimModule& operator=(const SimModule&) = delete;

  // --- the serial line ---
  // Bytes written by a host whose line is `hostLine`.
  void FromHost(std::span<const std::uint8_t> bytes, const LineSettings& hostLine);
  // Attaches the one receiver of output (an open port). False while another
  // is attached or the module is unplugged.
  bool Attach(SimSink* sink);
  // Detaches `sink` if it is attached; no call reaches it afterwards.
  void Detach(SimSink* sink);
  SimLine Line() const;
  // Sets the line in the working and saved settings and applies it now.
  // False for a line the module cannot run.
  bool SetLine(const LineSettings& line);

  // --- state ---
  bool InProtocolMode() const;
  bool Booting() const;
  // Working (or saved) register bytes of a radio; nothing for an unknown
  // radio, bank or range.
  std::optional<std::vector<std::uint8_t>> Registers(int radio, std::uint8_t bank, std::uint8_t reg,
                                                     std::uint8_t span, bool saved = false) const;
  // Test access: overwrites working register bytes (any bank, no checks but
  // the bank's bounds).
  bool PokeRegisters(int radio, std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> bytes);
  // FCC mode set since the radio's last start, 0 when none.
  int FccMode(int radio) const;
  // Every frame the module took as a command (protocol mode, and Enter
  // Protocol Mode in transparent mode), oldest first; at most 4096 kept.
  std::vector<Frame> ReceivedFrames() const;
  void ClearReceivedFrames();

  // --- power and plug ---
  // Cold start: reloads the saved settings and boots.
  void PowerCycle();
  // Unplugs: the attached sink gets OnUnplug, input and output stop.
  void Unplug();
  // Plugs back in and powers up (cold start).
  void Plug();
  bool IsPlugged() const;

  // --- the radio network ---
  std::vector<std::uint16_t> Remotes() const;
  // A remote joins (created with fresh settings when unknown); the base
  // announces it with 0xA2.
  void JoinRemote(std::uint16_t address);
  // A remote leaves; the base announces 0xA5. It stays known but unlinked.
  void LeaveRemote(std::uint16_t address);
  // Link state without announcements.
  void SetRemoteLinked(std::uint16_t address, bool linked);
  void SetLocalLinked(bool linked);
  // The link quality of one remote: replies from it carry this LQI give or
  // take 4, its RX Data and RX Events carry it as it is (reports of the live
  // network give or take 4). Each remote starts with its own (0xD8, 0xB8,
  // 0x98 for remotes 1 to 3).
  void SetRemoteLqi(std::uint16_t address, std::uint8_t lqi);
  // Share of over-the-air exchanges with this remote that are lost, 0 … 100:
  // commands to it then get TX Status 1 and LQI 0, and reports of the live
  // network from it never arrive. 0 for every remote at the start. Address
  // 0x0000 is the base that a local remote reaches.
  void SetRemoteLoss(std::uint16_t address, int percent);
  void SetRemoteDataEcho(bool on);
  // Sets input pin `pin` (0 … 5) of a remote to `high`, as a switch or a
  // sensor would. A change of level makes the remote send an RX Event with
  // its bank 5 from register 0 (in protocol mode, while linked, unless the
  // loss model drops it). False for an unknown remote or pin, or a pin that
  // bank 6 register 0 makes an output.
  bool SetRemoteInput(std::uint16_t address, int pin, bool high);

  // --- asynchronous output on demand ---
  // RX Data from a remote (raw bytes in transparent mode).
  void SendRxData(std::uint16_t from, std::span<const std::uint8_t> data);
  // Announce with `code` and its fields (bytes 1 … of the payload).
  void SendAnnounce(std::uint8_t code, std::span<const std::uint8_t> fields = {});
  // RX Event carrying the remote's bank 5 from register 0.
  void SendRxEvent(std::uint16_t from);
  void SendRxEvent(std::uint16_t from, std::span<const std::uint8_t> data);

  // Blocks until every task that is due by the clock's present time has
  // run. A test on a fake clock calls it after moving the clock, to see all
  // that the time brought.
  void WaitUntilIdle() const;
  // When the next task is due, if one is waiting.
  std::optional<Clock::time_point> NextDue() const;

  // --- the boot code ---
  // Runs `f` with the boot code, under the module's lock (configuration,
  // faults, the stored image); `f` must not call back into the module.
  void WithBootloader(const std::function<void(SimBootloader&)>& f);
  // The host entered the boot code, which has the line until "E" CR.
  bool InBootCode() const;

  // --- faults ---
  // `count`: replies affected (-1: all until cleared); `param` as in Fault,
  // 0 for the default.
  void SetFault(Fault fault, int count = -1, int param = 0);
  void ClearFault(Fault fault);
  void ClearFaults();

 private:
  static constexpr std::size_t kBankCount = 8;
  static constexpr std::size_t kLongestBank = 75;
  using BankBytes = std::array<std::uint8_t, kLongestBank>;
  using Banks = std::array<BankBytes, kBankCount>;

  struct Radio {
    std::uint16_t address = 0;
    Banks working{};
    Banks saved{};
    Banks factory{};
    bool linked = true;
    bool rebooting = false;
    std::uint8_t lqi = 0xC0;
    int lossPercent = 0;
    int fccMode = 0;
    std::uint64_t bootGeneration = 0;
    Clock::time_point bootedAt{};
    std::uint8_t index = 0;  // 1, 2, 3 … in the order made; 0 for the local radio
    std::uint32_t reports = 0;  // made by the live network
  };

  struct FaultState {
    bool active = false;
    int count = -1;
    int param = 0;
  };

  struct Task {
    Clock::time_point due;
    std::uint64_t order;
    std::function<void()> run;
    bool operator>(const Task& o) const { return due != o.due ? due > o.due : order > o.order; }
  };

  enum class Phase { Running, Booting };

  using Lock = std::unique_lock<std::mutex>;

  // Scheduler.
  void SchedulerLoop();
  // Schedules `task` `delay` after TaskNow().
  void After(Clock::duration delay, std::function<void()> task);
  // The time the running task was due, or the clock's time outside tasks.
  Clock::time_point TaskNow() const;

  // Output (lock held).
  void Emit(std::span<const std::uint8_t> bytes);
  void EmitFrame(std::uint8_t seq, std::uint8_t type, std::span<const std::uint8_t> payload);
  void EmitAnnounce(std::uint8_t code, std::span<const std::uint8_t> fields = {});
  // RX Data or RX Event from `from` with `lqi`.
  void EmitFromRemote(std::uint8_t type, std::uint16_t from, std::uint8_t lqi, std::span<const std::uint8_t> data);
  // Answers `command`; `after` runs once the reply has gone out (or was lost).
  void Reply(const Frame& command, std::uint8_t type, std::span<const std::uint8_t> payload,
             std::chrono::milliseconds delay = std::chrono::milliseconds(0), std::function<void()> after = {});
  bool TakeFault(Fault fault, int* param = nullptr);
  bool Faulty(Fault fault) const;

  // Input (lock held).
  std::optional<Frame> TransparentByte(std::uint8_t byte, std::vector<std::uint8_t>& passThrough);
  void PassThrough(std::span<const std::uint8_t> bytes);
  void ArmParserTimeout();
  void OnFrame(const Frame& frame);
  // One handler per command type, after the override's bookkeeping.
  void HandleCommand(const Frame& frame);
  void TrackOverride(std::uint8_t type, std::span<const std::uint8_t> payload);
  void HandleEnter(const Frame& frame);
  void HandleExit(const Frame& frame);
  void HandleReset(const Frame& frame);
  void HandleGetRegister(const Frame& frame);
  void HandleSetRegister(const Frame& frame);
  void HandleTxData(const Frame& frame);
  void HandleGetRemote(const Frame& frame);
  void HandleSetRemote(const Frame& frame);

  // Registers (lock held). The checks return the announce code of a refusal,
  // 0 when the access is allowed.
  std::uint8_t CheckRead(std::uint8_t bank, std::uint8_t reg, std::uint8_t span) const;
  std::vector<std::uint8_t> ReadRegs(Radio& radio, std::uint8_t bank, std::uint8_t reg, std::uint8_t span);
  std::uint8_t CheckWrite(const Radio& radio, std::uint8_t bank, std::uint8_t reg,
                          std::span<const std::uint8_t> data, bool local) const;
  // Applies a checked write; returns what is to happen after the reply.
  std::function<void()> ApplyWrite(Radio& radio, std::uint8_t bank, std::uint8_t reg,
                                   std::span<const std::uint8_t> data, bool local);
  // Factory-protected registers (the MAC address, the FCC mode).
  static bool ProtectedWrite(std::uint8_t bank, std::uint8_t reg);
  // A protected write has used the override; only its repeats may follow.
  void UseOverride(const Frame& frame);

  // Radios, power and network (lock held).
  Radio MakeRadio(std::uint16_t address, bool base, std::uint8_t index);
  Radio* FindRadio(int radio);
  const Radio* FindRadio(int radio) const;
  // The radio at `address` over the air: a remote, or the base at 0x0000
  // while the local radio is a remote; null for nobody.
  Radio* AirPeer(std::uint16_t address);
  // TX status and LQI of one exchange with `address`; `remote` is set when
  // it was acknowledged.
  std::pair<std::uint8_t, std::uint8_t> AirExchange(std::uint16_t address, Radio** remote);
  void StartBoot(bool cold);
  void FinishBoot(std::uint64_t generation);
  // 0xA0 now (when bank 4 says so), then 0xA1 or 0xA3 and, on a live
  // network, the remotes' joins.
  void AnnounceStartup(std::uint64_t generation);
  void RebootRemote(Radio& remote);
  void RemoteBooted(std::uint16_t address, std::uint64_t generation);
  void UnplugLocked();
  void ApplyLineFromBanks();
  void DriftInputs(Radio& radio);
  void RefreshLive(Radio& radio) const;
  void Count(std::uint8_t reg, std::uint8_t width);
  void AnnounceJoined(const Radio& remote);
  void SendRxDataLocked(std::uint16_t from, std::span<const std::uint8_t> data);
  void ReportInputs(const Radio& remote, std::uint8_t lqi);

  // The live network (lock held).
  // Unlinks every remote until it joins again; ends the reports.
  void HoldRemotes();
  void JoinInTurn();
  void StartReports(std::uint16_t address);
  void ScheduleReport(std::uint16_t address, std::uint64_t generation);
  void Report(std::uint16_t address, std::uint64_t generation);
  void FollowPatterns(Radio& remote);
  // The local radio is up and linked, and `remote` is linked and awake.
  bool Reaches(const Radio& remote) const;
  bool LostOnAir(const Radio& remote);
  std::uint8_t NetworkLqi(const Radio& remote);
  std::string TagOf(const Radio& remote) const;
  void AnswerTyped(std::span<const std::uint8_t> bytes);

  SimOptions options_;
  TimeSource& time_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::priority_queue<Task, std::vector<Task>, std::greater<Task>> tasks_;
  std::uint64_t taskOrder_ = 0;
  bool stopping_ = false;

  SimSink* sink_ = nullptr;
  bool plugged_ = true;
  SimLine line_;
  Phase phase_ = Phase::Running;
  bool protocolMode_ = false;
  bool overrideArmed_ = false;  // for the command being handled
  bool overrideFresh_ = false;   // an override came and no protected write used it yet
  std::optional<std::vector<std::uint8_t>> overrideUsedBy_;  // type and payload of the write that used it
  std::uint64_t bootGeneration_ = 0;

  FrameAssembler assembler_;
  std::vector<std::uint8_t> held_;  // transparent mode: a possible Enter Protocol Mode frame
  std::uint64_t inputGeneration_ = 0;

  Radio local_;
  std::map<std::uint16_t, Radio> remotes_;
  Radio parent_;  // the base a local remote reaches
  std::map<Fault, FaultState> faults_;
  int unplugAfter_ = -1;  // replies left before the Unplug fault strikes

  std::deque<Frame> received_;
  std::mt19937 rng_;

  mutable std::condition_variable idle_;  // a task has run
  std::optional<Clock::time_point> taskDue_;

  std::mt19937 networkRng_;
  bool networkStarted_ = false;
  std::uint64_t networkGeneration_ = 0;
  std::set<std::uint16_t> reporting_;  // remotes whose reports run
  Clock::time_point networkEpoch_{};
  std::string typedLine_;  // transparent mode: the line typed so far

  SimBootloader boot_;

  std::thread scheduler_;  // last: starts after everything above exists
};

}  // namespace qmx::sim
