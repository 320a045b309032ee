// Configuration profiles: a radio's settings in a text file, one
// "key = value" line each as `qmxctl config show` prints them, below a
// comment header naming the model, firmware, MAC address and date. A profile
// is loaded by writing only what differs from the radio (WritesFor).
//
// Lines: "# ..." comments (the header's "# model: NAME" is checked), blank
// lines, and "key = value" (blanks around both ignored; a UTF-8 byte-order
// mark at the start too). A text whose blanks at either end or other bytes
// would not survive such a line is written in double quotes; inside them a
// backslash escapes a quote or a backslash, and \xNN is any byte. A list
// code that no item names is written as its number ("0x05"). A bit mask
// holds the pins its setting owns: bits a radio holds beyond them are its
// own, neither saved nor changed by a load (a profile naming them, as older
// ones may, loads as if it did not). The security
// key is never read back from a radio, so a saved profile holds it as 16
// asterisks; that value, like "N/A", means "leave it as it is". Settings
// that are shown only (the startup announce) are not saved, and are ignored
// when an older profile names them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_writer.h"

namespace qmx {

// A setting's value as `qmxctl config show` prints it: as the dialog shows
// it, a text quoted where needed (see above), a serial line code that no
// item names "N/A" as in the dialog.
std::string ShowText(const Setting& setting, std::span<const std::uint8_t> slot);
// As a profile saves it: as ShowText, but a code that no item names is its
// number, which loads back as that number, and a bit mask only the bits its
// setting owns.
std::string ProfileText(const Setting& setting, std::span<const std::uint8_t> slot);

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

// The settings that loading the profile writes (exactly those), in table
// order, both sides as `config show` prints them.
std::vector<ProfileDifference> DiffProfile(std::span<const std::uint8_t> slot, std::span<const SettingText> profile);

}  // namespace qmx
