// Every setting of the radio, described whole in one row: its command-line
// key, where it lives in the register banks, how its bytes read as text, the
// kind, names and captions of the dialog controls that show it and where they
// stand (page and group box), whether it is written or shown only, whether
// the radio takes it up only at start (Apply then asks to reset), whether the
// PC port's line follows it, whether its list keeps the selection for a code
// no item names, and the texts of a failed write. The table is in the order
// Apply writes. Format and parse turn a radio image's bytes into the text the
// dialog and qmxctl show and text back into the bytes to write.
#pragma once

#include <cstddef>
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

// How the configuration dialog's controls hold a setting.
enum class ControlKind {
  List,          // one list; its items carry their codes
  Edit,          // one hexadecimal edit
  Text,          // user tag or security key edit, written when edited
  Check,         // one check box (or a pin's "1" button) for a whole byte
  Channels,      // the channel check list: 16-bit mask
  Buttons,       // one box or "Output" button per bit
  ByteOfBoxes,   // one box per bit, compared as the whole byte (alternate functions)
  Levels,        // one one-character edit per pin, "0" or "1"
  ReportMode,    // "Event Messaging" (bit 0) and "Enable Local  Reporting" (bit 1)
  SerialFormat,  // the parity list and the stop-bits list of the next row: one byte
  Shared,        // shown by the controls of the row before it (stop bits)
};

// The configuration dialog's pages, in tab order.
enum class Page : std::uint8_t {
  None,  // not shown by the dialog
  TransceiverSetup,
  System,
  Status,
  Serial,
  Protocol,
  Peripherals,
  GpioSetup,
  Reporting,
  Diag,
  Debug,
};

// What a written setting does to the PC port's line: the local radio
// switches its own line at once, so the port follows it before the read-back.
enum class LineRole : std::uint8_t {
  None,
  Baud,    // the baud rate: its item's text is the rate
  Format,  // parity and stop bits, in the byte they share
};

struct SettingItem {
  std::uint8_t code;
  const char* text;
};

struct Setting {
  const char* key;  // command-line name, e.g. "device-mode"
  RegisterAddress address;
  Encoding encoding;
  int digits = 0;                      // Hex: shown digits; Bits: bits used
  std::span<const SettingItem> items;  // Items
  std::uint8_t mask = 0xFF;            // Items, Bits: the bits of the byte this setting owns
  ControlKind kind = ControlKind::Edit;
  // The dialog's controls in bit order, separated by blanks; a '#' in a name
  // stands for each bit number from 0 to digits - 1.
  const char* controls = "";
  // The message and caption of a failed write; none for a value shown only.
  const char* failure = nullptr;
  const char* caption = nullptr;
  bool atStart = false;         // the radio takes it up only when it starts
  bool keepsSelection = false;  // List: a code without an item keeps the selection
  // Its caption on the dialog's page: a row's label, a check box's text, the
  // heading of a column of pins.
  const char* label = nullptr;
  // Where the dialog shows it: the page, and the title of the group box it
  // stands in (none: the page's own rows).
  Page page = Page::None;
  const char* group = nullptr;
  // The caption of each control in bit order; one caption serves them all.
  std::span<const char* const> captions{};
  // Buttons in pairs: the name of each control's other button (as in
  // `controls`; the first controls only, where fewer) and its caption.
  const char* partners = "";
  const char* partnerCaption = nullptr;
  bool shownOnly = false;  // shown as the radio holds it, never written
  LineRole line = LineRole::None;
};

// The settings in write order.
std::span<const Setting> Settings();
const Setting* FindSetting(std::string_view key);
// The object names of the setting's controls, in bit order.
std::vector<std::string> ControlNames(const Setting& setting);
// The object names of the other buttons of its pairs, in bit order.
std::vector<std::string> PartnerNames(const Setting& setting);
// The caption of control `n` (the label where the row names no captions).
const char* ControlCaption(const Setting& setting, std::size_t n);

// The setting's bytes in one radio's image slot, and `data` put there.
std::span<const std::uint8_t> SettingField(const Setting& setting, std::span<const std::uint8_t> slot);
void PutSetting(const Setting& setting, std::span<std::uint8_t> slot, std::span<const std::uint8_t> data);

// The setting as the dialog shows it, from one radio's image slot.
std::string FormatSetting(const Setting& setting, std::span<const std::uint8_t> slot);

// Whether the setting's value as FormatSetting shows it differs between two
// image slots: the one comparison of `config set`, `config diff`, profiles
// and the configuration dialog (a radio holding 2 for an on/off setting
// already is "on").
bool SettingDiffers(const Setting& setting, std::span<const std::uint8_t> after, std::span<const std::uint8_t> before);

// The `span` bytes to write for `text`, or nothing with the reason in
// `error`. A setting that owns only some bits of its byte (parity and stop
// bits, which share one; bit masks of fewer than eight pins) keeps the
// others from `slot`: they are never its to change.
std::optional<std::vector<std::uint8_t>> ParseSetting(const Setting& setting, std::string_view text,
                                                      std::span<const std::uint8_t> slot, std::string& error);

// A bit mask's text with only the bits its setting owns ("0xFF" of six pins
// is "0x3F"); nothing for a text that is no byte or a setting of another
// encoding. A radio may hold bits beyond the pins: they are its own.
std::optional<std::string> OwnedBitsText(const Setting& setting, std::string_view text);

}  // namespace qmx
