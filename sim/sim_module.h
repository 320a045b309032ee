// A software model of one QMX2400 module on a serial line and of the radios
// it reaches over the air. Plain C++; it uses only the frame codec and the
// shared types of the link. How the module behaves (modes, registers, the
// network, the boot code, faults, timing) is described in sim/README.md.
//
// SimModule is the public face and handles the serial line and the
// commands; it composes a SimScheduler (timed tasks), a SimNetwork (the
// remotes and the air, each radio with a RegisterStore) and a SimBootloader.
// Every public function may be called from any thread; output reaches the
// attached SimSink with the module's lock held, so a sink must never call
// back into the module.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "link/clock.h"
#include "link/frame.h"
#include "link/packet.h"
#include "link/serial_port.h"
#include "sim/sim_bootloader.h"
#include "sim/sim_line.h"
#include "sim/sim_network.h"
#include "sim/sim_options.h"
#include "sim/sim_registers.h"
#include "sim/sim_scheduler.h"

namespace qmx::sim {

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
  struct FaultState {
    bool active = false;
    int count = -1;
    int param = 0;
  };

  enum class Phase { Running, Booting };

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

  // Commands (lock held): one handler per command type, after the
  // override's bookkeeping.
  void HandleCommand(const Frame& frame);
  void HandleEnter(const Frame& frame);
  void HandleExit(const Frame& frame);
  void HandleReset(const Frame& frame);
  void HandleGetRegister(const Frame& frame);
  void HandleSetRegister(const Frame& frame);
  void HandleTxData(const Frame& frame);
  void HandleGetRemote(const Frame& frame);
  void HandleSetRemote(const Frame& frame);
  // A checked read of `radio`; its live values are brought up to date first.
  std::vector<std::uint8_t> ReadRegs(SimRadio& radio, std::uint8_t bank, std::uint8_t reg, std::uint8_t span);
  // Applies a checked write; returns what is to happen after the reply.
  std::function<void()> ApplyWrite(SimRadio& radio, std::uint8_t bank, std::uint8_t reg,
                                   std::span<const std::uint8_t> data, bool local);

  // Power and starts (lock held).
  SimRadio* FindRadio(int radio);
  const SimRadio* FindRadio(int radio) const;
  void StartBoot(bool cold);
  void FinishBoot(std::uint64_t generation);
  // 0xA0 now (when bank 4 says so), then 0xA1 or 0xA3 and, on a live
  // network, the remotes' joins.
  void AnnounceStartup(std::uint64_t generation);
  void UnplugLocked();
  void ApplyLineFromBanks();

  SimOptions options_;
  mutable std::mutex mutex_;  // the module's lock: guards everything below
  SimScheduler scheduler_;

  SimSink* sink_ = nullptr;
  bool plugged_ = true;
  SimLine line_;
  Phase phase_ = Phase::Running;
  bool protocolMode_ = false;
  std::uint64_t bootGeneration_ = 0;
  FactoryOverride override_;

  FrameAssembler assembler_;
  std::vector<std::uint8_t> held_;  // transparent mode: a possible Enter Protocol Mode frame
  std::uint64_t inputGeneration_ = 0;

  std::map<Fault, FaultState> faults_;
  int unplugAfter_ = -1;  // replies left before the Unplug fault strikes
  std::deque<Frame> received_;
  // The faults' noise, the replies' link quality and loss, the readings' drift.
  std::mt19937 rng_;

  SimRadio local_;
  SimNetwork network_;
  SimBootloader boot_;
};

}  // namespace qmx::sim
