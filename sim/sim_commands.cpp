// The simulated module's commands: the factory override's bookkeeping and
// one handler per command type.
#include "sim/sim_module.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "sim/sim_internal.h"

namespace qmx::sim {

using namespace internal;

bool SimModule::ProtectedWrite(std::uint8_t bank, std::uint8_t reg) {
  if (bank == kActionBank) return reg == action::FccMode;
  return bank == 2 && reg < reg2::MacLength;
}

// The factory override permits one protected write, and repeats of that
// same write (a retransmission after a lost reply). The override itself may
// be repeated; any other command ends it.
void SimModule::TrackOverride(std::uint8_t type, std::span<const std::uint8_t> payload) {
  std::optional<std::pair<std::uint8_t, std::uint8_t>> target;  // bank, register
  if (type == ptype::SetRegister && payload.size() >= 3) target.emplace(payload[1], payload[0]);
  if (type == ptype::SetRemoteRegister && payload.size() >= 5) target.emplace(payload[3], payload[2]);
  const bool isOverride = target && target->first == kActionBank && target->second == action::Override;
  const bool isProtected = target && ProtectedWrite(target->first, target->second);
  std::vector<std::uint8_t> key{type};
  key.insert(key.end(), payload.begin(), payload.end());
  if (isProtected) {
    overrideArmed_ = overrideFresh_ || (overrideUsedBy_ && *overrideUsedBy_ == key);
  } else if (!isOverride) {
    overrideFresh_ = false;
    overrideUsedBy_.reset();
    overrideArmed_ = false;
  }
}

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
  TrackOverride(frame.type(), std::span<const std::uint8_t>(frame.payload(), frame.payloadSize()));
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

}  // namespace qmx::sim
