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
// Public: network

std::vector<std::uint16_t> SimModule::Remotes() const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint16_t> out;
  for (const auto& [address, r] : remotes_) out.push_back(address);
  return out;
}

void SimModule::AnnounceJoined(const Radio& remote) {
  std::array<std::uint8_t, 10> fields{};
  std::copy_n(remote.working[bi::B2].begin() + reg2::Mac, reg2::MacLength, fields.begin());
  fields[8] = static_cast<std::uint8_t>(remote.address & 0xFF);
  fields[9] = static_cast<std::uint8_t>(remote.address >> 8);
  EmitAnnounce(announce::RemoteJoined, fields);
}

void SimModule::JoinRemote(std::uint16_t address) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(address);
  if (it == remotes_.end()) {
    const auto index = static_cast<std::uint8_t>(std::min<std::size_t>(remotes_.size() + 1, 200));
    it = remotes_.emplace(address, MakeRadio(address, false, index)).first;
  }
  it->second.linked = true;
  it->second.rebooting = false;
  AnnounceJoined(it->second);
  if (networkStarted_) StartReports(address);
}

void SimModule::LeaveRemote(std::uint16_t address) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(address);
  if (it == remotes_.end()) return;
  it->second.linked = false;
  EmitAnnounce(announce::NodeLeft, AddressBytes(address));
}

void SimModule::SetRemoteLinked(std::uint16_t address, bool linked) {
  std::lock_guard lock(mutex_);
  if (auto it = remotes_.find(address); it != remotes_.end()) it->second.linked = linked;
}

void SimModule::SetLocalLinked(bool linked) {
  std::lock_guard lock(mutex_);
  local_.working[bi::B2][reg2::LinkStatus] = linked ? 1 : 0;
}

SimModule::Radio* SimModule::AirPeer(std::uint16_t address) {
  if (auto it = remotes_.find(address); it != remotes_.end()) return &it->second;
  if (address == 0x0000 && local_.working[bi::B0][reg0::DeviceMode] == kDeviceRemote) return &parent_;
  return nullptr;
}

void SimModule::SetRemoteLqi(std::uint16_t address, std::uint8_t lqi) {
  std::lock_guard lock(mutex_);
  if (auto it = remotes_.find(address); it != remotes_.end()) it->second.lqi = lqi;
  if (address == 0x0000) parent_.lqi = lqi;
}

void SimModule::SetRemoteLoss(std::uint16_t address, int percent) {
  std::lock_guard lock(mutex_);
  if (auto it = remotes_.find(address); it != remotes_.end()) it->second.lossPercent = std::clamp(percent, 0, 100);
  if (address == 0x0000) parent_.lossPercent = std::clamp(percent, 0, 100);
}

void SimModule::SetRemoteDataEcho(bool on) {
  std::lock_guard lock(mutex_);
  options_.remoteDataEcho = on;
}

// ---------------------------------------------------------------------------
// Public: asynchronous output

void SimModule::EmitFromRemote(std::uint8_t type, std::uint16_t from, std::uint8_t lqi,
                               std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> payload{static_cast<std::uint8_t>(from & 0xFF), static_cast<std::uint8_t>(from >> 8), lqi};
  payload.insert(payload.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), kMaxPayload - 3)));
  EmitFrame(0, type, payload);
}

void SimModule::SendRxDataLocked(std::uint16_t from, std::span<const std::uint8_t> data) {
  Count(reg16::RxData, 2);
  if (!protocolMode_) {
    Emit(data);
    return;
  }
  auto it = remotes_.find(from);
  EmitFromRemote(ptype::RxData, from, it != remotes_.end() ? it->second.lqi : 0x80, data);
}

void SimModule::SendRxData(std::uint16_t from, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  SendRxDataLocked(from, data);
}

void SimModule::SendAnnounce(std::uint8_t code, std::span<const std::uint8_t> fields) {
  std::lock_guard lock(mutex_);
  EmitAnnounce(code, fields.first(std::min(fields.size(), kMaxPayload - 1)));
}

void SimModule::SendRxEvent(std::uint16_t from, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(from);
  EmitFromRemote(ptype::RxEvent, from, it != remotes_.end() ? it->second.lqi : 0x80, data);
}

void SimModule::ReportInputs(const Radio& remote, std::uint8_t lqi) {
  const auto& b5 = remote.working[bi::B5];
  EmitFromRemote(ptype::RxEvent, remote.address, lqi, std::span(b5).first(kBanks[bi::B5].length));
}

void SimModule::SendRxEvent(std::uint16_t from) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(from);
  if (it == remotes_.end()) return;
  DriftInputs(it->second);
  ReportInputs(it->second, it->second.lqi);
}

bool SimModule::SetRemoteInput(std::uint16_t address, int pin, bool high) {
  std::lock_guard lock(mutex_);
  auto it = remotes_.find(address);
  if (it == remotes_.end() || pin < 0 || pin > 5) return false;
  Radio& r = it->second;
  if ((r.working[bi::B6][0] >> pin) & 1) return false;
  auto& level = r.working[bi::B5][static_cast<std::size_t>(pin)];
  const std::uint8_t wanted = high ? 1 : 0;
  if (level == wanted) return true;
  level = wanted;
  if (protocolMode_ && Reaches(r) && !LostOnAir(r)) ReportInputs(r, r.lqi);
  return true;
}

// ---------------------------------------------------------------------------
// The live network

bool SimModule::Reaches(const Radio& remote) const {
  return plugged_ && phase_ == Phase::Running && local_.working[bi::B2][reg2::LinkStatus] != 0 && remote.linked &&
         !remote.rebooting;
}

bool SimModule::LostOnAir(const Radio& remote) {
  return remote.lossPercent > 0 && std::uniform_int_distribution<int>(0, 99)(networkRng_) < remote.lossPercent;
}

std::uint8_t SimModule::NetworkLqi(const Radio& remote) {
  const int jitter = std::uniform_int_distribution<int>(-4, 4)(networkRng_);
  return static_cast<std::uint8_t>(std::clamp(remote.lqi + jitter, 1, 255));
}

std::string SimModule::TagOf(const Radio& remote) const {
  const auto& b0 = remote.working[bi::B0];
  std::string tag;
  for (std::size_t i = reg0::UserTag; i < reg0::UserTag + 16 && b0[i] >= 0x20 && b0[i] < 0x7F; ++i)
    tag += static_cast<char>(b0[i]);
  if (tag.empty()) {
    char text[16];
    std::snprintf(text, sizeof text, "Remote 0x%04X", static_cast<unsigned>(remote.address));
    tag = text;
  }
  return tag;
}

void SimModule::HoldRemotes() {
  ++networkGeneration_;
  reporting_.clear();
  networkEpoch_ = TaskNow();
  for (auto& [address, r] : remotes_) r.linked = false;
}

void SimModule::JoinInTurn() {
  const auto generation = networkGeneration_;
  int turn = 0;
  for (const auto& [address, r] : remotes_) {
    After(options_.network.joinSpacing * ++turn, [this, address = address, generation] {
      auto it = remotes_.find(address);
      if (generation != networkGeneration_ || it == remotes_.end() || phase_ != Phase::Running || !plugged_) return;
      it->second.linked = true;
      AnnounceJoined(it->second);
      StartReports(address);
    });
  }
}

void SimModule::StartReports(std::uint16_t address) {
  if (options_.network.live && reporting_.insert(address).second) ScheduleReport(address, networkGeneration_);
}

void SimModule::ScheduleReport(std::uint16_t address, std::uint64_t generation) {
  const std::int64_t mean = std::max<std::int64_t>(options_.network.interval.count(), 2);
  const auto gap = std::uniform_int_distribution<std::int64_t>(mean / 2, mean * 3 / 2)(networkRng_);
  After(milliseconds(gap), [this, address, generation] { Report(address, generation); });
}

void SimModule::FollowPatterns(Radio& remote) {
  constexpr double kPi = 3.14159265358979;
  const double t = std::chrono::duration<double>(TaskNow() - networkEpoch_).count();
  const double phase = remote.index * 1.7;
  auto& b5 = remote.working[bi::B5];
  // ADC0: a thermistor warming and cooling over three minutes.
  Put16(b5, reg5::Adc0, static_cast<std::uint16_t>(0x200 + std::lround(0x60 * std::sin(2 * kPi * t / 180 + phase))));
  // ADC1: a potentiometer that someone turns a little now and then.
  const int pot = Get16(b5, reg5::Adc0 + 2) + std::uniform_int_distribution<int>(-24, 24)(networkRng_);
  Put16(b5, reg5::Adc0 + 2, static_cast<std::uint16_t>(std::clamp(pot, 0, 0x3FF)));
  // ADC2: a triangle between 0x040 and 0x3C0 over four minutes.
  const double ramp = std::fmod(t / 240 + phase, 1.0);
  const double rise = ramp < 0.5 ? 2 * ramp : 2 - 2 * ramp;
  Put16(b5, reg5::Adc0 + 4, static_cast<std::uint16_t>(0x040 + std::lround(0x380 * rise)));
  b5[reg5::Temperature] = static_cast<std::uint8_t>(0x19 + remote.index + (Get16(b5, reg5::Adc0) - 0x200) / 0x30);
}

void SimModule::Report(std::uint16_t address, std::uint64_t generation) {
  auto it = remotes_.find(address);
  if (generation != networkGeneration_ || it == remotes_.end()) return;
  ScheduleReport(address, generation);
  Radio& r = it->second;
  if (!Reaches(r)) return;
  FollowPatterns(r);
  const int roll = std::uniform_int_distribution<int>(0, 99)(networkRng_);
  const std::uint32_t count = ++r.reports;
  std::vector<int> inputs;
  for (int pin = 0; pin < 6; ++pin)
    if (!((r.working[bi::B6][0] >> pin) & 1)) inputs.push_back(pin);
  const bool toggle = roll >= 4 && roll < 34 && !inputs.empty();
  if (toggle) {
    const int pin = inputs[std::uniform_int_distribution<std::size_t>(0, inputs.size() - 1)(networkRng_)];
    r.working[bi::B5][static_cast<std::size_t>(pin)] ^= 1;
  }
  // The pin changes whether or not its report arrives.
  if (LostOnAir(r)) return;
  const std::uint8_t lqi = NetworkLqi(r);

  if (roll < 4) {
    // Lost its parent for a moment. Announcements are frames of protocol
    // mode: a terminal in transparent mode sees none.
    if (protocolMode_ && local_.working[bi::B0][reg0::DeviceMode] == kDeviceBase) AnnounceJoined(r);
  } else if (toggle) {
    if (protocolMode_) ReportInputs(r, lqi);
  } else {
    std::vector<std::uint8_t> data;
    const auto& b5 = r.working[bi::B5];
    if (roll < 46) {
      // A binary record: kind, counter, the three ADC words, a checksum.
      data = {0x02, static_cast<std::uint8_t>(count)};
      data.insert(data.end(), b5.begin() + reg5::Adc0, b5.begin() + reg5::Adc0 + 6);
      std::uint8_t sum = 0;
      for (std::uint8_t b : data) sum = static_cast<std::uint8_t>(sum + b);
      data.push_back(static_cast<std::uint8_t>(0x100 - sum));
    } else {
      char text[64];
      int n;
      if (count % 3 == 0) {
        n = std::snprintf(text, sizeof text, "%s: level %d %%", TagOf(r).c_str(),
                          Get16(b5, reg5::Adc0 + 2) * 100 / 0x3FF);
      } else {
        // 25.0 C at mid-scale, 0.1 C for every 5 counts.
        const int tenths = 250 + (Get16(b5, reg5::Adc0) - 0x200) / 5;
        n = std::snprintf(text, sizeof text, "%s: temperature %d.%d C", TagOf(r).c_str(), tenths / 10, tenths % 10);
      }
      data.assign(text, text + std::clamp(n, 0, static_cast<int>(sizeof text) - 1));
    }
    Count(reg16::RxData, 2);
    if (protocolMode_) EmitFromRemote(ptype::RxData, address, lqi, data);
    else Emit(data);
  }
}

void SimModule::AnswerTyped(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) {
    if (b != '\r' && b != '\n') {
      if (typedLine_.size() < 64) typedLine_ += static_cast<char>(b);
      continue;
    }
    if (typedLine_.empty()) continue;
    std::string line;
    line.swap(typedLine_);
    const std::uint16_t to = Get16(local_.working[bi::B4], reg4::TransparentAddress);
    const Radio* answering = nullptr;
    for (const auto& [address, r] : remotes_) {
      if ((to == kBroadcast || to == address) && Reaches(r)) {
        answering = &r;
        break;
      }
    }
    if (!answering || LostOnAir(*answering)) continue;
    const std::string answer = "\r\n" + TagOf(*answering) + ": " + line + "\r\n";
    After(options_.remoteLatency, [this, from = answering->address, answer] {
      SendRxDataLocked(from, std::span(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size()));
    });
  }
}

// ---------------------------------------------------------------------------
}  // namespace qmx::sim
