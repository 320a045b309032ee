// Configuration profiles: a radio's settings in a text file, one
// "key = value" line each as `qmxctl config show` prints them, below a
// comment header naming the model, firmware, MAC address and date. A profile
// is loaded by writing only what differs from the radio (WritesFor).
//
// Lines: "# ..." comments (the header's "# model: NAME" is checked), blank
// lines, and "key = value" (blanks around both ignored). The security key is
// never read back from a radio, so a saved profile holds it as 16 asterisks;
// that value means "leave the key as it is". The startup announce is shown
// only and is never written.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_writer.h"

namespace qmx {

// The local time as a profile's header gives it: "2026-12-07 13:54:11".
std::string ProfileTimestamp();

// The profile text of one radio's image slot; `date` as the caller formats it.
std::string FormatProfile(std::span<const std::uint8_t> slot, const std::string& date);

struct ProfileError {
  int line = 0;  // 1-based
  std::string text;
};

// The values of a profile in file order, or nothing with the first error:
// an unknown key, a value the key does not accept, a key given twice, a line
// that is neither, or a model other than ours.
std::optional<std::vector<SettingText>> ParseProfile(std::string_view text, ProfileError& error);

// The values to write for a profile: all but the kept key and shown-only
// settings.
std::vector<SettingText> ProfileValues(std::span<const SettingText> profile);

// The radio's image slot as loading the profile would leave it.
std::vector<std::uint8_t> ProfileImage(std::span<const std::uint8_t> slot, std::span<const SettingText> profile);

struct ProfileDifference {
  const Setting* setting = nullptr;
  std::string radio;  // as the radio holds it
  std::string file;   // as the profile would make it
};

// The settings whose value in the profile differs from the radio's, in table
// order, both sides in the same text form.
std::vector<ProfileDifference> DiffProfile(std::span<const std::uint8_t> slot, std::span<const SettingText> profile);

}  // namespace qmx
