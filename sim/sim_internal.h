// Shared by the simulated module's source files: where settings sit in the
// banks, the codes the module speaks, and small byte helpers.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "link/banks.h"
#include "link/frame.h"
#include "link/packet.h"

namespace qmx::sim::internal {

using std::chrono::milliseconds;

// Positions in a radio's banks (index into Banks, then register).
namespace bi {
constexpr std::size_t B0 = 0, B1 = 1, B2 = 2, B3 = 3, B4 = 4, B5 = 5, B6 = 6, B16 = 7;
}
namespace reg0 {
constexpr std::size_t DeviceMode = 0, InitialPanId = 1, WakeDuration = 6, TxPower = 10, UserTag = 28;
}
namespace reg1 {
constexpr std::size_t ChannelList = 17, ArqLimit = 19, BroadcastAttempts = 23, LeasePeriod = 25,
                      RelayScanNormal = 30, RelayScanFast = 32;
}
namespace reg2 {
constexpr std::size_t Mac = 0, MacLength = 8, NetworkAddress = 8, PanId = 10, Channel = 12, LinkStatus = 13,
                      HardwareVersion = 14, FirmwareVersion = 15, FirmwareBuild = 16, RssiIdle = 19, RssiLast = 20;
}
namespace reg4 {
constexpr std::size_t ProtocolMode = 0, TxTimeout = 2, MinPacketLength = 3, StartupAnnounce = 4,
                      TransparentAddress = 7;
}
namespace reg5 {
constexpr std::size_t Adc0 = 6, Voltage = 12, Temperature = 14, Pwm0 = 17, Pwm1 = 19;
}
namespace reg6 {
constexpr std::size_t GpioInit = 1, Pwm0Init = 7, Pwm1Init = 9, AdcInterval = 12, Thresholds = 14,
                      IoInterval = 26;
}
namespace reg16 {
constexpr std::size_t Uptime = 0, RxPackets = 4, TxPackets = 8, TxData = 16, RxData = 18, BuildDate = 53,
                      Crystal = 73;
}

// Codes and factory values, one a line like the tables around them.
constexpr std::uint8_t kDeviceRemote = 0;
constexpr std::uint8_t kDeviceBase = 2;
constexpr std::uint8_t kProtocolModeProtocol = 2;
constexpr std::uint16_t kPanId = 0x1234;
constexpr std::uint8_t kChannel = 0x0F;
constexpr std::uint16_t kBroadcast = 0xFFFF;
constexpr char kBuildDate[] = "Dec 7 2026 10:00:00";  // 19 characters, the field's width
static_assert(sizeof(kBuildDate) - 1 == 19);

namespace announce {
constexpr std::uint8_t Startup = 0xA0;
constexpr std::uint8_t PanFormed = 0xA1;
constexpr std::uint8_t RemoteJoined = 0xA2;
constexpr std::uint8_t JoinedPan = 0xA3;
constexpr std::uint8_t NodeLeft = 0xA5;
constexpr std::uint8_t InvalidType = 0xE0;
constexpr std::uint8_t InvalidArgument = 0xE1;
constexpr std::uint8_t ParserTimeout = 0xE3;
constexpr std::uint8_t ReadOnly = 0xE4;
}  // namespace announce

namespace action {
constexpr std::uint8_t RemoteReset = 0x00;
constexpr std::uint8_t FccMode = 0x06;
constexpr std::uint8_t Override = 0x6A;
constexpr std::uint8_t Memory = 0xFF;  // data 0: defaults, 1: save
}  // namespace action

// Enter Protocol Mode as it appears on the wire; byte 2 (sequence) is free.
inline constexpr std::array<std::uint8_t, 11> kEnterFrame{kStartOfPacket, 9, 0, ptype::EnterProtocolMode, 'Q', 'M', 'X',
                                                   '2', '4', '0', '0'};
constexpr std::size_t kEnterSequenceAt = 2;

inline int BankIndex(std::uint8_t bank) {
  for (std::size_t i = 0; i < kBanks.size(); ++i)
    if (kBanks[i].bank == bank) return static_cast<int>(i);
  return -1;
}

template <typename Bytes>
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
template <typename Bytes>
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
template <typename Bytes>
std::uint16_t Get16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

inline void PutText(std::uint8_t* at, std::size_t width, std::string_view text) {
  std::memset(at, 0, width);
  std::memcpy(at, text.data(), std::min(width, text.size()));
}

inline std::array<std::uint8_t, 2> AddressBytes(std::uint16_t a) {
  return {static_cast<std::uint8_t>(a & 0xFF), static_cast<std::uint8_t>(a >> 8)};
}

// The banks written by a "load factory defaults": the settings banks. Bank 2
// (identity and live status) and bank 16 (statistics) are not settings.
constexpr std::array<std::size_t, 6> kSettingBanks{bi::B0, bi::B1, bi::B3, bi::B4, bi::B5, bi::B6};


}  // namespace qmx::sim::internal
