#include "config/config_baselines.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "link/number_text.h"

namespace qmx {
namespace {

bool Is(const Setting& s, std::string_view key) { return key == s.key; }

std::uint32_t Field(const Setting& s, std::span<const std::uint8_t> slot) {
  return LittleEndian(slot.subspan(ImageOffset(s.address.bank, s.address.reg), s.address.span));
}

std::vector<std::uint8_t> LowBytes(std::uint32_t value, std::size_t span) {
  std::vector<std::uint8_t> out(span, 0);
  for (std::size_t i = 0; i < span && i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return out;
}

// Item index of `code`, or -1.
std::int32_t ItemOf(const Setting& s, std::uint8_t code) {
  for (std::size_t i = 0; i < s.items.size(); ++i)
    if (s.items[i].code == code) return static_cast<std::int32_t>(i);
  return kNoItem;
}

std::uint8_t CodeOf(const Setting& s, std::int32_t index) {
  return index >= 0 && static_cast<std::size_t>(index) < s.items.size() ? s.items[static_cast<std::size_t>(index)].code
                                                                         : static_cast<std::uint8_t>(index);
}

// Lists shown through a code table: a code without an item keeps the
// selection, and the baseline is the index shown. The others show the raw
// value as the item index.
bool KeepsSelection(const Setting& s) { return Is(s, "serial-baud-rate") || Is(s, "adc-mode"); }

const Setting& StopBits() {
  static const Setting* s = FindSetting("serial-stop-bits");
  return *s;
}

std::int32_t BitsValue(std::span<const std::int32_t> checked) {
  std::int32_t v = 0;
  for (std::size_t n = 0; n < checked.size(); ++n) v += (checked[n] != 0 ? 1 : 0) << n;
  return v;
}

std::vector<std::int32_t> Levels(const ControlValues& shown, std::int32_t fallback) {
  std::vector<std::int32_t> out;
  for (const auto& t : shown.texts) out.push_back(TextToInt(t, fallback));
  return out;
}

std::vector<std::int32_t> Bits(std::uint32_t byte, std::size_t count) {
  std::vector<std::int32_t> out;
  for (std::size_t n = 0; n < count; ++n) out.push_back((byte >> n) & 1);
  return out;
}

std::vector<const Setting*> MakeDialogSettings() {
  std::vector<const Setting*> out;
  for (const Setting& s : Settings())
    if (!Is(s, "serial-stop-bits")) out.push_back(&s);
  return out;
}

}  // namespace

ControlKind KindOf(const Setting& s) {
  switch (s.encoding) {
    case Encoding::Items:
      return Is(s, "serial-parity") ? ControlKind::SerialFormat : ControlKind::List;
    case Encoding::Hex:
      return ControlKind::Edit;
    case Encoding::Text:
    case Encoding::Key:
      return ControlKind::Text;
    case Encoding::OnOff:
      return ControlKind::Check;
    case Encoding::Channels:
      return ControlKind::Channels;
    case Encoding::Bits:
      if (Is(s, "gpio-alternate-functions")) return ControlKind::ByteOfBoxes;
      if (Is(s, "gpio-init") || Is(s, "sleep-io-state")) return ControlKind::Levels;
      if (Is(s, "io-report-mode")) return ControlKind::ReportMode;
      return ControlKind::Buttons;
  }
  return ControlKind::Edit;
}

std::vector<std::string> ControlNames(const Setting& s) {
  auto perPin = [&s](const std::string& before, const std::string& after) {
    std::vector<std::string> out;
    for (int n = 0; n < s.digits; ++n) out.push_back(before + std::to_string(n) + after);
    return out;
  };
  if (Is(s, "serial-parity")) return {"ParityComboBox", "StopBitsComboBox"};
  if (Is(s, "gpio-direction")) return perPin("GPIO", "OutputRadioButton");
  if (Is(s, "gpio-init")) return perPin("GPIO", "Edit");
  if (Is(s, "gpio-alternate-functions")) return perPin("GPIOAlt", "CheckBox");
  if (Is(s, "gpio-edge-trigger")) return perPin("GPIOInt", "CheckBox");
  if (Is(s, "gpio-sleep-direction")) return perPin("GPIOSleepOutputRadioButton", "");
  if (Is(s, "sleep-io-state")) return perPin("SleepIOStateEdit", "");
  if (Is(s, "io-report-mode")) return {"EventRadioButton", "EnableLocalReportingCheckBox"};
  if (Is(s, "io-report-trigger"))
    return {"GPIO0EdgeCheckBox1",          "GPIO1EdgeCheckBox1",    "GPIO2EdgeCheckBox1",
            "GPIO3EdgeCheckBox1",          "PeriodicReportTimerCheckBox", "ADC0ThresholdCheckBox",
            "ADC1ThresholdCheckBox",       "ADC2ThresholdCheckBox"};
  return {s.control};
}

std::span<const Setting* const> DialogSettings() {
  static const std::vector<const Setting*> settings = MakeDialogSettings();
  return settings;
}

FilledControls FillControls(const Setting& s, std::span<const std::uint8_t> slot, const ControlValues& before) {
  const std::uint32_t raw = Field(s, slot);
  const auto rawInt = static_cast<std::int32_t>(raw);
  const std::size_t count = ControlNames(s).size();
  FilledControls f;
  switch (KindOf(s)) {
    case ControlKind::List: {
      std::int32_t index = ItemOf(s, static_cast<std::uint8_t>(raw));
      if (KeepsSelection(s)) {
        if (index == kNoItem && !before.states.empty()) index = before.states[0];
        f.baseline = {index};
      } else {
        f.baseline = {rawInt};
      }
      f.shown.states = {index};
      break;
    }
    case ControlKind::SerialFormat: {
      // Only the six codes of the table select; any other keeps both lists.
      std::array<std::int32_t, 2> shown{kNoItem, kNoItem};
      if (before.states.size() == 2) shown = {before.states[0], before.states[1]};
      const auto parity = ItemOf(s, static_cast<std::uint8_t>(raw & 0x30));
      if ((raw & ~0x38u) == 0 && parity != kNoItem)
        shown = {parity, ItemOf(StopBits(), static_cast<std::uint8_t>(raw & 0x08))};
      f.shown.states = {shown[0], shown[1]};
      f.baseline = f.shown.states;
      break;
    }
    case ControlKind::Edit:
      f.shown.texts = {HexText(raw, s.digits)};
      f.baseline = {rawInt};
      break;
    case ControlKind::Text: {
      if (s.encoding == Encoding::Key) {
        f.shown.texts = {std::string(16, '*')};
      } else {
        const auto bytes = slot.subspan(ImageOffset(s.address.bank, s.address.reg), s.address.span);
        f.shown.texts = {std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), std::uint8_t{0}))};
      }
      f.baseline = {kNotEdited};
      break;
    }
    case ControlKind::Check:
      // A byte of 2 is "on" as much as 1 is: the baseline is what the box
      // shows, so an untouched box is never written (as profiles compare).
      f.shown.states = {raw != 0 ? 1 : 0};
      f.baseline = f.shown.states;
      break;
    case ControlKind::Channels:
      f.shown.states = {rawInt};
      f.baseline = {rawInt};
      break;
    case ControlKind::Buttons:
      f.shown.states = Bits(raw, count);
      f.baseline = f.shown.states;
      break;
    case ControlKind::ByteOfBoxes:
      f.shown.states = Bits(raw, count);
      f.baseline = {rawInt};
      break;
    case ControlKind::Levels:
      f.baseline = Bits(raw, count);
      for (std::int32_t bit : f.baseline) f.shown.texts.push_back(bit != 0 ? "1" : "0");
      break;
    case ControlKind::ReportMode:
      f.shown.states = {static_cast<std::int32_t>(raw & 1), (raw & ~1u) != 0 ? 1 : 0};
      f.baseline = f.shown.states;
      break;
  }
  return f;
}

bool Changed(const Setting& s, const ControlValues& shown, std::span<const std::int32_t> baseline) {
  if (!s.failure) return false;  // shown only, never written
  auto differs = [&baseline](std::span<const std::int32_t> now) {
    return !std::equal(now.begin(), now.end(), baseline.begin(), baseline.end());
  };
  switch (KindOf(s)) {
    case ControlKind::List:
      // A list without a selection holds no value to write.
      return !shown.states.empty() && shown.states[0] != kNoItem && differs(shown.states);
    case ControlKind::SerialFormat:
      return std::find(shown.states.begin(), shown.states.end(), kNoItem) == shown.states.end() &&
             differs(shown.states);
    case ControlKind::Edit:
      return differs(std::vector<std::int32_t>{TextToInt(shown.texts.at(0), 0)});
    case ControlKind::Text:
      return baseline.empty() || baseline[0] != kNotEdited;
    case ControlKind::ByteOfBoxes:
      return differs(std::vector<std::int32_t>{BitsValue(shown.states)});
    case ControlKind::Levels:
      return differs(Levels(shown, -1));
    case ControlKind::Check:
    case ControlKind::Channels:
    case ControlKind::Buttons:
    case ControlKind::ReportMode:
      return differs(shown.states);
  }
  return false;
}

std::vector<std::uint8_t> WriteData(const Setting& s, const ControlValues& shown) {
  const std::size_t span = s.address.span;
  switch (KindOf(s)) {
    case ControlKind::List:
      return {CodeOf(s, shown.states.at(0))};
    case ControlKind::SerialFormat:
      return {static_cast<std::uint8_t>(CodeOf(s, shown.states.at(0)) | CodeOf(StopBits(), shown.states.at(1)))};
    case ControlKind::Edit:
      return LowBytes(static_cast<std::uint32_t>(TextToInt(shown.texts.at(0), 0)), span);
    case ControlKind::Text: {
      std::vector<std::uint8_t> out(span, 0);
      const std::string& text = shown.texts.at(0);
      std::copy_n(text.begin(), std::min(text.size(), span), out.begin());
      return out;
    }
    case ControlKind::Check:
      return {static_cast<std::uint8_t>(shown.states.at(0) != 0 ? 1 : 0)};
    case ControlKind::Channels:
      return LowBytes(static_cast<std::uint32_t>(shown.states.at(0)), span);
    case ControlKind::Buttons:
    case ControlKind::ByteOfBoxes:
      return {static_cast<std::uint8_t>(BitsValue(shown.states))};
    case ControlKind::Levels: {
      // Each pin's number shifted to its bit, unmasked: "2" for pin 0 sets bit 1.
      std::uint32_t byte = 0;
      const auto levels = Levels(shown, 0);
      for (std::size_t n = 0; n < levels.size(); ++n) byte += static_cast<std::uint32_t>(levels[n]) << n;
      return {static_cast<std::uint8_t>(byte)};
    }
    case ControlKind::ReportMode:
      return {static_cast<std::uint8_t>((shown.states.at(0) != 0 ? 1 : 0) + (shown.states.at(1) != 0 ? 2 : 0))};
  }
  return {};
}

std::vector<std::int32_t> BaselineAfterWrite(const Setting& s, const ControlValues& shown) {
  switch (KindOf(s)) {
    case ControlKind::Edit:
      return {TextToInt(shown.texts.at(0), 0)};
    case ControlKind::Text:
      return {kNotEdited};
    case ControlKind::ByteOfBoxes:
      return {BitsValue(shown.states)};
    case ControlKind::Levels:
      return Levels(shown, 0);
    case ControlKind::Check:
      return {shown.states.at(0) != 0 ? 1 : 0};
    default:
      return shown.states;
  }
}

std::vector<ConfigWrite> ChangedSettings(std::span<const ControlValues> shown,
                                            std::span<const std::vector<std::int32_t>> baselines) {
  std::vector<ConfigWrite> out;
  const auto settings = DialogSettings();
  for (std::size_t i = 0; i < settings.size() && i < shown.size() && i < baselines.size(); ++i)
    if (Changed(*settings[i], shown[i], baselines[i])) out.push_back({settings[i], WriteData(*settings[i], shown[i])});
  return out;
}

}  // namespace qmx
