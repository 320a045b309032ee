#include "sim/sim_network.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "link/packet.h"
#include "sim/sim_internal.h"
#include "sim/sim_options.h"

namespace qmx::sim {

using namespace internal;
using std::chrono::milliseconds;

SimRadio SimRadio::Make(std::uint16_t address, bool base, std::uint8_t index, Clock::time_point now) {
  SimRadio r;
  r.address = address;
  r.index = index;
  r.regs = RegisterStore::Factory(address, base, index);
  // Remotes 1 to 5 farther and farther away, then again.
  r.lqi = static_cast<std::uint8_t>(base ? 0xFF : 0xD8 - 0x20 * ((index - 1) % 5));
  r.bootedAt = now;
  return r;
}

SimNetwork::SimNetwork(const SimOptions& options, SimRadio& local, SimScheduler& scheduler, std::mt19937& rng,
                       Hooks hooks)
    : options_(options),
      local_(local),
      scheduler_(scheduler),
      rng_(rng),
      hooks_(std::move(hooks)),
      networkRng_(options.seed ^ 0x9E3779B9u) {
  const auto now = scheduler_.Time().Now();
  parent_ = SimRadio::Make(0x0000, true, 0, now);
  parent_.lqi = 0xC8;
  const int remotes = std::clamp(options_.remotes, 0, kMaxRemotes);
  for (int i = 1; i <= remotes; ++i)
    remotes_.emplace(static_cast<std::uint16_t>(i),
                     SimRadio::Make(static_cast<std::uint16_t>(i), false, static_cast<std::uint8_t>(i), now));
  nextAddress_ = static_cast<std::uint16_t>(remotes + 1);
}

// ---------------------------------------------------------------------------
// The radios

std::vector<std::uint16_t> SimNetwork::Addresses() const {
  std::vector<std::uint16_t> out;
  for (const auto& [address, r] : remotes_) out.push_back(address);
  return out;
}

SimRadio* SimNetwork::Find(std::uint16_t address) {
  auto it = remotes_.find(address);
  return it == remotes_.end() ? nullptr : &it->second;
}

const SimRadio* SimNetwork::Find(std::uint16_t address) const {
  return const_cast<SimNetwork*>(this)->Find(address);
}

void SimNetwork::AnnounceJoined(const SimRadio& remote) {
  std::array<std::uint8_t, 10> fields{};
  std::copy_n(remote.regs.working[bi::B2].begin() + reg2::Mac, reg2::MacLength, fields.begin());
  fields[8] = static_cast<std::uint8_t>(remote.address & 0xFF);
  fields[9] = static_cast<std::uint8_t>(remote.address >> 8);
  hooks_.announce(announce::RemoteJoined, fields);
}

void SimNetwork::Join(std::uint16_t address) {
  auto it = remotes_.find(address);
  if (it == remotes_.end()) {
    const auto made = remotes_.size() + away_.size() + 1;
    const auto index = static_cast<std::uint8_t>(std::min<std::size_t>(made, kMaxRemotes));
    it = remotes_.emplace(address, SimRadio::Make(address, false, index, scheduler_.Time().Now())).first;
  }
  it->second.linked = true;
  it->second.rebooting = false;
  AnnounceJoined(it->second);
  if (started_) StartReports(address);
}

void SimNetwork::Leave(std::uint16_t address) {
  auto it = remotes_.find(address);
  if (it == remotes_.end()) return;
  it->second.linked = false;
  hooks_.announce(announce::NodeLeft, AddressBytes(address));
}

void SimNetwork::SetLinked(std::uint16_t address, bool linked) {
  if (SimRadio* r = Find(address)) r->linked = linked;
}

void SimNetwork::SetLqi(std::uint16_t address, std::uint8_t lqi) {
  if (SimRadio* r = Find(address)) r->lqi = lqi;
  if (address == 0x0000) parent_.lqi = lqi;
}

void SimNetwork::SetLoss(std::uint16_t address, int percent) {
  if (SimRadio* r = Find(address)) r->lossPercent = std::clamp(percent, 0, 100);
  if (address == 0x0000) parent_.lossPercent = std::clamp(percent, 0, 100);
}

bool SimNetwork::SetInput(std::uint16_t address, int pin, bool high) {
  SimRadio* found = Find(address);
  if (!found || pin < 0 || pin > 5) return false;
  SimRadio& r = *found;
  if ((r.regs.working[bi::B6][0] >> pin) & 1) return false;
  auto& level = r.regs.working[bi::B5][static_cast<std::size_t>(pin)];
  const std::uint8_t wanted = high ? 1 : 0;
  if (level == wanted) return true;
  level = wanted;
  if (hooks_.protocolMode() && Reaches(r) && !LostOnAir(r)) ReportInputs(r, r.lqi);
  return true;
}

void SimNetwork::Reboot(std::uint16_t address) {
  SimRadio* remote = Find(address);
  if (!remote) return;
  remote->rebooting = true;
  remote->regs.fccMode = 0;
  const auto generation = ++remote->bootGeneration;
  scheduler_.After(options_.bootTime + options_.panFormTime,
                   [this, address, generation] { RemoteBooted(address, generation); });
}

void SimNetwork::RemoteBooted(std::uint16_t address, std::uint64_t generation) {
  SimRadio* found = Find(address);
  if (!found || found->bootGeneration != generation) return;
  SimRadio& r = *found;
  r.rebooting = false;
  r.bootedAt = scheduler_.Time().Now();
  r.regs.Start();
  if (r.linked && local_.regs.DeviceMode() == kDeviceBase && hooks_.up()) AnnounceJoined(r);
}

// ---------------------------------------------------------------------------
// The air

SimRadio* SimNetwork::AirPeer(std::uint16_t address) {
  if (SimRadio* r = Find(address)) return r;
  if (address == 0x0000 && local_.regs.DeviceMode() == kDeviceRemote) return &parent_;
  return nullptr;
}

std::pair<std::uint8_t, std::uint8_t> SimNetwork::Exchange(std::uint16_t address, SimRadio** remote) {
  *remote = nullptr;
  if (!local_.regs.LinkUp()) return {txstatus::NotLinked, 0};
  local_.regs.Count(reg16::TxPackets, 4);
  SimRadio* peer = AirPeer(address);
  if (!peer) return {txstatus::NoAcknowledgement, 0};
  SimRadio& r = *peer;
  if (!r.linked) return {txstatus::NotLinked, 0};
  if (r.rebooting) return {txstatus::NoAcknowledgement, 0};
  if (r.lossPercent > 0 && std::uniform_int_distribution<int>(0, 99)(rng_) < r.lossPercent)
    return {txstatus::NoAcknowledgement, 0};
  local_.regs.Count(reg16::RxPackets, 4);
  const int lqi = std::clamp(r.lqi + std::uniform_int_distribution<int>(-4, 4)(rng_), 1, 255);
  local_.regs.working[bi::B2][reg2::RssiLast] = static_cast<std::uint8_t>(lqi / 2);
  *remote = &r;
  return {txstatus::Acknowledged, static_cast<std::uint8_t>(lqi)};
}

void SimNetwork::SendRxData(std::uint16_t from, std::span<const std::uint8_t> data) {
  local_.regs.Count(reg16::RxData, 2);
  if (!hooks_.protocolMode()) {
    hooks_.raw(data);
    return;
  }
  const SimRadio* r = Find(from);
  hooks_.fromRemote(ptype::RxData, from, r ? r->lqi : 0x80, data);
}

void SimNetwork::SendRxEvent(std::uint16_t from, std::span<const std::uint8_t> data) {
  const SimRadio* r = Find(from);
  hooks_.fromRemote(ptype::RxEvent, from, r ? r->lqi : 0x80, data);
}

void SimNetwork::ReportInputs(const SimRadio& remote, std::uint8_t lqi) {
  const auto& b5 = remote.regs.working[bi::B5];
  hooks_.fromRemote(ptype::RxEvent, remote.address, lqi, std::span(b5).first(kBanks[bi::B5].length));
}

void SimNetwork::SendRxEvent(std::uint16_t from) {
  SimRadio* r = Find(from);
  if (!r) return;
  r->regs.DriftInputs(rng_);
  ReportInputs(*r, r->lqi);
}

// ---------------------------------------------------------------------------
// The live network

bool SimNetwork::Reaches(const SimRadio& remote) const {
  return hooks_.up() && local_.regs.LinkUp() && remote.linked && !remote.rebooting;
}

bool SimNetwork::LostOnAir(const SimRadio& remote) {
  return remote.lossPercent > 0 && std::uniform_int_distribution<int>(0, 99)(networkRng_) < remote.lossPercent;
}

std::uint8_t SimNetwork::NetworkLqi(const SimRadio& remote) {
  const int jitter = std::uniform_int_distribution<int>(-4, 4)(networkRng_);
  return static_cast<std::uint8_t>(std::clamp(remote.lqi + jitter, 1, 255));
}

std::string SimNetwork::TagOf(const SimRadio& remote) const {
  const auto& b0 = remote.regs.working[bi::B0];
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

void SimNetwork::Start() {
  started_ = true;
  ++generation_;
  reporting_.clear();
  epoch_ = scheduler_.Now();
  // The remotes that were away join again with the others.
  std::vector<SimRadio> away;
  away.swap(away_);
  for (SimRadio& r : away) Return(std::move(r), false);
  for (auto& [address, r] : remotes_) r.linked = false;
}

void SimNetwork::JoinInTurn() {
  const auto generation = generation_;
  const auto count = std::max<std::size_t>(remotes_.size(), 1);
  const auto spacing = std::min<Clock::duration>(options_.network.joinSpacing, kJoinWindow / count);
  int turn = 0;
  for (const auto& [address, r] : remotes_) {
    scheduler_.After(spacing * ++turn, [this, address = address, generation] {
      SimRadio* remote = Find(address);
      if (generation != generation_ || !remote || !hooks_.up()) return;
      remote->linked = true;
      AnnounceJoined(*remote);
      StartReports(address);
    });
  }
  if (options_.network.churn.count() > 0) ScheduleChurn(generation);
}

void SimNetwork::ScheduleChurn(std::uint64_t generation) {
  const std::int64_t mean = std::max<std::int64_t>(options_.network.churn.count(), 2);
  const auto gap = std::uniform_int_distribution<std::int64_t>(mean / 2, mean * 3 / 2)(networkRng_);
  scheduler_.After(milliseconds(gap), [this, generation] { ChurnLeave(generation); });
}

void SimNetwork::ChurnLeave(std::uint64_t generation) {
  if (generation != generation_) return;
  ScheduleChurn(generation);
  std::vector<std::uint16_t> joined;
  for (const auto& [address, r] : remotes_)
    if (r.linked && !r.rebooting) joined.push_back(address);
  if (joined.empty() || !hooks_.up()) return;
  const auto address = joined[std::uniform_int_distribution<std::size_t>(0, joined.size() - 1)(networkRng_)];
  // Out of the address table: what is sent to the address goes unanswered.
  // Its reports end when they next find the address empty.
  SimRadio r = std::move(remotes_.extract(address).mapped());
  r.linked = false;
  if (hooks_.protocolMode() && local_.regs.DeviceMode() == kDeviceBase)
    hooks_.announce(announce::NodeLeft, AddressBytes(address));
  const std::int64_t mean = std::max<std::int64_t>(options_.network.churn.count(), 2);
  const auto away = std::uniform_int_distribution<std::int64_t>(mean, mean * 4)(networkRng_);
  scheduler_.After(milliseconds(away), [this, index = r.index, generation] { ChurnReturn(index, generation); });
  away_.push_back(std::move(r));
}

void SimNetwork::ChurnReturn(std::uint8_t index, std::uint64_t generation) {
  if (generation != generation_) return;
  auto it = std::find_if(away_.begin(), away_.end(), [index](const SimRadio& r) { return r.index == index; });
  if (it == away_.end()) return;
  // Back under a new address one time in three; somewhere else, too.
  const bool moves = std::uniform_int_distribution<int>(0, 2)(networkRng_) == 0;
  const int lqi = it->lqi + std::uniform_int_distribution<int>(-0x30, 0x30)(networkRng_);
  SimRadio r = std::move(*it);
  away_.erase(it);
  r.lqi = static_cast<std::uint8_t>(std::clamp(lqi, 0x30, 0xF8));
  SimRadio& back = Return(std::move(r), moves);
  back.linked = true;
  if (!hooks_.up()) return;
  if (hooks_.protocolMode() && local_.regs.DeviceMode() == kDeviceBase) AnnounceJoined(back);
  StartReports(back.address);
}

SimRadio& SimNetwork::Return(SimRadio remote, bool moves) {
  if (moves || remotes_.contains(remote.address)) {
    const auto old = remote.address;
    do remote.address = FreshAddress();
    while (remote.address == old);
  }
  Put16(remote.regs.working[bi::B2], reg2::NetworkAddress, remote.address);
  const auto address = remote.address;
  return remotes_.insert_or_assign(address, std::move(remote)).first->second;
}

std::uint16_t SimNetwork::FreshAddress() {
  // 0xFFFE and 0xFFFF are no unicast addresses, 0x0000 is the base.
  constexpr std::uint16_t kLast = 0xFFFD;
  for (;;) {
    const std::uint16_t a = nextAddress_;
    nextAddress_ = a >= kLast ? 1 : static_cast<std::uint16_t>(a + 1);
    const bool away = std::any_of(away_.begin(), away_.end(), [a](const SimRadio& r) { return r.address == a; });
    if (!away && !remotes_.contains(a)) return a;
  }
}

void SimNetwork::StartReports(std::uint16_t address) {
  if (options_.network.live && reporting_.insert(address).second) ScheduleReport(address, generation_);
}

void SimNetwork::ScheduleReport(std::uint16_t address, std::uint64_t generation) {
  const std::int64_t mean = std::max<std::int64_t>(options_.network.interval.count(), 2);
  const auto gap = std::uniform_int_distribution<std::int64_t>(mean / 2, mean * 3 / 2)(networkRng_);
  scheduler_.After(milliseconds(gap), [this, address, generation] { Report(address, generation); });
}

void SimNetwork::FollowPatterns(SimRadio& remote) {
  constexpr double kPi = 3.14159265358979;
  const double t = std::chrono::duration<double>(scheduler_.Now() - epoch_).count();
  const double phase = remote.index * 1.7;
  auto& b5 = remote.regs.working[bi::B5];
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

void SimNetwork::Report(std::uint16_t address, std::uint64_t generation) {
  if (generation != generation_) return;
  SimRadio* found = Find(address);
  if (!found) {
    // Its remote left with churn: a remote that comes back here reports again.
    reporting_.erase(address);
    return;
  }
  ScheduleReport(address, generation);
  SimRadio& r = *found;
  if (!Reaches(r)) return;
  FollowPatterns(r);
  const int roll = std::uniform_int_distribution<int>(0, 99)(networkRng_);
  const std::uint32_t count = ++r.reports;
  std::vector<int> inputs;
  for (int pin = 0; pin < 6; ++pin)
    if (!((r.regs.working[bi::B6][0] >> pin) & 1)) inputs.push_back(pin);
  const bool toggle = roll >= 4 && roll < 34 && !inputs.empty();
  if (toggle) {
    const int pin = inputs[std::uniform_int_distribution<std::size_t>(0, inputs.size() - 1)(networkRng_)];
    r.regs.working[bi::B5][static_cast<std::size_t>(pin)] ^= 1;
  }
  // The pin changes whether or not its report arrives.
  if (LostOnAir(r)) return;
  const std::uint8_t lqi = NetworkLqi(r);

  if (roll < 4) {
    // Lost its parent for a moment. Announcements are frames of protocol
    // mode: a terminal in transparent mode sees none.
    if (hooks_.protocolMode() && local_.regs.DeviceMode() == kDeviceBase) AnnounceJoined(r);
  } else if (toggle) {
    if (hooks_.protocolMode()) ReportInputs(r, lqi);
  } else {
    std::vector<std::uint8_t> data;
    const auto& b5 = r.regs.working[bi::B5];
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
    local_.regs.Count(reg16::RxData, 2);
    if (hooks_.protocolMode()) hooks_.fromRemote(ptype::RxData, address, lqi, data);
    else hooks_.raw(data);
  }
}

void SimNetwork::Typed(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) {
    if (b != '\r' && b != '\n') {
      if (typedLine_.size() < 64) typedLine_ += static_cast<char>(b);
      continue;
    }
    if (typedLine_.empty()) continue;
    std::string line;
    line.swap(typedLine_);
    const std::uint16_t to = Get16(local_.regs.working[bi::B4], reg4::TransparentAddress);
    const SimRadio* answering = nullptr;
    for (const auto& [address, r] : remotes_) {
      if ((to == kBroadcast || to == address) && Reaches(r)) {
        answering = &r;
        break;
      }
    }
    if (!answering || LostOnAir(*answering)) continue;
    const std::string answer = "\r\n" + TagOf(*answering) + ": " + line + "\r\n";
    scheduler_.After(options_.remoteLatency, [this, from = answering->address, answer] {
      SendRxData(from, std::span(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size()));
    });
  }
}

}  // namespace qmx::sim
