#include "config/config_baselines.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "link/number_text.h"

namespace qmx {
namespace {

std::vector<std::uint8_t> LowBytes(std::uint32_t value, std::size_t span) {
  std::vector<std::uint8_t> out(span, 0);
  for (std::size_t i = 0; i < span && i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return out;
}

bool Named(const Setting& s, std::uint32_t code) {
  return std::any_of(s.items.begin(), s.items.end(), [code](const SettingItem& i) { return i.code == code; });
}

// The row whose list the SerialFormat row shows as its second.
const Setting& PartnerOf(const Setting& s) {
  for (const Setting& other : Settings())
    if (other.kind == ControlKind::Shared && other.address.bank == s.address.bank && other.address.reg == s.address.reg)
      return other;
  return s;
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

std::vector<std::int32_t> Bits(std::uint32_t byte, int count) {
  std::vector<std::int32_t> out;
  for (int n = 0; n < count; ++n) out.push_back((byte >> n) & 1);
  return out;
}

bool Differs(std::span<const std::int32_t> now, std::span<const std::int32_t> baseline) {
  return !std::equal(now.begin(), now.end(), baseline.begin(), baseline.end());
}

bool NoneMissing(const ControlValues& v) {
  return !v.states.empty() && std::find(v.states.begin(), v.states.end(), kNoItem) == v.states.end();
}

// What a fill shows from the raw field `raw` (`field` its bytes); `before`
// is what the controls show now.
struct Fill {
  const Setting& s;
  std::uint32_t raw;
  std::span<const std::uint8_t> field;
  const ControlValues& before;
};

struct Binder;
const Binder& BinderOf(const Setting& s);

// One binder per kind of control: what a fill shows, whether the controls
// differ from the radio's slot, and the bytes they write.
struct Binder {
  ControlValues (*show)(const Fill& f);
  bool (*changed)(const Setting& s, const ControlValues& shown, std::span<const std::uint8_t> slot);
  std::vector<std::uint8_t> (*bytes)(const Setting& s, const ControlValues& shown);
};

ControlValues Shows(std::vector<std::int32_t> states) { return {std::move(states), {}}; }

std::uint32_t Raw(const Setting& s, std::span<const std::uint8_t> slot) { return LittleEndian(SettingField(s, slot)); }

// The comparison of profiles and qmxctl (SettingDiffers), with the
// controls' bytes written into the slot.
bool ShownDiffers(const Setting& s, const ControlValues& shown, std::span<const std::uint8_t> slot) {
  std::vector<std::uint8_t> after(slot.begin(), slot.end());
  PutSetting(s, after, BinderOf(s).bytes(s, shown));
  return SettingDiffers(s, after, slot);
}

// Controls of single bits compare bit by bit: bits the radio holds beyond
// them are not the controls' to change.
bool BitsDiffer(const Setting& s, const ControlValues& shown, std::span<const std::uint8_t> slot) {
  return Differs(shown.states, Bits(Raw(s, slot), s.digits));
}

std::vector<std::uint8_t> BitBytes(const Setting&, const ControlValues& shown) {
  return {static_cast<std::uint8_t>(BitsValue(shown.states))};
}

// A list shows the code's item. A code without one shows no selection, or
// keeps the selection where the table says so; a kept selection or none is
// no value to write.
const Binder kList = {
    [](const Fill& f) {
      const std::uint32_t code = f.raw & f.s.mask;
      ControlValues v = Shows({Named(f.s, code) ? static_cast<std::int32_t>(code) : kNoItem});
      if (v.states[0] == kNoItem && f.s.keepsSelection && !f.before.states.empty()) v = {f.before.states, {}, true};
      return v;
    },
    [](const Setting& s, const ControlValues& shown, std::span<const std::uint8_t> slot) {
      return !shown.kept && NoneMissing(shown) && ShownDiffers(s, shown, slot);
    },
    [](const Setting&, const ControlValues& shown) {
      return std::vector<std::uint8_t>{static_cast<std::uint8_t>(shown.states.at(0))};
    }};

// The parity list and the stop-bits list: only a byte of their codes alone
// selects; any other keeps both lists.
const Binder kSerialFormat = {
    [](const Fill& f) {
      const Setting& stop = PartnerOf(f.s);
      const std::uint32_t parity = f.raw & f.s.mask, stopBits = f.raw & stop.mask;
      if ((f.raw & ~(f.s.mask | stop.mask)) == 0 && Named(f.s, parity) && Named(stop, stopBits))
        return Shows({static_cast<std::int32_t>(parity), static_cast<std::int32_t>(stopBits)});
      return f.before.states.size() == 2 ? ControlValues{f.before.states, {}, true} : Shows({kNoItem, kNoItem});
    },
    [](const Setting& s, const ControlValues& shown, std::span<const std::uint8_t> slot) {
      return !shown.kept && NoneMissing(shown) && BinderOf(s).bytes(s, shown)[0] != Raw(s, slot);
    },
    [](const Setting&, const ControlValues& shown) {
      return std::vector<std::uint8_t>{static_cast<std::uint8_t>(shown.states.at(0) | shown.states.at(1))};
    }};

// An edit that is not a number is 0; its low span bytes are written.
const Binder kEdit = {
    [](const Fill& f) { return ControlValues{{}, {HexText(f.raw, f.s.digits)}}; }, ShownDiffers,
    [](const Setting& s, const ControlValues& shown) {
      return LowBytes(static_cast<std::uint32_t>(TextToInt(shown.texts.at(0), 0)), s.address.span);
    }};

// The user tag up to its first zero byte, the key always as asterisks; either
// is written when edited.
const Binder kText = {
    [](const Fill& f) {
      const std::string text = f.s.encoding == Encoding::Key
                                   ? std::string(16, '*')
                                   : std::string(f.field.begin(), std::find(f.field.begin(), f.field.end(), 0));
      return ControlValues{{}, {text}};
    },
    [](const Setting&, const ControlValues& shown, std::span<const std::uint8_t>) { return shown.edited; },
    [](const Setting& s, const ControlValues& shown) {
      std::vector<std::uint8_t> out(s.address.span, 0);
      const std::string& text = shown.texts.at(0);
      std::copy_n(text.begin(), std::min(text.size(), out.size()), out.begin());
      return out;
    }};

// A byte of 2 is "on" as much as 1 is: an untouched box is never written.
const Binder kCheck = {[](const Fill& f) { return Shows({f.raw != 0 ? 1 : 0}); }, ShownDiffers,
                       [](const Setting&, const ControlValues& shown) {
                         return std::vector<std::uint8_t>{static_cast<std::uint8_t>(shown.states.at(0) != 0 ? 1 : 0)};
                       }};

const Binder kChannels = {[](const Fill& f) { return Shows({static_cast<std::int32_t>(f.raw)}); }, ShownDiffers,
                          [](const Setting& s, const ControlValues& shown) {
                            return LowBytes(static_cast<std::uint32_t>(shown.states.at(0)), s.address.span);
                          }};

const Binder kButtons = {[](const Fill& f) { return Shows(Bits(f.raw, f.s.digits)); }, BitsDiffer, BitBytes};

// Compared as the whole byte: bits beyond the boxes count too.
const Binder kByteOfBoxes = {
    [](const Fill& f) { return Shows(Bits(f.raw, f.s.digits)); },
    [](const Setting& s, const ControlValues& shown, std::span<const std::uint8_t> slot) {
      return static_cast<std::uint32_t>(BitsValue(shown.states)) != Raw(s, slot);
    },
    BitBytes};

// An empty level edit differs from any bit; written, it counts as 0.
const Binder kLevels = {
    [](const Fill& f) {
      ControlValues v;
      for (std::int32_t bit : Bits(f.raw, f.s.digits)) v.texts.push_back(bit != 0 ? "1" : "0");
      return v;
    },
    [](const Setting& s, const ControlValues& shown, std::span<const std::uint8_t> slot) {
      return Differs(Levels(shown, -1), Bits(Raw(s, slot), s.digits));
    },
    [](const Setting&, const ControlValues& shown) {
      // Each pin's number shifted to its bit, unmasked: "2" for pin 0 sets bit 1.
      std::uint32_t byte = 0;
      const auto levels = Levels(shown, 0);
      for (std::size_t n = 0; n < levels.size(); ++n) byte += static_cast<std::uint32_t>(levels[n]) << n;
      return std::vector<std::uint8_t>{static_cast<std::uint8_t>(byte)};
    }};

// "Event Messaging" is bit 0; any higher bit checks "Enable Local  Reporting".
ControlValues ReportModeOf(std::uint32_t raw) {
  return Shows({static_cast<std::int32_t>(raw & 1), (raw & ~1u) != 0 ? 1 : 0});
}
const Binder kReportMode = {
    [](const Fill& f) { return ReportModeOf(f.raw); },
    [](const Setting& s, const ControlValues& shown, std::span<const std::uint8_t> slot) {
      return shown.states != ReportModeOf(Raw(s, slot)).states;
    },
    [](const Setting&, const ControlValues& shown) {
      return std::vector<std::uint8_t>{
          static_cast<std::uint8_t>((shown.states.at(0) != 0 ? 1 : 0) + (shown.states.at(1) != 0 ? 2 : 0))};
    }};

// Shown by another row's controls: holds nothing of its own.
const Binder kShared = {[](const Fill&) { return ControlValues{}; },
                        [](const Setting&, const ControlValues&, std::span<const std::uint8_t>) { return false; },
                        [](const Setting&, const ControlValues&) { return std::vector<std::uint8_t>{}; }};

const Binder& BinderOf(const Setting& s) {
  switch (s.kind) {
    case ControlKind::List: return kList;
    case ControlKind::Edit: return kEdit;
    case ControlKind::Text: return kText;
    case ControlKind::Check: return kCheck;
    case ControlKind::Channels: return kChannels;
    case ControlKind::Buttons: return kButtons;
    case ControlKind::ByteOfBoxes: return kByteOfBoxes;
    case ControlKind::Levels: return kLevels;
    case ControlKind::ReportMode: return kReportMode;
    case ControlKind::SerialFormat: return kSerialFormat;
    case ControlKind::Shared: return kShared;
  }
  return kShared;
}

std::vector<const Setting*> MakeDialogSettings() {
  std::vector<const Setting*> out;
  for (const Setting& s : Settings())
    if (s.kind != ControlKind::Shared) out.push_back(&s);
  return out;
}

}  // namespace

std::span<const Setting* const> DialogSettings() {
  static const std::vector<const Setting*> settings = MakeDialogSettings();
  return settings;
}

ControlValues FillControls(const Setting& s, std::span<const std::uint8_t> slot, const ControlValues& before) {
  const auto field = SettingField(s, slot);
  return BinderOf(s).show({s, LittleEndian(field), field, before});
}

bool Changed(const Setting& s, const ControlValues& shown, std::span<const std::uint8_t> baseline) {
  return !s.shownOnly && BinderOf(s).changed(s, shown, baseline);  // shown only: never written
}

std::vector<std::uint8_t> WriteData(const Setting& s, const ControlValues& shown) {
  return BinderOf(s).bytes(s, shown);
}

std::vector<ConfigWrite> ChangedSettings(std::span<const ControlValues> shown, std::span<const std::uint8_t> baseline) {
  std::vector<ConfigWrite> out;
  const auto settings = DialogSettings();
  for (std::size_t i = 0; i < settings.size() && i < shown.size(); ++i)
    if (Changed(*settings[i], shown[i], baseline)) out.push_back({settings[i], WriteData(*settings[i], shown[i])});
  return out;
}

void Settle(std::span<std::uint8_t> baseline, const ConfigWrite& write) { PutSetting(*write.setting, baseline, write.data); }

}  // namespace qmx
