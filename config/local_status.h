// The eight values of the local radio's status panel, as texts, decoded from
// a radio's image.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/register_map.h"

namespace qmx {

struct LocalStatusTexts {
  std::string deviceMode;   // "Base" / "Remote"
  std::string panId;        // "0x1234"
  std::string channel;      // "0x0F (2425 MHz)"
  std::string network;      // "0x0000"
  std::string mac;          // "08:07:06:05:04:03:02:01"
  std::string firmware;     // "2.1"
  std::string linkStatus;   // "Linked" / "Unlinked"
  std::string encryption;   // "Enabled" / "Disabled"
  // The numbers behind three of them.
  std::uint16_t panIdValue = 0;
  std::uint8_t channelValue = 0;
  std::uint16_t networkValue = 0;
};

// Row labels of the status panel, top to bottom.
inline constexpr std::array<const char*, 8> kLocalStatusLabels{
    "Device Mode", "PAN ID", "Channel", "Network Addr", "MAC Address", "Firmware Ver", "Link Status", "Encryption"};

LocalStatusTexts FormatLocalStatus(const RadioImage& image, RadioIndex slot = 0);
// The texts in label order.
std::array<std::string, 8> StatusRows(const LocalStatusTexts& texts);

// The centre frequency of an IEEE 802.15.4 channel: 2400 + 5 x (channel - 10) MHz.
int ChannelMhz(std::uint8_t channel);
// "0x0F (2425 MHz)".
std::string ChannelText(std::uint8_t channel);
// Eight bytes, least significant first, shown most significant first.
std::string MacText(std::span<const std::uint8_t> eightBytes);
// 0x21 -> "2.1".
std::string FirmwareText(std::uint8_t version);
// The firmware version of a radio's image slot, as the status panel and a
// profile's header name it.
std::string FirmwareOf(std::span<const std::uint8_t> slot);

}  // namespace qmx
