// The simulated module's radio network: the remotes it reaches over the air
// (and the base a local remote reaches), what an exchange on the air gives,
// and the live network whose remotes join and report by themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "link/clock.h"
#include "sim/sim_registers.h"
#include "sim/sim_scheduler.h"

namespace qmx::sim {

struct SimOptions;

// One radio: its registers and its state on the air.
struct SimRadio {
  std::uint16_t address = 0;
  std::uint8_t index = 0;  // 1, 2, 3 … in the order made; 0 for the local radio
  RegisterStore regs;
  bool linked = true;
  bool rebooting = false;
  std::uint8_t lqi = 0xC0;
  int lossPercent = 0;
  std::uint64_t bootGeneration = 0;
  Clock::time_point bootedAt{};
  std::uint32_t reports = 0;  // made by the live network

  // A radio with factory settings (see RegisterStore::Factory) that started
  // at `now`.
  static SimRadio Make(std::uint16_t address, bool base, std::uint8_t index, Clock::time_point now);
};

// Every call is made with the module's lock held.
class SimNetwork {
 public:
  // What the network needs of the module.
  struct Hooks {
    // The module is plugged in and its application runs.
    std::function<bool()> up;
    std::function<bool()> protocolMode;
    // Bytes on the serial line as they are (transparent mode).
    std::function<void(std::span<const std::uint8_t>)> raw;
    // An Announce with `code` and its fields.
    std::function<void(std::uint8_t code, std::span<const std::uint8_t> fields)> announce;
    // RX Data or RX Event (`type`) from `from` with `lqi`.
    std::function<void(std::uint8_t type, std::uint16_t from, std::uint8_t lqi, std::span<const std::uint8_t> data)>
        fromRemote;
  };

  // `options`, `local` (the module's own radio), `scheduler` and `rng` (the
  // module's generator: the replies' link quality and loss, the readings'
  // drift) belong to the module and outlive the network. Makes the remotes
  // of `options`.
  SimNetwork(const SimOptions& options, SimRadio& local, SimScheduler& scheduler, std::mt19937& rng, Hooks hooks);

  // --- the radios ---
  std::vector<std::uint16_t> Addresses() const;
  // A remote; null for an unknown address.
  SimRadio* Find(std::uint16_t address);
  const SimRadio* Find(std::uint16_t address) const;
  // A remote joins (made with factory settings when unknown) and the base
  // announces it with 0xA2.
  void Join(std::uint16_t address);
  // A remote leaves (0xA5); it stays known but unlinked.
  void Leave(std::uint16_t address);
  void SetLinked(std::uint16_t address, bool linked);
  // Address 0x0000 also sets the base that a local remote reaches.
  void SetLqi(std::uint16_t address, std::uint8_t lqi);
  void SetLoss(std::uint16_t address, int percent);
  // An input pin of a remote changes level; see SimModule::SetRemoteInput.
  bool SetInput(std::uint16_t address, int pin, bool high);
  // The remote at `address` reboots (bank 255 register 0); once up again it
  // is announced as joined.
  void Reboot(std::uint16_t address);

  // --- the air ---
  // TX status and LQI of one command's exchange with `address`, counted in
  // the local radio's statistics; `remote` is set when it was acknowledged.
  std::pair<std::uint8_t, std::uint8_t> Exchange(std::uint16_t address, SimRadio** remote);
  // RX Data from `from` (raw bytes in transparent mode).
  void SendRxData(std::uint16_t from, std::span<const std::uint8_t> data);
  // RX Event from `from` with `data`, or with its bank 5 from register 0.
  void SendRxEvent(std::uint16_t from, std::span<const std::uint8_t> data);
  void SendRxEvent(std::uint16_t from);
  void AnnounceJoined(const SimRadio& remote);

  // --- the live network ---
  bool Started() const { return started_; }
  // The base has started: every remote is unlinked until it joins again,
  // and the reports end.
  void Start();
  // The PAN has formed: the remotes join one after another; with churn,
  // they then leave and come back now and then.
  void JoinInTurn();
  // Bytes typed in transparent mode: each line is answered by a remote.
  void Typed(std::span<const std::uint8_t> bytes);

 private:
  // The radio at `address` over the air: a remote, or the base at 0x0000
  // while the local radio is a remote; null for nobody.
  SimRadio* AirPeer(std::uint16_t address);
  void RemoteBooted(std::uint16_t address, std::uint64_t generation);
  void ReportInputs(const SimRadio& remote, std::uint8_t lqi);
  void StartReports(std::uint16_t address);
  void ScheduleReport(std::uint16_t address, std::uint64_t generation);
  void Report(std::uint16_t address, std::uint64_t generation);
  void FollowPatterns(SimRadio& remote);
  // Churn: one remote leaves now and then, and comes back a while later.
  void ScheduleChurn(std::uint64_t generation);
  void ChurnLeave(std::uint64_t generation);
  void ChurnReturn(std::uint8_t index, std::uint64_t generation);
  // Puts a remote that was away back in the address table, at its own
  // address unless `moves` or that address is taken.
  SimRadio& Return(SimRadio remote, bool moves);
  // An address that no remote, joined or away, holds.
  std::uint16_t FreshAddress();
  // The local radio is up and linked, and `remote` is linked and awake.
  bool Reaches(const SimRadio& remote) const;
  bool LostOnAir(const SimRadio& remote);
  std::uint8_t NetworkLqi(const SimRadio& remote);
  std::string TagOf(const SimRadio& remote) const;

  const SimOptions& options_;
  SimRadio& local_;
  SimScheduler& scheduler_;
  std::mt19937& rng_;
  Hooks hooks_;

  std::map<std::uint16_t, SimRadio> remotes_;
  SimRadio parent_;  // the base a local remote reaches

  std::mt19937 networkRng_;
  bool started_ = false;
  std::uint64_t generation_ = 0;
  std::set<std::uint16_t> reporting_;  // addresses whose reports run
  // Remotes that left with churn: out of the address table until they return.
  std::vector<SimRadio> away_;
  std::uint16_t nextAddress_ = 1;  // where the search for a fresh address starts
  Clock::time_point epoch_{};
  std::string typedLine_;  // transparent mode: the line typed so far
};

}  // namespace qmx::sim
