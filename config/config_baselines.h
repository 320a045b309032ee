// The configuration dialog's side of a setting, without the widgets: one
// binder per kind of control (the settings table names the kind) says what a
// fill from a radio's image slot puts into the controls, and what Apply
// decides from them: whether the setting differs from the slot and the bytes
// to write.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "config/config_writer.h"
#include "config/settings_model.h"

namespace qmx {

// A list without a selection.
inline constexpr std::int32_t kNoItem = -1;

// The settings the dialog shows, in write order: all but the Shared ones
// (stop bits are the parity row's second list).
std::span<const Setting* const> DialogSettings();

// What the controls of one setting hold: per control the code of the item a
// list shows (kNoItem without one), a checked state (0 or 1) or a channel
// mask in `states`, or the text of an edit in `texts` (Edit, Text, Levels).
struct ControlValues {
  std::vector<std::int32_t> states;
  std::vector<std::string> texts;
  // Lists: the selection was kept over a code that no item names, and the
  // user has not picked an item since; it is not the radio's value.
  bool kept = false;
  // Text: edited since the last fill or write (any change of the text).
  bool edited = false;
  bool operator==(const ControlValues&) const = default;
};

// What a fill from one radio's image slot shows. `before` is what the
// controls show now: a list that keeps its selection keeps it for a code
// that no item names.
ControlValues FillControls(const Setting& setting, std::span<const std::uint8_t> slot, const ControlValues& before);

// The baseline of the change test is the radio's image slot as the dialog
// last filled or wrote it. Whether Apply writes the setting: the value its
// controls show differs from the slot's (as FormatSetting shows both, for
// controls that hold the whole value; per bit, for controls of single bits;
// the user tag and key when edited).
bool Changed(const Setting& setting, const ControlValues& shown, std::span<const std::uint8_t> baseline);
// The bytes Apply writes for what the controls show.
std::vector<std::uint8_t> WriteData(const Setting& setting, const ControlValues& shown);

// The changed settings among DialogSettings(), in write order; `shown` runs
// parallel to DialogSettings().
std::vector<ConfigWrite> ChangedSettings(std::span<const ControlValues> shown, std::span<const std::uint8_t> baseline);
// The baseline once `write` took effect: its bytes in the slot.
void Settle(std::span<std::uint8_t> baseline, const ConfigWrite& write);

}  // namespace qmx
