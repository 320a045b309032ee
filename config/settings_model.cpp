#include "config/settings_model.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "link/number_text.h"

namespace qmx {
namespace {

// How a list shows a code that none of its items names.
constexpr std::string_view kNoItemSuffix = " (no item)";

constexpr SettingItem kDeviceModes[] = {{0, "Remote"}, {1, "Reserved"}, {2, "Base"}};
constexpr SettingItem kSleepModes[] = {{0, "Always On"}, {1, "Timer Sleep"}, {2, "Deep Sleep"}};
constexpr SettingItem kBaudRates[] = {{3, "1200"},  {4, "2400"},  {5, "4800"},  {6, "9600"},
                                      {7, "19200"}, {8, "38400"}, {9, "57600"}, {11, "115200"}};
constexpr SettingItem kParities[] = {{0x00, "None"}, {0x20, "Even"}, {0x30, "Odd"}};
constexpr SettingItem kStopBits[] = {{0x00, "1"}, {0x08, "2"}};
constexpr SettingItem kProtocolModes[] = {{0, "Transparent Pt-Pt"}, {1, "Transparent Multi"}, {2, "Protocol"}};
constexpr SettingItem kEscapeSequences[] = {{0, "Once"}, {1, "Unlimited"}};
constexpr SettingItem kAdcModes[] = {
    {0, "Internal Vdd (3.3 v)"}, {1, "Internal Vref (1.25 v)"}, {2, "External Vref (GPIO0)"}};

constexpr Setting Hex(const char* key, std::uint8_t bank, std::uint8_t reg, std::uint8_t span, const char* control,
                      const char* failure, const char* caption) {
  return {key, {bank, reg, span}, Encoding::Hex, span * 2, {}, 0xFF, ControlKind::Edit, control, failure, caption};
}
constexpr Setting List(const char* key, std::uint8_t bank, std::uint8_t reg, std::span<const SettingItem> items,
                       const char* control, const char* failure, const char* caption, std::uint8_t mask = 0xFF,
                       ControlKind kind = ControlKind::List) {
  return {key, {bank, reg, 1}, Encoding::Items, 0, items, mask, kind, control, failure, caption};
}
constexpr Setting Of(Encoding encoding, ControlKind kind, const char* key, std::uint8_t bank, std::uint8_t reg,
                     std::uint8_t span, const char* control, const char* failure, const char* caption) {
  return {key, {bank, reg, span}, encoding, 0, {}, 0xFF, kind, control, failure, caption};
}
// One bit per control; `bits` of the byte are used.
constexpr Setting Pins(const char* key, std::uint8_t bank, std::uint8_t reg, ControlKind kind, int bits,
                       const char* controls, const char* failure, const char* caption) {
  const auto owned = static_cast<std::uint8_t>((1u << bits) - 1);
  return {key, {bank, reg, 1}, Encoding::Bits, bits, {}, owned, kind, controls, failure, caption};
}
constexpr Setting AtStart(Setting s) {
  s.atStart = true;
  return s;
}
constexpr Setting KeepsSelection(Setting s) {
  s.keepsSelection = true;
  return s;
}
constexpr Setting Labelled(const char* label, Setting s) {
  s.label = label;
  return s;
}

constexpr auto kCheck = ControlKind::Check;

// Write order of Apply.
const Setting kSettings[] = {
    Labelled("Device Mode", AtStart(List("device-mode", 0, 0, kDeviceModes, "DeviceModeComboBox",
                                         "Could not set Device Mode", "Device Mode Failed"))),
    Labelled("Initial PAN ID", AtStart(Hex("initial-pan-id", 0, 1, 2, "InitialPanIDEdit",
                                           "Could not set Initial PAN ID", "Initial PAN ID Failed"))),
    Labelled("Sleep Mode", AtStart(List("sleep-mode", 0, 3, kSleepModes, "SleepModeComboBox",
                                        "Could not set Sleep Mode", "Sleep Mode Failed"))),
    Labelled("Wake Duration",
             Hex("wake-duration", 0, 6, 2, "WakeDurationEdit", "Could not set Wake Duration", "Wake Duration Failed")),
    Labelled("TX Power", Hex("tx-power", 0, 10, 1, "TXPowerEdit", "Could not set TX Power", "TX Power Failed")),
    Labelled("User Tag", Of(Encoding::Text, ControlKind::Text, "user-tag", 0, 28, 16, "UserTagEdit",
                            "Could not set User Tag", "User Tag Failed")),
    Labelled("Enable Encryption", AtStart(Of(Encoding::OnOff, kCheck, "security-mode", 1, 0, 1, "SecurityModeCheckBox",
                                             "Could not set Security Mode", "Security Mode Failed"))),
    Labelled("Security Key", AtStart(Of(Encoding::Key, ControlKind::Text, "security-key", 1, 1, 16, "SecurityKeyEdit",
                                        "Could not set Security Key", "Security Key Failed"))),
    Labelled("Channel List", AtStart(Of(Encoding::Channels, ControlKind::Channels, "channel-list", 1, 17, 2,
                                        "ChannelCheckListBox", "Could not set Channel List", "Channel List Failed"))),
    Labelled("ARQ Attempt Limit", Hex("arq-attempt-limit", 1, 19, 1, "ARQAttemptLimitEdit",
                                      "Could not set ARQ Attempt Limit", "ARQ Attempt Limit Failed")),
    Labelled("Broadcast Attempts", Hex("broadcast-attempts", 1, 23, 1, "BroadcastAttemptsEdit",
                                       "Could not set Broadcast Attempts", "Broadcast Attempts Failed")),
    Labelled("Lease Period",
             Hex("lease-period", 1, 25, 4, "LeasePeriodEdit", "Could not set Lease Period", "Lease Period Failed")),
    Labelled("Relay Scan Rate Normal", Hex("relay-scan-rate-normal", 1, 30, 2, "RelayScanRateNormalEdit",
                                           "Could not set Relay Scan Rate Normal", "Relay Scan Rate Normal Failed")),
    Labelled("Relay Scan Rate Fast", Hex("relay-scan-rate-fast", 1, 32, 2, "RelayScanRateFastEdit",
                                         "Could not set Relay Scan Rate Fast", "Relay Scan Rate Fast Failed")),
    Labelled("Baud Rate", KeepsSelection(List("serial-baud-rate", 3, 0, kBaudRates, "BaudrateComboBox",
                                              "Could not set Serial Baudrate", "Serial Baudrate Failed"))),
    // Parity and stop bits share one byte: the parity row's controls are both lists.
    Labelled("Parity", KeepsSelection(List("serial-parity", 3, 1, kParities, "ParityComboBox StopBitsComboBox",
                                           "Could not set Serial Params", "Serial Params Failed", 0x30,
                                           ControlKind::SerialFormat))),
    Labelled("Stop Bits",
             KeepsSelection(List("serial-stop-bits", 3, 1, kStopBits, "StopBitsComboBox", "Could not set Serial Params",
                                 "Serial Params Failed", 0x08, ControlKind::Shared))),
    Labelled("Protocol Mode", AtStart(List("protocol-mode", 4, 0, kProtocolModes, "ProtocolModeComboBox",
                                           "Could not set Protocol Mode", "Protocol Mode Failed"))),
    Labelled("TX Timeout",
             Hex("tx-timeout", 4, 2, 1, "TXTimeoutEdit", "Could not set TX Timeout", "TX Timeout Failed")),
    Labelled("Minimum Packet Length", Hex("minimum-packet-length", 4, 3, 1, "MinimumPacketLengthEdit",
                                          "Could not set Minimum Packet Length", "Minimum Packet Length Failed")),
    // Shown by the dialog, never written by Apply.
    Labelled("Startup Announce Enable",
             Of(Encoding::OnOff, kCheck, "startup-announce", 4, 4, 1, "StartupAnnounceCheckBox", nullptr, nullptr)),
    Labelled("Escape Sequence", List("escape-sequence", 4, 6, kEscapeSequences, "EscapeSequenceComboBox",
                                     "Could not set Escape Sequence", "Escape Sequence Failed")),
    Labelled("Transparent Default Addr",
             Hex("transparent-default-address", 4, 7, 2, "TransparentDefaultAddrEdit",
                 "Could not set Transparent Default Addr", "Transparent Default Addr Failed")),
    Of(Encoding::OnOff, kCheck, "gpio0-level", 5, 0, 1, "GPIO01RadioButton", "Could not set GPIO0", "GPIO0 Failed"),
    Of(Encoding::OnOff, kCheck, "gpio1-level", 5, 1, 1, "GPIO11RadioButton", "Could not set GPIO1", "GPIO1 Failed"),
    Of(Encoding::OnOff, kCheck, "gpio2-level", 5, 2, 1, "GPIO21RadioButton", "Could not set GPIO2", "GPIO2 Failed"),
    Of(Encoding::OnOff, kCheck, "gpio3-level", 5, 3, 1, "GPIO31RadioButton", "Could not set GPIO3", "GPIO3 Failed"),
    Of(Encoding::OnOff, kCheck, "gpio4-level", 5, 4, 1, "GPIO41RadioButton", "Could not set GPIO4", "GPIO4 Failed"),
    Of(Encoding::OnOff, kCheck, "gpio5-level", 5, 5, 1, "GPIO51RadioButton", "Could not set GPIO5", "GPIO5 Failed"),
    Labelled("PWM0", Hex("pwm0-value", 5, 17, 2, "PWM0ValueEdit", "Could not set PWM0", "PWM0 Failed")),
    Labelled("PWM1", Hex("pwm1-value", 5, 19, 2, "PWM1ValueEdit", "Could not set PWM1", "PWM1 Failed")),
    Pins("gpio-direction", 6, 0, ControlKind::Buttons, 6, "GPIO#OutputRadioButton", "Could not set GPIO Direction.",
         "GPIO Direction Failed"),
    Pins("gpio-init", 6, 1, ControlKind::Levels, 6, "GPIO#Edit", "Could not set GPIO Init", "GPIO Init Failed"),
    Pins("gpio-alternate-functions", 6, 2, ControlKind::ByteOfBoxes, 6, "GPIOAlt#CheckBox", "Could not set GPIO Alt",
         "GPIO Alt Failed"),
    Pins("gpio-edge-trigger", 6, 3, ControlKind::Buttons, 4, "GPIOInt#CheckBox", "Could not set GPIO Edge Trigger",
         "GPIOEdge Trigger Failed"),
    Labelled("Use Sleep I/O States", Of(Encoding::OnOff, kCheck, "use-sleep-io-states", 6, 4, 1, "SleepIOStateCheckBox",
                                        "Could not set GPIO Sleep Mode", "GPIO Sleep Mode Failed")),
    Pins("gpio-sleep-direction", 6, 5, ControlKind::Buttons, 6, "GPIOSleepOutputRadioButton#",
         "Could not set Sleep Direction", "Sleep Direction Failed"),
    Pins("sleep-io-state", 6, 6, ControlKind::Levels, 6, "SleepIOStateEdit#", "Could not set GPIO Sleep State",
         "GPIO Sleep State Failed"),
    Labelled("PWM0 Init", Hex("pwm0-init", 6, 7, 2, "PWM0InitEdit", "Could not set PWM0 Init", "PWM0 Init Failed")),
    Labelled("PWM1 Init", Hex("pwm1-init", 6, 9, 2, "PWM1InitEdit", "Could not set PWM1 Init", "PWM1 Init Failed")),
    Labelled("ADC Mode", KeepsSelection(List("adc-mode", 6, 11, kAdcModes, "ADCModeComboBox", "Could not set ADC Mode",
                                             "ADC Mode Failed"))),
    Labelled("ADC Sample Interval", Hex("adc-sample-interval", 6, 12, 2, "ADCReportIntervalEdit",
                                        "Could not set ADC Report Interval", "ADC Report Interval Failed")),
    // The six thresholds: one row each, as every setting of the table has.
    Hex("adc0-threshold-low", 6, 14, 2, "ADC0ThresholdLowEdit", "Could not set ADC0 Threshold Low",
        "ADC0 Threshold Low Failed"),
    Hex("adc0-threshold-high", 6, 16, 2, "ADC0ThresholdHighEdit", "Could not set ADC0 Threshold High",
        "ADC0 Threshold High Failed"),
    Hex("adc1-threshold-low", 6, 18, 2, "ADC1ThresholdLowEdit", "Could not set ADC1 Threshold Low",
        "ADC1 Threshold Low Failed"),
    Hex("adc1-threshold-high", 6, 20, 2, "ADC1ThresholdHighEdit", "Could not set ADC1 Threshold High",
        "ADC1 Threshold High Failed"),
    Hex("adc2-threshold-low", 6, 22, 2, "ADC2ThresholdLowEdit", "Could not set ADC2 Threshold Low",
        "ADC2 Threshold Low Failed"),
    Hex("adc2-threshold-high", 6, 24, 2, "ADC2ThresholdHighEdit", "Could not set ADC2 Threshold High",
        "ADC2 Threshold High Failed"),
    Labelled("I/O Reporting Interval", Hex("io-reporting-interval", 6, 26, 4, "IOReportIntervalEdit",
                                           "Could not set I/O Reporting Interval", "I/O Reporting Interval Failed")),
    Pins("io-report-trigger", 6, 30, ControlKind::Buttons, 8,
         "GPIO0EdgeCheckBox1 GPIO1EdgeCheckBox1 GPIO2EdgeCheckBox1 GPIO3EdgeCheckBox1 PeriodicReportTimerCheckBox "
         "ADC0ThresholdCheckBox ADC1ThresholdCheckBox ADC2ThresholdCheckBox",
         "Could not set I/O Report Trigger", "I/O Report Trigger Failed"),
    Labelled("I/O Report Address", Hex("io-report-address", 6, 31, 2, "IOReportAddressEdit",
                                       "Could not set I/O Report Address", "I/O Report Address Failed")),
    Pins("io-report-mode", 6, 33, ControlKind::ReportMode, 2, "EventRadioButton EnableLocalReportingCheckBox",
         "Could not set I/O Report Mode", "I/O Report Mode Failed"),
    Labelled("Enable Binding", Of(Encoding::OnOff, kCheck, "binding-enable", 6, 34, 1, "BindingCheckBox",
                                  "Could not set I/O Binding Enable", "I/O Binding Enable Failed")),
};

constexpr int kFirstChannel = 11;
constexpr int kLastChannel = 26;

std::vector<std::uint8_t> Bytes(std::uint32_t value, std::size_t span) {
  std::vector<std::uint8_t> out(span, 0);
  for (std::size_t i = 0; i < span && i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return out;
}

bool EqualsIgnoringCase(std::string_view lower, std::string_view text) {
  return std::equal(lower.begin(), lower.end(), text.begin(), text.end(), [](char a, char b) {
    return a == static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
  });
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A whole number between 0 and max.
std::optional<std::uint32_t> Number(std::string_view text, std::uint32_t max) {
  const std::string_view trimmed = Trim(text);
  std::int32_t v = 0;
  if (trimmed.starts_with('-') || !TryTextToInt(trimmed, v)) return std::nullopt;
  const auto u = static_cast<std::uint32_t>(v);
  if (u > max) return std::nullopt;
  return u;
}

std::string ChannelText(std::uint16_t mask) {
  std::string out;
  for (int c = kFirstChannel; c <= kLastChannel; ++c)
    if (mask & (1u << (c - kFirstChannel))) {
      if (!out.empty()) out += ',';
      out += std::to_string(c);
    }
  return out.empty() ? "none" : out;
}

std::optional<std::uint16_t> ParseChannels(std::string_view text) {
  const std::string_view all = Trim(text);
  if (Lower(all) == "none") return 0;
  std::uint16_t mask = 0;
  std::size_t at = 0;
  while (true) {
    const std::size_t comma = all.find(',', at);
    const auto channel = Number(std::string_view(all).substr(at, comma - at), kLastChannel);
    if (!channel || *channel < kFirstChannel) return std::nullopt;
    mask = static_cast<std::uint16_t>(mask | (1u << (*channel - kFirstChannel)));
    if (comma == std::string::npos) return mask;
    at = comma + 1;
  }
}

std::string ItemList(const Setting& s) {
  std::string out;
  for (const auto& item : s.items) out += (out.empty() ? "" : ", ") + std::string(item.text);
  return out;
}

}  // namespace

std::span<const Setting> Settings() { return kSettings; }

const Setting* FindSetting(std::string_view key) {
  for (const Setting& s : kSettings)
    if (key == s.key) return &s;
  return nullptr;
}

std::vector<std::string> ControlNames(const Setting& s) {
  std::vector<std::string> out;
  const std::string_view all = s.controls;
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t end = std::min(all.find(' ', at), all.size());
    const std::string name(all.substr(at, end - at));
    if (const auto hash = name.find('#'); hash != std::string::npos) {
      for (int n = 0; n < s.digits; ++n) out.push_back(std::string(name).replace(hash, 1, std::to_string(n)));
    } else {
      out.push_back(name);
    }
    at = end + 1;
  }
  return out;
}

std::span<const std::uint8_t> SettingField(const Setting& s, std::span<const std::uint8_t> slot) {
  return slot.subspan(ImageOffset(s.address.bank, s.address.reg), s.address.span);
}

void PutSetting(const Setting& s, std::span<std::uint8_t> slot, std::span<const std::uint8_t> data) {
  std::copy(data.begin(), data.end(), slot.begin() + static_cast<std::ptrdiff_t>(ImageOffset(s.address.bank, s.address.reg)));
}

std::string FormatSetting(const Setting& s, std::span<const std::uint8_t> slot) {
  const auto field = SettingField(s, slot);
  switch (s.encoding) {
    case Encoding::Items: {
      const std::uint8_t code = field[0] & s.mask;
      for (const auto& item : s.items)
        if (item.code == code) return item.text;
      return HexText(code, 2) + std::string(kNoItemSuffix);
    }
    case Encoding::Hex:
      return HexText(LittleEndian(field), s.digits);
    case Encoding::Bits:
      return HexText(field[0], 2);
    case Encoding::Text: {
      const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
      return std::string(field.begin(), end);
    }
    case Encoding::OnOff:
      return field[0] != 0 ? "on" : "off";
    case Encoding::Channels:
      return ChannelText(static_cast<std::uint16_t>(LittleEndian(field)));
    case Encoding::Key:
      return std::string(16, '*');
  }
  return {};
}

bool SettingDiffers(const Setting& s, std::span<const std::uint8_t> after, std::span<const std::uint8_t> before) {
  const auto a = SettingField(s, after), b = SettingField(s, before);
  if (std::equal(a.begin(), a.end(), b.begin(), b.end())) return false;  // the same bytes show the same
  return FormatSetting(s, after) != FormatSetting(s, before);
}

std::optional<std::vector<std::uint8_t>> ParseSetting(const Setting& s, std::string_view text,
                                                      std::span<const std::uint8_t> slot, std::string& error) {
  const std::size_t span = s.address.span;
  switch (s.encoding) {
    case Encoding::Items: {
      const std::string wanted = Lower(Trim(text));
      const std::uint8_t other = SettingField(s, slot)[0] & static_cast<std::uint8_t>(~s.mask);
      auto code = [&](std::uint8_t c) {
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(s.mask == 0xFF ? c : other | c)};
      };
      for (const auto& item : s.items)
        if (EqualsIgnoringCase(wanted, item.text)) return code(item.code);
      // A code the list does not name, as a number ("0x05", or as shown:
      // "0x05 (no item)"), so that whatever a radio holds can be kept.
      std::string_view number = wanted;
      if (number.ends_with(kNoItemSuffix)) number.remove_suffix(kNoItemSuffix.size());
      if (const auto v = Number(number, 0xFF); v && (*v & ~s.mask) == 0) return code(static_cast<std::uint8_t>(*v));
      error = "expected one of: " + ItemList(s);
      return std::nullopt;
    }
    case Encoding::Hex: {
      const std::uint32_t max = span >= 4 ? 0xFFFFFFFFu : (1u << (8 * span)) - 1;
      if (auto v = Number(text, max)) return Bytes(*v, span);
      error = "expected a number from 0 to " + HexText(max, s.digits);
      return std::nullopt;
    }
    case Encoding::Bits: {
      const std::uint8_t other = SettingField(s, slot)[0] & static_cast<std::uint8_t>(~s.mask);
      if (auto v = Number(text, s.mask)) return Bytes(other | *v, span);
      error = "expected a bit mask from 0x00 to " + HexText(s.mask, 2);
      return std::nullopt;
    }
    case Encoding::Text:
    case Encoding::Key: {
      if (text.size() > span || text.find('\0') != std::string_view::npos) {
        error = "expected at most " + std::to_string(span) + " characters";
        return std::nullopt;
      }
      std::vector<std::uint8_t> out(span, 0);
      std::copy(text.begin(), text.end(), out.begin());
      return out;
    }
    case Encoding::OnOff: {
      const std::string wanted = Lower(Trim(text));
      if (wanted == "on") return std::vector<std::uint8_t>{1};
      if (wanted == "off") return std::vector<std::uint8_t>{0};
      error = "expected on or off";
      return std::nullopt;
    }
    case Encoding::Channels:
      if (auto mask = ParseChannels(text)) return Bytes(*mask, span);
      error = "expected channel numbers from 11 to 26 separated by commas (like 11,12,15), or none";
      return std::nullopt;
  }
  error = "unknown encoding";
  return std::nullopt;
}

std::optional<std::string> OwnedBitsText(const Setting& s, std::string_view text) {
  if (s.encoding != Encoding::Bits) return std::nullopt;
  const auto v = Number(text, 0xFF);
  if (!v) return std::nullopt;
  return HexText(*v & s.mask, 2);
}

}  // namespace qmx
