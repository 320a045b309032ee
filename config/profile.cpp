#include "config/profile.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "config/local_status.h"
#include "link/number_text.h"
#include "link/packet.h"

namespace qmx {
namespace {

constexpr std::string_view kModelHeader = "# model: ";
const std::string kKeptKey(16, '*');

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::uint8_t At(std::span<const std::uint8_t> slot, std::uint8_t bank, std::uint8_t reg) {
  return slot[ImageOffset(bank, reg)];
}

}  // namespace

std::string FormatProfile(std::span<const std::uint8_t> slot, const std::string& date) {
  const std::uint8_t build[] = {At(slot, 2, 16), At(slot, 2, 17)};
  std::string out = "# qmxdemo configuration profile\n";
  out += std::string(kModelHeader) + kModelName + "\n";
  out += "# firmware: " + FirmwareText(At(slot, 2, 15)) + " build " +
         HexText(static_cast<std::uint32_t>(build[0] | build[1] << 8), 4) + ", hardware " +
         HexText(At(slot, 2, 14), 2) + "\n";
  out += "# MAC: " + MacText(slot.subspan(ImageOffset(2, 0), 8)) + "\n";
  out += "# date: " + date + "\n";
  for (const Setting& s : Settings()) out += std::string(s.key) + " = " + FormatSetting(s, slot) + "\n";
  return out;
}

std::optional<std::vector<SettingText>> ParseProfile(std::string_view text, ProfileError& error) {
  std::vector<SettingText> values;
  const std::vector<std::uint8_t> blank(kImageSize, 0);
  int number = 0;
  auto fail = [&](std::string why) {
    error = {number, std::move(why)};
    return std::nullopt;
  };
  while (!text.empty()) {
    ++number;
    const auto end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty()) continue;
    if (line.front() == '#') {
      if (line.starts_with(kModelHeader) && Trim(line.substr(kModelHeader.size())) != kModelName)
        return fail("a profile of another model (" + std::string(Trim(line.substr(kModelHeader.size()))) + ")");
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected 'key = value'");
    const std::string key(Trim(line.substr(0, eq)));
    const std::string value(Trim(line.substr(eq + 1)));
    const Setting* s = FindSetting(key);
    if (!s) return fail("unknown key '" + key + "'");
    if (std::any_of(values.begin(), values.end(), [&](const SettingText& v) { return v.setting == s; }))
      return fail(key + " given twice");
    std::string why;
    if (!(s->encoding == Encoding::Key && value == kKeptKey) && !ParseSetting(*s, value, blank, why))
      return fail(key + ": " + why);
    values.push_back({s, value});
  }
  return values;
}

std::vector<SettingText> ProfileValues(std::span<const SettingText> profile) {
  std::vector<SettingText> out;
  for (const SettingText& v : profile)
    if (v.setting->failure && !(v.setting->encoding == Encoding::Key && v.text == kKeptKey)) out.push_back(v);
  return out;
}

std::string ProfileTimestamp() {
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::vector<std::uint8_t> ProfileImage(std::span<const std::uint8_t> slot, std::span<const SettingText> profile) {
  std::vector<std::uint8_t> after(slot.begin(), slot.end());
  std::string error;
  const auto writes = WritesFor(slot, ProfileValues(profile), error);
  if (!writes) return after;
  for (const ConfigWrite& w : *writes)
    std::copy(w.data.begin(), w.data.end(),
              after.begin() + static_cast<std::ptrdiff_t>(ImageOffset(w.setting->address.bank, w.setting->address.reg)));
  return after;
}

std::vector<ProfileDifference> DiffProfile(std::span<const std::uint8_t> slot, std::span<const SettingText> profile) {
  const std::vector<SettingText> values = ProfileValues(profile);
  const std::vector<std::uint8_t> after = ProfileImage(slot, profile);
  std::vector<ProfileDifference> out;
  for (const Setting& s : Settings()) {
    const bool named = std::any_of(values.begin(), values.end(), [&](const SettingText& v) { return v.setting == &s; });
    if (!named) continue;
    if (s.encoding == Encoding::Key) {
      out.push_back({&s, kKeptKey, "(new key)"});
      continue;
    }
    std::string radio = FormatSetting(s, slot), file = FormatSetting(s, after);
    if (radio != file) out.push_back({&s, std::move(radio), std::move(file)});
  }
  return out;
}

}  // namespace qmx
