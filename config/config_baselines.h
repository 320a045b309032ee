// The configuration dialog's side of a setting, without the widgets: one
// binder per kind of control (the settings table names the kind) says what a
// fill from a radio's image puts into the controls, the baseline they keep,
// and what Apply decides from them: whether the setting changed, the bytes to
// write and the baseline after a good write.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "config/config_writer.h"
#include "config/settings_model.h"

namespace qmx {

// The edited marker of the user tag and key edits.
inline constexpr std::int32_t kNotEdited = 1;
inline constexpr std::int32_t kEdited = -1;
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
