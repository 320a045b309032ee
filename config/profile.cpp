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

constexpr std::string_view kNotAvailable = "N/A";

bool NeedsQuotes(std::string_view text) {
  if (text.empty()) return false;
  if (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' || text.back() == '\t' || text.front() == '"')
    return true;
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b >= 0x7F;
  });
}

std::string Quoted(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b >= 0x7F) {
      out += "\\x";
      out += kDigits[b >> 4];
      out += kDigits[b & 0xF];
    } else {
      out += c;
    }
  }
  return out + '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text inside double quotes, escapes undone; nothing when malformed.
std::optional<std::string> Unquoted(std::string_view value) {
  if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::nullopt;
  const std::string_view inner = value.substr(1, value.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < inner.size(); ++i) {
    const char c = inner[i];
    if (c == '"') return std::nullopt;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i + 1 >= inner.size()) return std::nullopt;
    const char e = inner[++i];
    if (e == '"' || e == '\\') {
      out += e;
    } else if (e == 'x' && i + 2 < inner.size() && HexDigit(inner[i + 1]) >= 0 && HexDigit(inner[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(inner[i + 1]) * 16 + HexDigit(inner[i + 2]));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

bool KeepsRadioValue(const SettingText& v) {
  return (v.setting->encoding == Encoding::Key && v.text == kKeptKey) || v.text == kNotAvailable;
}

// The code of a list setting when no item names it.
std::optional<std::uint8_t> UnnamedCode(const Setting& s, std::span<const std::uint8_t> slot) {
  if (s.encoding != Encoding::Items) return std::nullopt;
  const std::uint8_t code = slot[ImageOffset(s.address.bank, s.address.reg)] & s.mask;
  for (const auto& item : s.items)
    if (item.code == code) return std::nullopt;
  return code;
}

}  // namespace

std::string ShowText(const Setting& s, std::span<const std::uint8_t> slot) {
  if (s.address.bank == 3 && UnnamedCode(s, slot)) return std::string(kNotAvailable);
  std::string text = FormatSetting(s, slot);
  return s.encoding == Encoding::Text && NeedsQuotes(text) ? Quoted(text) : text;
}

std::string ProfileText(const Setting& s, std::span<const std::uint8_t> slot) {
  if (const auto code = UnnamedCode(s, slot)) return HexText(*code, 2);
  if (s.encoding == Encoding::Bits) return HexText(SettingField(s, slot)[0] & s.mask, 2);
  return ShowText(s, slot);
}

std::string FormatProfile(std::span<const std::uint8_t> slot, const std::string& date) {
  const std::uint8_t build[] = {At(slot, 2, 16), At(slot, 2, 17)};
  std::string out = "# qmxdemo configuration profile\n";
  out += std::string(kModelHeader) + kModelName + "\n";
  out += "# firmware: " + FirmwareOf(slot) + " build " +
         HexText(static_cast<std::uint32_t>(build[0] | build[1] << 8), 4) + ", hardware " +
         HexText(At(slot, 2, 14), 2) + "\n";
  out += "# MAC: " + MacText(slot.subspan(ImageOffset(2, 0), 8)) + "\n";
  out += "# date: " + date + "\n";
  for (const Setting& s : Settings()) {
    if (s.shownOnly) continue;
    out += s.key;
    out += " = ";
    out += ProfileText(s, slot);
    out += '\n';
  }
  return out;
}

std::optional<std::vector<SettingText>> ParseProfile(std::string_view text, ProfileError& error) {
  std::vector<SettingText> values;
  values.reserve(Settings().size());
  const std::vector<std::uint8_t> blank(kImageSize, 0);
  std::vector<bool> given(Settings().size(), false);
  int number = 0;
  auto fail = [&](std::string why) {
    error = {number, std::move(why)};
    return std::nullopt;
  };
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
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
    std::string value(Trim(line.substr(eq + 1)));
    const Setting* s = FindSetting(key);
    if (!s) return fail("unknown key '" + key + "'");
    const auto row = static_cast<std::size_t>(s - Settings().data());
    if (given[row]) return fail(key + " given twice");
    given[row] = true;
    if (!value.empty() && value.front() == '"') {
      auto inner = Unquoted(value);
      if (!inner) return fail(key + ": a quoted text needs its closing quote (escapes: \\\", \\\\, \\xNN)");
      value = std::move(*inner);
    }
    // A profile saved with a radio's bits beyond the pins names the whole
    // byte; only the pins are the setting's, the rest stays as the radio has it.
    if (auto owned = OwnedBitsText(*s, value)) value = std::move(*owned);
    std::string why;
    SettingText v{s, std::move(value)};
    if (!s->shownOnly && !KeepsRadioValue(v) && !ParseSetting(*s, v.text, blank, why)) return fail(key + ": " + why);
    values.push_back(std::move(v));
  }
  return values;
}

std::vector<SettingText> ProfileValues(std::span<const SettingText> profile) {
  std::vector<SettingText> out;
  out.reserve(profile.size());
  for (const SettingText& v : profile)
    if (!v.setting->shownOnly && !KeepsRadioValue(v)) out.push_back(v);
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

namespace {

// `slot` as it stands once `writes` took effect.
std::vector<std::uint8_t> Written(std::span<const std::uint8_t> slot, std::span<const ConfigWrite> writes) {
  std::vector<std::uint8_t> after(slot.begin(), slot.end());
  for (const ConfigWrite& w : writes) PutSetting(*w.setting, after, w.data);
  return after;
}

}  // namespace

std::vector<std::uint8_t> ProfileImage(std::span<const std::uint8_t> slot, std::span<const SettingText> profile) {
  std::string error;
  const auto writes = WritesFor(slot, ProfileValues(profile), error);
  return writes ? Written(slot, *writes) : std::vector<std::uint8_t>(slot.begin(), slot.end());
}

std::vector<ProfileDifference> DiffProfile(std::span<const std::uint8_t> slot, std::span<const SettingText> profile) {
  std::vector<ProfileDifference> out;
  std::string error;
  const auto writes = WritesFor(slot, ProfileValues(profile), error);
  if (!writes) return out;
  const std::vector<std::uint8_t> after = Written(slot, *writes);
  for (const ConfigWrite& w : *writes) {
    for (const Setting* s : w.Changes()) {
      if (s->encoding == Encoding::Key)
        out.push_back({s, kKeptKey, "(new key)"});
      else
        out.push_back({s, ShowText(*s, slot), ShowText(*s, after)});
    }
  }
  return out;
}

}  // namespace qmx
