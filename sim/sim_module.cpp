#include "sim/sim_module.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "sim/sim_internal.h"

namespace qmx::sim {

using namespace internal;
using std::chrono::milliseconds;

// ---------------------------------------------------------------------------
// Construction and the scheduler

SimOptions LiveNetwork(milliseconds interval, std::uint32_t seed) {
  SimOptions o;
  o.seed = seed;
  o.network.live = interval.count() > 0;
  if (o.network.live) o.network.interval = interval;
  return o;
}

SimModule::SimModule(SimOptions options)
    : options_(options),
      time_(options.time ? *options.time : SteadyTime()),
      rng_(options.seed),
      networkRng_(options.seed ^ 0x9E3779B9u),
      boot_(SimBootloader::Hooks{
          .send =
              [this](std::span<const std::uint8_t> bytes) {
                if (plugged_ && sink_ != nullptr) sink_->OnOutput(bytes, SimLine{SimBootloader::Line(), line_.match});
              },
          .after = [this](Clock::duration delay, std::function<void()> task) { After(delay, std::move(task)); },
          .now = [this] { return TaskNow(); },
          .leave = [this] { FinishBoot(++bootGeneration_); },
      }) {
  line_.match = options_.match;
  local_ = MakeRadio(0x0000, true, 0);
  parent_ = MakeRadio(0x0000, true, 0);
  parent_.lqi = 0xC8;
  const int remotes = std::clamp(options_.remotes, 0, 200);
  for (int i = 1; i <= remotes; ++i)
    remotes_.emplace(static_cast<std::uint16_t>(i), MakeRadio(static_cast<std::uint16_t>(i), false, static_cast<std::uint8_t>(i)));
  ApplyLineFromBanks();
  // The module was powered before anyone looked: it is running, without
  // start-up announcements.
  protocolMode_ = local_.working[bi::B4][reg4::ProtocolMode] == kProtocolModeProtocol;
  // A clock moved by hand wakes the scheduler under the module's lock, so
  // that neither its move nor a new task can slip past the scheduler's
  // check of the time before it blocks.
  if (!time_.Steady()) time_.OnMove(this, [this] {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
  });
  scheduler_ = std::thread([this] { SchedulerLoop(); });
}

SimModule::~SimModule() {
  if (!time_.Steady()) time_.OnMove(this, nullptr);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  scheduler_.join();
}

void SimModule::SchedulerLoop() {
  Lock lock(mutex_);
  while (!stopping_) {
    if (tasks_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto due = tasks_.top().due;
    if (time_.Now() < due) {
      if (time_.Steady()) time_.WaitUntil(lock, wake_, due);
      else wake_.wait(lock);
      continue;
    }
    auto run = tasks_.top().run;
    taskDue_ = tasks_.top().due;
    tasks_.pop();
    run();
    taskDue_.reset();
    idle_.notify_all();
  }
}

Clock::time_point SimModule::TaskNow() const { return taskDue_ ? *taskDue_ : time_.Now(); }

void SimModule::After(Clock::duration delay, std::function<void()> task) {
  tasks_.push(Task{TaskNow() + delay, taskOrder_++, std::move(task)});
  wake_.notify_all();
}

void SimModule::WaitUntilIdle() const {
  Lock lock(mutex_);
  idle_.wait(lock, [this] { return stopping_ || tasks_.empty() || tasks_.top().due > time_.Now(); });
}

std::optional<Clock::time_point> SimModule::NextDue() const {
  std::lock_guard lock(mutex_);
  if (tasks_.empty()) return std::nullopt;
  return tasks_.top().due;
}

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

SimModule::Radio SimModule::MakeRadio(std::uint16_t address, bool base, std::uint8_t index) {
  Radio r;
  r.address = address;
  r.index = index;
  Banks& b = r.factory;

  b[bi::B0][reg0::DeviceMode] = base ? kDeviceBase : kDeviceRemote;
  Put16(b[bi::B0], reg0::InitialPanId, kPanId);
  Put16(b[bi::B0], reg0::WakeDuration, 0x0064);
  b[bi::B0][reg0::TxPower] = 0x12;
  std::string tag = base ? "QMX2400 Base" : "Remote " + std::to_string(index);
  PutText(&b[bi::B0][reg0::UserTag], 16, tag);

  Put16(b[bi::B1], reg1::ChannelList, 0xFFFF);
  b[bi::B1][reg1::ArqLimit] = 3;
  b[bi::B1][reg1::BroadcastAttempts] = 3;
  Put32(b[bi::B1], reg1::LeasePeriod, 3600);
  Put16(b[bi::B1], reg1::RelayScanNormal, 0x0100);
  Put16(b[bi::B1], reg1::RelayScanFast, 0x0020);

  // MAC 02:51:4D:58:24:00:00:nn, least significant byte first.
  const std::array<std::uint8_t, 8> mac{static_cast<std::uint8_t>(index + 1), 0x00, 0x00, 0x24, 0x58, 0x4D, 0x51, 0x02};
  std::copy(mac.begin(), mac.end(), b[bi::B2].begin() + reg2::Mac);
  Put16(b[bi::B2], reg2::NetworkAddress, address);
  Put16(b[bi::B2], reg2::PanId, kPanId);
  b[bi::B2][reg2::Channel] = kChannel;
  b[bi::B2][reg2::LinkStatus] = 1;
  b[bi::B2][reg2::HardwareVersion] = 0x21;
  b[bi::B2][reg2::FirmwareVersion] = 0x21;
  Put16(b[bi::B2], reg2::FirmwareBuild, 0x0105);
  b[bi::B2][reg2::RssiIdle] = 0x1C;
  b[bi::B2][reg2::RssiLast] = 0x5A;

  // 9600 baud, no parity, one stop bit.
  b[bi::B3][0] = 6;
  b[bi::B3][1] = 0x00;

  b[bi::B4][reg4::ProtocolMode] = 0;  // transparent point-to-point
  b[bi::B4][reg4::TxTimeout] = 0x05;
  b[bi::B4][reg4::MinPacketLength] = 0x01;
  b[bi::B4][reg4::StartupAnnounce] = 1;
  Put16(b[bi::B4], reg4::TransparentAddress, base ? kBroadcast : 0x0000);

  // Remotes show a different pin pattern and readings each.
  const std::uint8_t pins = base ? 0x00 : static_cast<std::uint8_t>((0x15 >> ((index - 1) % 6)) & 0x3F);
  for (std::size_t p = 0; p < 6; ++p) b[bi::B5][p] = (pins >> p) & 1;
  for (std::size_t a = 0; a < 3; ++a)
    Put16(b[bi::B5], reg5::Adc0 + 2 * a, static_cast<std::uint16_t>(0x0100 + 0x0C0 * a + 0x040 * (index % 8)));
  Put16(b[bi::B5], reg5::Voltage, 0x0CE4);
  b[bi::B5][reg5::Temperature] = static_cast<std::uint8_t>(0x19 + index);

  b[bi::B6][reg6::GpioInit] = pins;
  Put16(b[bi::B6], reg6::AdcInterval, 0x0064);
  for (std::size_t t = 0; t < 3; ++t) {
    Put16(b[bi::B6], reg6::Thresholds + 4 * t, 0x0000);
    Put16(b[bi::B6], reg6::Thresholds + 4 * t + 2, 0x03FF);
  }
  Put32(b[bi::B6], reg6::IoInterval, 1000);

  std::memcpy(&b[bi::B16][reg16::BuildDate], kBuildDate, 19);
  Put16(b[bi::B16], reg16::Crystal, 16000);

  r.working = r.factory;
  r.saved = r.factory;
  // Remotes 1 to 5 farther and farther away, then again.
  r.lqi = static_cast<std::uint8_t>(base ? 0xFF : 0xD8 - 0x20 * ((index - 1) % 5));
  r.bootedAt = time_.Now();
  return r;
}

SimModule::Radio* SimModule::FindRadio(int radio) {
  if (radio == kLocal) return &local_;
  if (radio < 0 || radio > 0xFFFF) return nullptr;
  auto it = remotes_.find(static_cast<std::uint16_t>(radio));
  return it == remotes_.end() ? nullptr : &it->second;
}

const SimModule::Radio* SimModule::FindRadio(int radio) const {
  return const_cast<SimModule*>(this)->FindRadio(radio);
}

void SimModule::ApplyLineFromBanks() {
  const auto& b3 = local_.working[bi::B3];
  if (auto line = LineFromCodes(b3[0], b3[1])) line_.settings = *line;
}

void SimModule::DriftInputs(Radio& radio) {
  std::uniform_int_distribution<int> step(-3, 3);
  auto& b5 = radio.working[bi::B5];
  for (std::size_t a = 0; a < 3; ++a) {
    const std::size_t at = reg5::Adc0 + 2 * a;
    Put16(b5, at, static_cast<std::uint16_t>(std::clamp(Get16(b5, at) + step(rng_), 0, 0x03FF)));
  }
  Put16(b5, reg5::Voltage, static_cast<std::uint16_t>(std::clamp(Get16(b5, reg5::Voltage) + step(rng_), 0, 0x0FFF)));
}

void SimModule::RefreshLive(Radio& radio) const {
  const auto up = std::chrono::duration_cast<std::chrono::seconds>(time_.Now() - radio.bootedAt).count();
  Put32(radio.working[bi::B16], reg16::Uptime, static_cast<std::uint32_t>(up));
}

void SimModule::Count(std::uint8_t reg, std::uint8_t width) {
  auto& b = local_.working[bi::B16];
  for (std::size_t i = 0; i < width; ++i)
    if (++b[reg + i] != 0) break;
}

// Settings a radio takes up when it starts: outputs at their initial levels.
static void StartIo(std::array<std::array<std::uint8_t, 75>, 8>& w) {
  const std::uint8_t init = w[bi::B6][reg6::GpioInit];
  for (std::size_t p = 0; p < 6; ++p) w[bi::B5][p] = (init >> p) & 1;
  w[bi::B5][reg5::Pwm0] = w[bi::B6][reg6::Pwm0Init];
  w[bi::B5][reg5::Pwm0 + 1] = w[bi::B6][reg6::Pwm0Init + 1];
  w[bi::B5][reg5::Pwm1] = w[bi::B6][reg6::Pwm1Init];
  w[bi::B5][reg5::Pwm1 + 1] = w[bi::B6][reg6::Pwm1Init + 1];
}

// Statistics start from zero with each start; the build date and crystal stay.
static void ClearStatistics(std::array<std::uint8_t, 75>& b16) {
  std::fill(b16.begin(), b16.begin() + reg16::BuildDate, 0);
}

// ---------------------------------------------------------------------------
// Booting

void SimModule::StartBoot(bool cold) {
  if (cold) {
    local_.working = local_.saved;
    // Live values are not stored; they come from the radio itself.
    auto& b2 = local_.working[bi::B2];
    const auto& live = local_.factory[bi::B2];
    std::copy(live.begin() + reg2::MacLength, live.begin() + kBanks[bi::B2].length, b2.begin() + reg2::MacLength);
  }
  phase_ = Phase::Booting;
  protocolMode_ = false;
  assembler_.Reset();
  held_.clear();
  overrideArmed_ = false;
  overrideFresh_ = false;
  overrideUsedBy_.reset();
  local_.fccMode = 0;
  const auto generation = ++bootGeneration_;
  // The boot code listens during this window.
  boot_.Open();
  After(options_.bootTime, [this, generation] { FinishBoot(generation); });
}

void SimModule::FinishBoot(std::uint64_t generation) {
  if (generation != bootGeneration_ || !plugged_) return;
  // A host that entered the boot code keeps the module there until "E" CR.
  if (boot_.CloseWindow()) return;
  phase_ = Phase::Running;
  ApplyLineFromBanks();
  auto& w = local_.working;
  protocolMode_ = w[bi::B4][reg4::ProtocolMode] == kProtocolModeProtocol;
  local_.bootedAt = time_.Now();
  ClearStatistics(w[bi::B16]);
  StartIo(w);
  const std::uint8_t mode = w[bi::B0][reg0::DeviceMode];
  std::copy_n(w[bi::B0].begin() + reg0::InitialPanId, 2, w[bi::B2].begin() + reg2::PanId);
  if (mode == kDeviceBase) Put16(w[bi::B2], reg2::NetworkAddress, 0x0000);
  AnnounceStartup(generation);
}

void SimModule::AnnounceStartup(std::uint64_t generation) {
  if (local_.working[bi::B4][reg4::StartupAnnounce] != 0) EmitAnnounce(announce::Startup);
  if (options_.network.live) {
    networkStarted_ = true;
    HoldRemotes();
  }
  const std::uint8_t mode = local_.working[bi::B0][reg0::DeviceMode];
  After(options_.panFormTime, [this, generation, mode] {
    if (generation != bootGeneration_ || phase_ != Phase::Running || !plugged_) return;
    const auto& b2 = local_.working[bi::B2];
    if (mode == kDeviceBase) {
      EmitAnnounce(announce::PanFormed, std::span(b2).subspan(reg2::PanId, 2));
      if (options_.network.live) JoinInTurn();
    } else if (mode == kDeviceRemote) {
      std::array<std::uint8_t, 4> fields{b2[reg2::PanId], b2[reg2::PanId + 1], b2[reg2::NetworkAddress],
                                         b2[reg2::NetworkAddress + 1]};
      EmitAnnounce(announce::JoinedPan, fields);
    }
  });
}

void SimModule::RebootRemote(Radio& remote) {
  remote.rebooting = true;
  remote.fccMode = 0;
  const auto generation = ++remote.bootGeneration;
  const auto address = remote.address;
  After(options_.bootTime + options_.panFormTime,
        [this, address, generation] { RemoteBooted(address, generation); });
}

void SimModule::RemoteBooted(std::uint16_t address, std::uint64_t generation) {
  auto it = remotes_.find(address);
  if (it == remotes_.end() || it->second.bootGeneration != generation) return;
  Radio& r = it->second;
  r.rebooting = false;
  r.bootedAt = time_.Now();
  ClearStatistics(r.working[bi::B16]);
  StartIo(r.working);
  if (r.linked && local_.working[bi::B0][reg0::DeviceMode] == kDeviceBase && phase_ == Phase::Running)
    AnnounceJoined(r);
}

// ---------------------------------------------------------------------------
// Public: line and state

bool SimModule::Attach(SimSink* sink) {
  std::lock_guard lock(mutex_);
  if (!plugged_ || sink_ != nullptr || sink == nullptr) return false;
  sink_ = sink;
  if (options_.network.live && !networkStarted_) {
    // Power-up: the host's first command is answered at once, the start-up
    // is announced when a boot would have ended.
    networkStarted_ = true;
    HoldRemotes();
    After(options_.bootTime, [this, generation = bootGeneration_] {
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
  for (auto* banks : {&local_.working, &local_.saved}) std::copy(codes->begin(), codes->end(), (*banks)[bi::B3].begin());
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
  const Radio* r = FindRadio(radio);
  const int idx = BankIndex(bank);
  if (!r || idx < 0 || reg + span > kBanks[static_cast<std::size_t>(idx)].length) return std::nullopt;
  const auto& b = (saved ? r->saved : r->working)[static_cast<std::size_t>(idx)];
  return std::vector<std::uint8_t>(b.begin() + reg, b.begin() + reg + span);
}

bool SimModule::PokeRegisters(int radio, std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  Radio* r = FindRadio(radio);
  const int idx = BankIndex(bank);
  if (!r || idx < 0 || reg + bytes.size() > kBanks[static_cast<std::size_t>(idx)].length) return false;
  std::copy(bytes.begin(), bytes.end(), r->working[static_cast<std::size_t>(idx)].begin() + reg);
  return true;
}

int SimModule::FccMode(int radio) const {
  std::lock_guard lock(mutex_);
  const Radio* r = FindRadio(radio);
  return r ? r->fccMode : 0;
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
