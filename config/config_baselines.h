// The configuration dialog's side of a setting, without the widgets: which
// controls show it, what a fill from a radio's image puts into them, the
// baseline each control keeps, and what Apply decides from them: whether the
// setting changed, the bytes to write and the baseline after a good write.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "config/config_writer.h"
#include "config/settings_model.h"

namespace qmx {

// How a setting's controls hold its value.
enum class ControlKind {
  List,          // one combo box: the item index
  Edit,          // one hexadecimal edit
  Text,          // user tag or security key edit; the baseline is its edited marker
  Check,         // one check box (or a pin's "1" button) for a whole byte
  Channels,      // the channel check list: 16-bit mask
  Buttons,       // one box or "Output" button per bit, a baseline each
  ByteOfBoxes,   // one box per bit, one baseline for the whole byte (alternate functions)
  Levels,        // one one-character edit per pin, "0" or "1"
  ReportMode,    // "Event Messaging" (bit 0) and "Enable Local  Reporting" (bit 1)
  SerialFormat,  // the parity and stop-bits lists, one byte
};

// The edited marker of the user tag and key edits.
inline constexpr std::int32_t kNotEdited = 1;
inline constexpr std::int32_t kEdited = -1;
// A combo box without a selection.
inline constexpr std::int32_t kNoItem = -1;

ControlKind KindOf(const Setting& setting);
// The object names of the setting's controls, in bit order.
std::vector<std::string> ControlNames(const Setting& setting);
// The settings the dialog shows, in write order; parity and stop bits are one
// (the "serial-parity" setting with both lists).
std::span<const Setting* const> DialogSettings();

// What the controls of one setting hold: per control an item index, a checked
// state (0 or 1) or a channel mask in `states`, or the text of an edit in
// `texts` (Edit, Text, Levels).
struct ControlValues {
  std::vector<std::int32_t> states;
  std::vector<std::string> texts;
  bool operator==(const ControlValues&) const = default;
};

struct FilledControls {
  ControlValues shown;
  std::vector<std::int32_t> baseline;
};

// What a fill from one radio's image slot shows and the baselines it sets.
// `before` is what the controls show now: a list whose code has no item keeps
// its selection.
FilledControls FillControls(const Setting& setting, std::span<const std::uint8_t> slot, const ControlValues& before);

// Whether Apply writes the setting: its controls differ from the baseline.
bool Changed(const Setting& setting, const ControlValues& shown, std::span<const std::int32_t> baseline);
// The bytes Apply writes for what the controls show.
std::vector<std::uint8_t> WriteData(const Setting& setting, const ControlValues& shown);
// The baseline once that write took effect.
std::vector<std::int32_t> BaselineAfterWrite(const Setting& setting, const ControlValues& shown);

// The changed settings among DialogSettings(), in write order; `shown` and
// `baselines` run parallel to DialogSettings().
std::vector<ConfigWrite> ChangedSettings(std::span<const ControlValues> shown,
                                            std::span<const std::vector<std::int32_t>> baselines);

}  // namespace qmx
