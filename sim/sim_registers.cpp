#include "sim/sim_registers.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "sim/sim_internal.h"
#include "sim/sim_line.h"

namespace qmx::sim {

using namespace internal;

// ---------------------------------------------------------------------------
// Factory settings

RegisterStore RegisterStore::Factory(std::uint16_t address, bool base, std::uint8_t index) {
  RegisterStore s;
  Banks& b = s.factory;

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

  s.working = s.factory;
  s.saved = s.factory;
  return s;
}

// ---------------------------------------------------------------------------
// Reads and writes

std::uint8_t RegisterStore::CheckRead(std::uint8_t bank, std::uint8_t reg, std::uint8_t span) {
  const int idx = BankIndex(bank);
  if (idx < 0 || span == 0 || reg >= kBanks[static_cast<std::size_t>(idx)].length) return announce::InvalidArgument;
  return 0;
}

std::uint8_t RegisterStore::CheckWrite(std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> data,
                                       bool local, bool overrideArmed) const {
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
        return overrideArmed ? 0 : announce::ReadOnly;
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
    return reg + data.size() <= reg2::MacLength && overrideArmed ? 0 : announce::ReadOnly;
  // The measured values of bank 5 (ADC readings, voltage, temperature) come
  // from the radio itself; the levels and PWM values around them are written.
  if (static_cast<std::size_t>(idx) == bi::B5 && reg <= reg5::Temperature && reg + data.size() > reg5::Adc0)
    return announce::ReadOnly;
  if (static_cast<std::size_t>(idx) == bi::B3) {
    auto codes = working[bi::B3];
    std::copy(data.begin(), data.end(), codes.begin() + reg);
    if (!LineFromCodes(codes[0], codes[1])) return announce::InvalidArgument;
  }
  return 0;
}

std::vector<std::uint8_t> RegisterStore::Read(std::uint8_t bank, std::uint8_t reg, std::uint8_t span) const {
  const auto idx = static_cast<std::size_t>(BankIndex(bank));
  const std::size_t n = std::min<std::size_t>(span, kBanks[idx].length - reg);
  const auto& b = working[idx];
  return {b.begin() + reg, b.begin() + reg + static_cast<std::ptrdiff_t>(n)};
}

void RegisterStore::Write(std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> data) {
  const auto idx = static_cast<std::size_t>(BankIndex(bank));
  std::copy(data.begin(), data.end(), working[idx].begin() + reg);
}

std::optional<std::vector<std::uint8_t>> RegisterStore::Peek(std::uint8_t bank, std::uint8_t reg, std::uint8_t span,
                                                             bool fromSaved) const {
  const int idx = BankIndex(bank);
  if (idx < 0 || reg + span > kBanks[static_cast<std::size_t>(idx)].length) return std::nullopt;
  const auto& b = (fromSaved ? saved : working)[static_cast<std::size_t>(idx)];
  return std::vector<std::uint8_t>(b.begin() + reg, b.begin() + reg + span);
}

bool RegisterStore::Poke(std::uint8_t bank, std::uint8_t reg, std::span<const std::uint8_t> bytes) {
  const int idx = BankIndex(bank);
  if (idx < 0 || reg + bytes.size() > kBanks[static_cast<std::size_t>(idx)].length) return false;
  std::copy(bytes.begin(), bytes.end(), working[static_cast<std::size_t>(idx)].begin() + reg);
  return true;
}

// ---------------------------------------------------------------------------
// Memory and starts

void RegisterStore::LoadDefaults() {
  for (std::size_t idx : kSettingBanks) working[idx] = factory[idx];
}

void RegisterStore::Save() { saved = working; }

void RegisterStore::ReloadSaved() {
  working = saved;
  // Live values are not stored; they come from the radio itself.
  auto& b2 = working[bi::B2];
  const auto& live = factory[bi::B2];
  std::copy(live.begin() + reg2::MacLength, live.begin() + kBanks[bi::B2].length, b2.begin() + reg2::MacLength);
}

void RegisterStore::Start() {
  // Statistics start from zero with each start; the build date and crystal stay.
  std::fill(working[bi::B16].begin(), working[bi::B16].begin() + reg16::BuildDate, 0);
  // Outputs at their initial levels.
  auto& w = working;
  const std::uint8_t init = w[bi::B6][reg6::GpioInit];
  for (std::size_t p = 0; p < 6; ++p) w[bi::B5][p] = (init >> p) & 1;
  w[bi::B5][reg5::Pwm0] = w[bi::B6][reg6::Pwm0Init];
  w[bi::B5][reg5::Pwm0 + 1] = w[bi::B6][reg6::Pwm0Init + 1];
  w[bi::B5][reg5::Pwm1] = w[bi::B6][reg6::Pwm1Init];
  w[bi::B5][reg5::Pwm1 + 1] = w[bi::B6][reg6::Pwm1Init + 1];
}

// ---------------------------------------------------------------------------
// Named values

std::optional<LineSettings> RegisterStore::Line() const {
  const auto& b3 = working[bi::B3];
  return LineFromCodes(b3[0], b3[1]);
}

void RegisterStore::SetLineCodes(const std::array<std::uint8_t, 2>& codes) {
  for (auto* banks : {&working, &saved}) std::copy(codes.begin(), codes.end(), (*banks)[bi::B3].begin());
}

std::uint8_t RegisterStore::DeviceMode() const { return working[bi::B0][reg0::DeviceMode]; }

bool RegisterStore::LinkUp() const { return working[bi::B2][reg2::LinkStatus] != 0; }

void RegisterStore::SetLinkUp(bool up) { working[bi::B2][reg2::LinkStatus] = up ? 1 : 0; }

void RegisterStore::Count(std::uint8_t reg, std::uint8_t width) {
  auto& b = working[bi::B16];
  for (std::size_t i = 0; i < width; ++i)
    if (++b[reg + i] != 0) break;
}

void RegisterStore::DriftInputs(std::mt19937& rng) {
  std::uniform_int_distribution<int> step(-3, 3);
  auto& b5 = working[bi::B5];
  for (std::size_t a = 0; a < 3; ++a) {
    const std::size_t at = reg5::Adc0 + 2 * a;
    Put16(b5, at, static_cast<std::uint16_t>(std::clamp(Get16(b5, at) + step(rng), 0, 0x03FF)));
  }
  Put16(b5, reg5::Voltage, static_cast<std::uint16_t>(std::clamp(Get16(b5, reg5::Voltage) + step(rng), 0, 0x0FFF)));
}

void RegisterStore::SetUptime(std::uint32_t seconds) { Put32(working[bi::B16], reg16::Uptime, seconds); }

// ---------------------------------------------------------------------------
// The factory override

bool FactoryOverride::Protects(std::uint8_t bank, std::uint8_t reg) {
  if (bank == kActionBank) return reg == action::FccMode;
  return bank == 2 && reg < reg2::MacLength;
}

void FactoryOverride::Track(std::uint8_t type, std::span<const std::uint8_t> payload) {
  std::optional<std::pair<std::uint8_t, std::uint8_t>> target;  // bank, register
  if (type == ptype::SetRegister && payload.size() >= 3) target.emplace(payload[1], payload[0]);
  if (type == ptype::SetRemoteRegister && payload.size() >= 5) target.emplace(payload[3], payload[2]);
  const bool isOverride = target && target->first == kActionBank && target->second == action::Override;
  const bool isProtected = target && Protects(target->first, target->second);
  std::vector<std::uint8_t> key{type};
  key.insert(key.end(), payload.begin(), payload.end());
  if (isProtected) {
    armed_ = fresh_ || (usedBy_ && *usedBy_ == key);
  } else if (!isOverride) {
    Reset();
  }
}

void FactoryOverride::Grant() {
  fresh_ = true;
  usedBy_.reset();
}

void FactoryOverride::Use(const Frame& write) {
  fresh_ = false;
  // The write's type and payload, which a retransmission repeats.
  std::vector<std::uint8_t> key;
  key.reserve(1 + write.payloadSize());
  key.push_back(write.type());
  for (std::size_t i = 0; i < write.payloadSize(); ++i) key.push_back(write.payload()[i]);
  usedBy_ = std::move(key);
}

void FactoryOverride::Reset() {
  armed_ = false;
  fresh_ = false;
  usedBy_.reset();
}

}  // namespace qmx::sim
