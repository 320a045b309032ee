// The simulated module's commands: one handler per command type. The
// registers they read and write are the radios' RegisterStores; commands to
// a remote go over the air of the SimNetwork.
#include "sim/sim_module.h"

#include <algorithm>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "sim/sim_internal.h"

namespace qmx::sim {

using namespace internal;
using std::chrono::milliseconds;

void SimModule::HandleCommand(const Frame& frame) {
  using Handler = void (SimModule::*)(const Frame&);
  static constexpr std::array<std::pair<std::uint8_t, Handler>, 8> kHandlers{{
      {ptype::EnterProtocolMode, &SimModule::HandleEnter},
      {ptype::ExitProtocolMode, &SimModule::HandleExit},
      {ptype::SoftwareReset, &SimModule::HandleReset},
      {ptype::GetRegister, &SimModule::HandleGetRegister},
      {ptype::SetRegister, &SimModule::HandleSetRegister},
      {ptype::TxData, &SimModule::HandleTxData},
      {ptype::GetRemoteRegister, &SimModule::HandleGetRemote},
      {ptype::SetRemoteRegister, &SimModule::HandleSetRemote},
  }};
  override_.Track(frame.type(), std::span<const std::uint8_t>(frame.payload(), frame.payloadSize()));
  for (const auto& [type, handler] : kHandlers)
    if (type == frame.type()) return (this->*handler)(frame);
  EmitAnnounce(announce::InvalidType);
}

void SimModule::HandleEnter(const Frame& frame) {
  const std::span<const std::uint8_t> payload(frame.payload(), frame.payloadSize());
  if (payload.size() != sizeof(kModelName) - 1 ||
      !std::equal(payload.begin(), payload.end(), reinterpret_cast<const std::uint8_t*>(kModelName))) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  protocolMode_ = true;
  Reply(frame, ptype::EnterProtocolModeReply, {});
}

void SimModule::HandleExit(const Frame& frame) {
  if (frame.payloadSize() != 0) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  Reply(frame, ptype::ExitProtocolModeReply, {});
  protocolMode_ = false;
  assembler_.Reset();
}

void SimModule::HandleReset(const Frame& frame) {
  if (frame.payloadSize() != 0) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  Reply(frame, ptype::SoftwareResetReply, {});
  StartBoot(false);
}

// ---------------------------------------------------------------------------
// Registers

std::vector<std::uint8_t> SimModule::ReadRegs(SimRadio& radio, std::uint8_t bank, std::uint8_t reg,
                                              std::uint8_t span) {
  const auto idx = static_cast<std::size_t>(BankIndex(bank));
  if (idx == bi::B5) radio.regs.DriftInputs(rng_);
  if (idx == bi::B16) {
    const auto up = std::chrono::duration_cast<std::chrono::seconds>(scheduler_.Time().Now() - radio.bootedAt).count();
    radio.regs.SetUptime(static_cast<std::uint32_t>(up));
  }
  return radio.regs.Read(bank, reg, span);
}

std::function<void()> SimModule::ApplyWrite(SimRadio& radio, std::uint8_t bank, std::uint8_t reg,
                                            std::span<const std::uint8_t> data, bool local) {
  if (bank == kActionBank) {
    const std::uint8_t v = data[0];
    switch (reg) {
      case action::Memory:
        if (v == 0) radio.regs.LoadDefaults();
        else radio.regs.Save();
        return {};
      case action::Override:
        override_.Grant();
        return {};
      case action::FccMode:
        radio.regs.fccMode = v;
        return {};
      case action::RemoteReset:
        return [this, address = radio.address] { network_.Reboot(address); };
      default:
        return {};
    }
  }
  radio.regs.Write(bank, reg, data);
  // The new line holds once the reply has left at the old one.
  if (local && static_cast<std::size_t>(BankIndex(bank)) == bi::B3) return [this] { ApplyLineFromBanks(); };
  return {};
}

void SimModule::HandleGetRegister(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() != 3) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const std::uint8_t reg = p[0], bank = p[1], span = p[2];
  if (auto code = RegisterStore::CheckRead(bank, reg, span)) {
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
  if (auto code = local_.regs.CheckWrite(bank, reg, data, true, override_.Armed())) {
    EmitAnnounce(code);
    return;
  }
  auto after = ApplyWrite(local_, bank, reg, data, true);
  if (FactoryOverride::Protects(bank, reg)) override_.Use(frame);
  Reply(frame, ptype::SetRegisterReply, {}, milliseconds(0), std::move(after));
}

// ---------------------------------------------------------------------------
// Over the air

void SimModule::HandleTxData(const Frame& frame) {
  const std::span<const std::uint8_t> p(frame.payload(), frame.payloadSize());
  if (p.size() < 2) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  const std::uint16_t address = Get16(p, 0);
  const std::vector<std::uint8_t> data(p.begin() + 2, p.end());
  local_.regs.Count(reg16::TxData, 2);
  if (!local_.regs.LinkUp()) {
    const std::array<std::uint8_t, 2> reply{txstatus::NotLinked, 0};
    Reply(frame, ptype::TxDataReply, reply);
    return;
  }
  if (address == kBroadcast) {
    local_.regs.Count(reg16::TxPackets, 4);
    const std::array<std::uint8_t, 2> reply{txstatus::Acknowledged, 0};
    Reply(frame, ptype::TxDataReply, reply, options_.remoteLatency);
    return;
  }
  SimRadio* remote = nullptr;
  const auto [status, lqi] = network_.Exchange(address, &remote);
  const std::array<std::uint8_t, 2> reply{status, lqi};
  std::function<void()> echo;
  if (remote && options_.remoteDataEcho) {
    echo = [this, address, data] {
      scheduler_.After(options_.remoteLatency, [this, address, data] { network_.SendRxData(address, data); });
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
  if (auto code = RegisterStore::CheckRead(bank, reg, span)) {
    EmitAnnounce(code);
    return;
  }
  SimRadio* remote = nullptr;
  const auto [status, lqi] = network_.Exchange(address, &remote);
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
  if (bank != kActionBank && RegisterStore::CheckRead(bank, reg, static_cast<std::uint8_t>(data.size())) != 0) {
    EmitAnnounce(announce::InvalidArgument);
    return;
  }
  SimRadio* remote = nullptr;
  const auto [status, lqi] = network_.Exchange(address, &remote);
  std::function<void()> after;
  if (remote) {
    if (auto code = remote->regs.CheckWrite(bank, reg, data, false, override_.Armed())) {
      EmitAnnounce(code);
      return;
    }
    after = ApplyWrite(*remote, bank, reg, data, false);
    if (FactoryOverride::Protects(bank, reg)) override_.Use(frame);
  }
  const std::array<std::uint8_t, 4> payload{status, p[0], p[1], lqi};
  Reply(frame, ptype::SetRemoteRegisterReply, payload,
        status == txstatus::NotLinked ? milliseconds(0) : options_.remoteLatency, std::move(after));
}

}  // namespace qmx::sim
