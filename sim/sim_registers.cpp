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
// Registers

std::uint8_t SimModule::CheckRead(std::uint8_t bank, std::uint8_t reg, std::uint8_t span) const {
  const int idx = BankIndex(bank);
  if (idx < 0 || span == 0 || reg >= kBanks[static_cast<std::size_t>(idx)].length) return announce::InvalidArgument;
  return 0;
}

std::vector<std::uint8_t> SimModule::ReadRegs(Radio& radio, std::uint8_t bank, std::uint8_t reg, std::uint8_t span) {
  const auto idx = static_cast<std::size_t>(BankIndex(bank));
  if (idx == bi::B5) DriftInputs(radio);
  if (idx == bi::B16) RefreshLive(radio);
  const std::size_t n = std::min<std::size_t>(span, kBanks[idx].length - reg);
  const auto& b = radio.working[idx];
  return {b.begin() + reg, b.begin() + reg + static_cast<std::ptrdiff_t>(n)};
}

std::uint8_t SimModule::CheckWrite(const Radio& radio, std::uint8_t bank, std::uint8_t reg,
                                   std::span<const std::uint8_t> data, bool local) const {
  if (data.empty()) return announce::InvalidArgument;
  if (bank == kActionBank) {
    if (data.size() != 1) return announce::InvalidArgument;
    const std::uint8_t v = data[0];
    switch (reg) {
      case action::Memory:
        return v <= 1 ? 0 : announce::InvalidArgument;
      case action::Override:
        return v == action::Override ? 0 : announce::InvalidArgument;
      case action::RemoteReset:
        return !local && v == 0 ? 0 : announce::InvalidArgument;
      case action::FccMode:
        if (v != 1 && v != 2 && v != 4) return announce::InvalidArgument;
        return overrideArmed_ ? 0 : announce::ReadOnly;
      default:
        return announce::InvalidArgument;
    }
  }
  const int idx = BankIndex(bank);
  if (idx < 0) return announce::InvalidArgument;
  const std::size_t length = kBanks[static_cast<std::size_t>(idx)].length;
  if (reg >= length || data.size() > length - reg) return announce::InvalidArgument;
  if (static_cast<std::size_t>(idx) == bi::B16) return announce::ReadOnly;
  if (static_cast<std::size_t>(idx) == bi::B2)
    return reg + data.size() <= reg2::MacLength && overrideArmed_ ? 0 : announce::ReadOnly;
  // The measured values of bank 5 (ADC readings, voltage, temperature) come
  // from the radio itself; the levels and PWM values around them are written.
  if (static_cast<std::size_t>(idx) == bi::B5 && reg <= reg5::Temperature && reg + data.size() > reg5::Adc0)
    return announce::ReadOnly;
  if (static_cast<std::size_t>(idx) == bi::B3) {
    auto codes = radio.working[bi::B3];
    std::copy(data.begin(), data.end(), codes.begin() + reg);
    if (!LineFromCodes(codes[0], codes[1])) return announce::InvalidArgument;
  }
  return 0;
}

std::function<void()> SimModule::ApplyWrite(Radio& radio, std::uint8_t bank, std::uint8_t reg,
                                            std::span<const std::uint8_t> data, bool local) {
  if (bank == kActionBank) {
    const std::uint8_t v = data[0];
    switch (reg) {
      case action::Memory:
        if (v == 0) {
          for (std::size_t idx : kSettingBanks) radio.working[idx] = radio.factory[idx];
        } else {
          radio.saved = radio.working;
        }
        return {};
      case action::Override:
        overrideFresh_ = true;
        overrideUsedBy_.reset();
        return {};
      case action::FccMode:
        radio.fccMode = v;
        return {};
      case action::RemoteReset: {
        const auto address = radio.address;
        return [this, address] {
          if (auto it = remotes_.find(address); it != remotes_.end()) RebootRemote(it->second);
        };
      }
      default:
        return {};
    }
  }
  const auto idx = static_cast<std::size_t>(BankIndex(bank));
  std::copy(data.begin(), data.end(), radio.working[idx].begin() + reg);
  // The new line holds once the reply has left at the old one.
  if (local && idx == bi::B3) return [this] { ApplyLineFromBanks(); };
  return {};
}

void SimModule::HandleGetRegister(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() != 3) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const std::uint8_t reg = p[0], bank = p[1], span = p[2];
  if (auto code = CheckRead(bank, reg, span)) {
    EmitAnnounce(code);
    return;
  }
  auto data = ReadRegs(local_, bank, reg, span);
  std::vector<std::uint8_t> payload{reg, bank, static_cast<std::uint8_t>(data.size())};
  payload.insert(payload.end(), data.begin(), data.end());
  Reply(frame, ptype::GetRegisterReply, payload);
}

void SimModule::HandleSetRegister(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() < 3 || p.size() != 3u + p[2]) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const std::uint8_t reg = p[0], bank = p[1];
  const auto data = p.subspan(3);
  if (auto code = CheckWrite(local_, bank, reg, data, true)) {
    EmitAnnounce(code);
    return;
  }
  auto after = ApplyWrite(local_, bank, reg, data, true);
  if (ProtectedWrite(bank, reg)) UseOverride(frame);
  Reply(frame, ptype::SetRegisterReply, {}, milliseconds(0), std::move(after));
}

void SimModule::UseOverride(const Frame& frame) {
  overrideFresh_ = false;
  // The write's type and payload, which a retransmission repeats.
  std::vector<std::uint8_t> key;
  key.reserve(1 + frame.payloadSize());
  key.push_back(frame.type());
  for (std::size_t i = 0; i < frame.payloadSize(); ++i) key.push_back(frame.payload()[i]);
  overrideUsedBy_ = std::move(key);
}

std::pair<std::uint8_t, std::uint8_t> SimModule::AirExchange(std::uint16_t address, Radio** remote) {
  *remote = nullptr;
  if (local_.working[bi::B2][reg2::LinkStatus] == 0) return {txstatus::NotLinked, 0};
  Count(reg16::TxPackets, 4);
  Radio* peer = AirPeer(address);
  if (!peer) return {txstatus::NoAcknowledgement, 0};
  Radio& r = *peer;
  if (!r.linked) return {txstatus::NotLinked, 0};
  if (r.rebooting) return {txstatus::NoAcknowledgement, 0};
  if (r.lossPercent > 0 && std::uniform_int_distribution<int>(0, 99)(rng_) < r.lossPercent)
    return {txstatus::NoAcknowledgement, 0};
  Count(reg16::RxPackets, 4);
  const int lqi = std::clamp(r.lqi + std::uniform_int_distribution<int>(-4, 4)(rng_), 1, 255);
  local_.working[bi::B2][reg2::RssiLast] = static_cast<std::uint8_t>(lqi / 2);
  *remote = &r;
  return {txstatus::Acknowledged, static_cast<std::uint8_t>(lqi)};
}

void SimModule::HandleTxData(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() < 2) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const std::uint16_t address = Get16(p, 0);
  const std::vector<std::uint8_t> data(p.begin() + 2, p.end());
  Count(reg16::TxData, 2);
  if (local_.working[bi::B2][reg2::LinkStatus] == 0) {
    const std::array<std::uint8_t, 2> reply{txstatus::NotLinked, 0};
    Reply(frame, ptype::TxDataReply, reply);
    return;
  }
  if (address == kBroadcast) {
    Count(reg16::TxPackets, 4);
    const std::array<std::uint8_t, 2> reply{txstatus::Acknowledged, 0};
    Reply(frame, ptype::TxDataReply, reply, options_.remoteLatency);
    return;
  }
  Radio* remote = nullptr;
  const auto [status, lqi] = AirExchange(address, &remote);
  const std::array<std::uint8_t, 2> reply{status, lqi};
  std::function<void()> echo;
  if (remote && options_.remoteDataEcho) {
    echo = [this, address, data] {
      After(options_.remoteLatency, [this, address, data] { SendRxDataLocked(address, data); });
    };
  }
  Reply(frame, ptype::TxDataReply, reply, status == txstatus::NotLinked ? milliseconds(0) : options_.remoteLatency,
        std::move(echo));
}

void SimModule::HandleGetRemote(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() != 5) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const std::uint16_t address = Get16(p, 0);
  const std::uint8_t reg = p[2], bank = p[3], span = p[4];
  if (auto code = CheckRead(bank, reg, span)) {
    EmitAnnounce(code);
    return;
  }
  Radio* remote = nullptr;
  const auto [status, lqi] = AirExchange(address, &remote);
  std::vector<std::uint8_t> payload{status, p[0], p[1], lqi, reg, bank, 0};
  if (remote) {
    auto data = ReadRegs(*remote, bank, reg, span);
    payload[6] = static_cast<std::uint8_t>(data.size());
    payload.insert(payload.end(), data.begin(), data.end());
  }
  Reply(frame, ptype::GetRemoteRegisterReply, payload,
        status == txstatus::NotLinked ? milliseconds(0) : options_.remoteLatency);
}

void SimModule::HandleSetRemote(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() < 5 || p.size() != 5u + p[4]) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const std::uint16_t address = Get16(p, 0);
  const std::uint8_t reg = p[2], bank = p[3];
  const auto data = p.subspan(5);
  // The address itself is checked before anything goes on air.
  if (bank != kActionBank && CheckRead(bank, reg, static_cast<std::uint8_t>(data.size())) != 0) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  Radio* remote = nullptr;
  const auto [status, lqi] = AirExchange(address, &remote);
  std::function<void()> after;
  if (remote) {
    if (auto code = CheckWrite(*remote, bank, reg, data, false)) {
      EmitAnnounce(code);
      return;
    }
    after = ApplyWrite(*remote, bank, reg, data, false);
    if (ProtectedWrite(bank, reg)) UseOverride(frame);
  }
  const std::array<std::uint8_t, 4> payload{status, p[0], p[1], lqi};
  Reply(frame, ptype::SetRemoteRegisterReply, payload,
        status == txstatus::NotLinked ? milliseconds(0) : options_.remoteLatency, std::move(after));
}

// ---------------------------------------------------------------------------
}  // namespace qmx::sim
