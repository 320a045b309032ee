// Every writable setting of the radio, named once: where it lives in the
// register banks, how its bytes read as text, the dialog control that shows
// it, the texts of a failed write and its command-line key. The table is in
// the order Apply writes. Format and parse turn a radio image's bytes into the
// text the dialog shows and text back into the bytes to write.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/register_map.h"

namespace qmx {

enum class Encoding {
  Items,     // a code from a list of named items (within `mask` of the byte)
  Hex,       // unsigned number, shown as "0x" and `digits` hex digits
  Text,      // up to span characters, zero-padded
  OnOff,     // 0 = off, anything else on; written as 0 or 1
  Bits,      // one bit per pin or source, `digits` bits, shown as hex 2
  Channels,  // 16-bit mask, bit i = channel 11 + i
  Key,       // write-only text, always shown as 16 asterisks
};

struct SettingItem {
  std::uint8_t code;
  const char* text;
};

struct Setting {
  const char* key;  // command-line name, e.g. "device-mode"
  RegisterAddress address;
  Encoding encoding;
  int digits = 0;                     // Hex: shown digits; Bits: bits used
  std::span<const SettingItem> items;  // Items
  std::uint8_t mask = 0xFF;           // Items: the bits of the byte this setting owns
  const char* control = "";           // the configuration dialog's control
  const char* failure = nullptr;      // message and caption of a failed write;
  const char* caption = nullptr;      // null for a value that is shown only
};

// The settings in write order.
std::span<const Setting> Settings();
const Setting* FindSetting(std::string_view key);

// The setting as the dialog shows it, from one radio's image slot.
std::string FormatSetting(const Setting& setting, std::span<const std::uint8_t> slot);

// The `span` bytes to write for `text`, or nothing with the reason in
// `error`. Settings that share a byte with another (parity and stop bits)
// keep the other's bits from `slot`.
std::optional<std::vector<std::uint8_t>> ParseSetting(const Setting& setting, std::string_view text,
                                                      std::span<const std::uint8_t> slot, std::string& error);

}  // namespace qmx
