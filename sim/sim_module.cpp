// The simulated module's public face: construction, power and plug, the
// boot phases, state queries, the network's calls and the faults.
#include "sim/sim_module.h"

#include <algorithm>

#include "sim/sim_internal.h"

namespace qmx::sim {

using namespace internal;
using std::chrono::milliseconds;

// ---------------------------------------------------------------------------
// Construction

SimOptions LiveNetwork(milliseconds interval, std::uint32_t seed) {
  SimOptions o;
  o.seed = seed;
  o.network.live = interval.count() > 0;
  if (o.network.live) o.network.interval = interval;
  return o;
}

SimModule::SimModule(SimOptions options)
    : options_(options),
      scheduler_(mutex_, options.time ? *options.time : SteadyTime()),
      rng_(options.seed),
      local_(SimRadio::Make(0x0000, true, 0, scheduler_.Time().Now())),
      network_(options_, local_, scheduler_, rng_,
               SimNetwork::Hooks{
                   .up = [this] { return plugged_ && phase_ == Phase::Running; },
                   .protocolMode = [this] { return protocolMode_; },
                   .raw = [this](std::span<const std::uint8_t> bytes) { Emit(bytes); },
                   .announce = [this](std::uint8_t code,
                                      std::span<const std::uint8_t> fields) { EmitAnnounce(code, fields); },
                   .fromRemote =
                       [this](std::uint8_t type, std::uint16_t from, std::uint8_t lqi,
                              std::span<const std::uint8_t> data) { EmitFromRemote(type, from, lqi, data); },
               }),
      boot_(SimBootloader::Hooks{
          .send =
              [this](std::span<const std::uint8_t> bytes) {
                if (plugged_ && sink_ != nullptr) sink_->OnOutput(bytes, SimLine{SimBootloader::Line(), line_.match});
              },
          .after = [this](Clock::duration delay, std::function<void()> task) { scheduler_.After(delay, std::move(task)); },
          .now = [this] { return scheduler_.Now(); },
          .leave =
              [this] {
                const auto generation = ++bootGeneration_;
                if (options_.appStartTime.count() == 0) FinishBoot(generation);
                else scheduler_.After(options_.appStartTime, [this, generation] { FinishBoot(generation); });
              },
      }) {
  line_.match = options_.match;
  ApplyLineFromBanks();
  // The module was powered before anyone looked: it is running, without
  // start-up announcements.
  protocolMode_ = local_.regs.working[bi::B4][reg4::ProtocolMode] == kProtocolModeProtocol;
  // Last: tasks may run from here on.
  scheduler_.Start();
}

SimModule::~SimModule() { scheduler_.Stop(); }

void SimModule::WaitUntilIdle() const { scheduler_.WaitUntilIdle(); }

std::optional<Clock::time_point> SimModule::NextDue() const { return scheduler_.NextDue(); }

void SimModule::WithBootloader(const std::function<void(SimBootloader&)>& f) {
  std::lock_guard lock(mutex_);
  f(boot_);
}

bool SimModule::InBootCode() const {
  std::lock_guard lock(mutex_);
  return boot_.Entered();
}

// ---------------------------------------------------------------------------
// Radios

SimRadio* SimModule::FindRadio(int radio) {
  if (radio == kLocal) return &local_;
  if (radio < 0 || radio > 0xFFFF) return nullptr;
  return network_.Find(static_cast<std::uint16_t>(radio));
}

const SimRadio* SimModule::FindRadio(int radio) const { return const_cast<SimModule*>(this)->FindRadio(radio); }

void SimModule::ApplyLineFromBanks() {
  if (auto line = local_.regs.Line()) line_.settings = *line;
}

// ---------------------------------------------------------------------------
// Booting

void SimModule::StartBoot(bool cold) {
  if (cold) local_.regs.ReloadSaved();
  phase_ = Phase::Booting;
  protocolMode_ = false;
  assembler_.Reset();
  held_.clear();
  override_.Reset();
  local_.regs.fccMode = 0;
  const auto generation = ++bootGeneration_;
  // The boot code listens during this window.
  boot_.Open();
  scheduler_.After(options_.bootTime, [this, generation] { FinishBoot(generation); });
}

void SimModule::FinishBoot(std::uint64_t generation) {
  if (generation != bootGeneration_ || !plugged_) return;
  // A host that entered the boot code keeps the module there until "E" CR.
  if (boot_.CloseWindow()) return;
  phase_ = Phase::Running;
  ApplyLineFromBanks();
  auto& w = local_.regs.working;
  protocolMode_ = w[bi::B4][reg4::ProtocolMode] == kProtocolModeProtocol;
  local_.bootedAt = scheduler_.Time().Now();
  local_.regs.Start();
  const std::uint8_t mode = local_.regs.DeviceMode();
  std::copy_n(w[bi::B0].begin() + reg0::InitialPanId, 2, w[bi::B2].begin() + reg2::PanId);
  if (mode == kDeviceBase) Put16(w[bi::B2], reg2::NetworkAddress, 0x0000);
  AnnounceStartup(generation);
}

void SimModule::AnnounceStartup(std::uint64_t generation) {
  if (local_.regs.working[bi::B4][reg4::StartupAnnounce] != 0) EmitAnnounce(announce::Startup);
  if (options_.network.live) network_.Start();
  const std::uint8_t mode = local_.regs.DeviceMode();
  scheduler_.After(options_.panFormTime, [this, generation, mode] {
    if (generation != bootGeneration_ || phase_ != Phase::Running || !plugged_) return;
    const auto& b2 = local_.regs.working[bi::B2];
    if (mode == kDeviceBase) {
      EmitAnnounce(announce::PanFormed, std::span(b2).subspan(reg2::PanId, 2));
      if (options_.network.live) network_.JoinInTurn();
    } else if (mode == kDeviceRemote) {
      std::array<std::uint8_t, 4> fields{b2[reg2::PanId], b2[reg2::PanId + 1], b2[reg2::NetworkAddress],
                                         b2[reg2::NetworkAddress + 1]};
      EmitAnnounce(announce::JoinedPan, fields);
    }
  });
}

// ---------------------------------------------------------------------------
// Public: line and state

bool SimModule::Attach(SimSink* sink) {
  std::lock_guard lock(mutex_);
  if (!plugged_ || sink_ != nullptr || sink == nullptr) return false;
  sink_ = sink;
  if (options_.network.live && !network_.Started()) {
    // Power-up: the host's first command is answered at once, the start-up
    // is announced when a boot would have ended.
    network_.Start();
    scheduler_.After(options_.bootTime, [this, generation = bootGeneration_] {
      if (generation == bootGeneration_ && phase_ == Phase::Running && plugged_) AnnounceStartup(generation);
    });
  }
  return true;
}

void SimModule::Detach(SimSink* sink) {
  std::lock_guard lock(mutex_);
  if (sink_ == sink) sink_ = nullptr;
}

SimLine SimModule::Line() const {
  std::lock_guard lock(mutex_);
  return line_;
}

bool SimModule::SetLine(const LineSettings& line) {
  std::lock_guard lock(mutex_);
  auto codes = CodesFromLine(line);
  if (!codes) return false;
  local_.regs.SetLineCodes(*codes);
  ApplyLineFromBanks();
  return true;
}

bool SimModule::InProtocolMode() const {
  std::lock_guard lock(mutex_);
  return protocolMode_ && phase_ == Phase::Running;
}

bool SimModule::Booting() const {
  std::lock_guard lock(mutex_);
  return phase_ == Phase::Booting;
}

std::optional<std::vector<std::uint8_t>> SimModule::Registers(int radio, std::uint8_t bank, std::uint8_t reg,
                                                              std::uint8_t span, bool saved) const {
  std::lock_guard lock(mutex_);
  const SimRadio* r = FindRadio(radio);
  if (!r) return std::nullopt;
  return r->regs.Peek(bank, reg, span, saved);
}

bool SimModule::PokeRegisters(int radio, std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  SimRadio* r = FindRadio(radio);
  return r && r->regs.Poke(bank, reg, bytes);
}

int SimModule::FccMode(int radio) const {
  std::lock_guard lock(mutex_);
  const SimRadio* r = FindRadio(radio);
  return r ? r->regs.fccMode : 0;
}

std::vector<Frame> SimModule::ReceivedFrames() const {
  std::lock_guard lock(mutex_);
  return {received_.begin(), received_.end()};
}

void SimModule::ClearReceivedFrames() {
  std::lock_guard lock(mutex_);
  received_.clear();
}

// ---------------------------------------------------------------------------
// Public: power and plug

void SimModule::PowerCycle() {
  std::lock_guard lock(mutex_);
  if (plugged_) StartBoot(true);
}

void SimModule::UnplugLocked() {
  if (!plugged_) return;
  plugged_ = false;
  ++bootGeneration_;
  boot_.Off();
  faults_.erase(Fault::Unplug);
  SimSink* sink = sink_;
  sink_ = nullptr;
  if (sink) sink->OnUnplug();
}

void SimModule::Unplug() {
  std::lock_guard lock(mutex_);
  UnplugLocked();
}

void SimModule::Plug() {
  std::lock_guard lock(mutex_);
  if (plugged_) return;
  plugged_ = true;
  StartBoot(true);
}

bool SimModule::IsPlugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

// ---------------------------------------------------------------------------
// Public: the radio network and asynchronous output

std::vector<std::uint16_t> SimModule::Remotes() const {
  std::lock_guard lock(mutex_);
  return network_.Addresses();
}

void SimModule::JoinRemote(std::uint16_t address) {
  std::lock_guard lock(mutex_);
  network_.Join(address);
}

void SimModule::LeaveRemote(std::uint16_t address) {
  std::lock_guard lock(mutex_);
  network_.Leave(address);
}

void SimModule::SetRemoteLinked(std::uint16_t address, bool linked) {
  std::lock_guard lock(mutex_);
  network_.SetLinked(address, linked);
}

void SimModule::SetLocalLinked(bool linked) {
  std::lock_guard lock(mutex_);
  local_.regs.SetLinkUp(linked);
}

void SimModule::SetRemoteLqi(std::uint16_t address, std::uint8_t lqi) {
  std::lock_guard lock(mutex_);
  network_.SetLqi(address, lqi);
}

void SimModule::SetRemoteLoss(std::uint16_t address, int percent) {
  std::lock_guard lock(mutex_);
  network_.SetLoss(address, percent);
}

void SimModule::SetRemoteDataEcho(bool on) {
  std::lock_guard lock(mutex_);
  options_.remoteDataEcho = on;
}

bool SimModule::SetRemoteInput(std::uint16_t address, int pin, bool high) {
  std::lock_guard lock(mutex_);
  return network_.SetInput(address, pin, high);
}

void SimModule::SendRxData(std::uint16_t from, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  network_.SendRxData(from, data);
}

void SimModule::SendAnnounce(std::uint8_t code, std::span<const std::uint8_t> fields) {
  std::lock_guard lock(mutex_);
  EmitAnnounce(code, fields.first(std::min(fields.size(), kMaxPayload - 1)));
}

void SimModule::SendRxEvent(std::uint16_t from, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  network_.SendRxEvent(from, data);
}

void SimModule::SendRxEvent(std::uint16_t from) {
  std::lock_guard lock(mutex_);
  network_.SendRxEvent(from);
}

// Public: faults

void SimModule::SetFault(Fault fault, int count, int param) {
  std::lock_guard lock(mutex_);
  if (fault == Fault::NoFirmware) {
    boot_.LoseFirmware();
    if (plugged_) StartBoot(true);
    return;
  }
  if (count == 0) {
    faults_.erase(fault);
    return;
  }
  faults_[fault] = FaultState{true, count, param};
  if (fault == Fault::Unplug) unplugAfter_ = std::max(param, 0);
}

void SimModule::ClearFault(Fault fault) {
  std::lock_guard lock(mutex_);
  faults_.erase(fault);
}

void SimModule::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

}  // namespace qmx::sim
