// qmxctl firmware program FILE | verify [--raw] FILE | save FILE: the firmware
// upgrade through the module's boot code, as the upgrade window does it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qmx {

class RadioLink;

struct FirmwareRequest {
  std::string action;  // program, verify or save
  std::filesystem::path file;
  std::vector<std::uint8_t> contents;  // program and verify: the file
  bool raw = false;                    // verify: the file has no header, as save writes it
  bool recover = false;                // program: the radio is in its boot code already
};

// Checks the action and the file before anything is sent: the file to
// program or verify is read (to program, it must hold more than its header
// and be below the size limit),
// the file to save must be one that can be created (no folder, in a folder
// that exists and takes it). Returns the complaint, or
// empty text when the request can go ahead.
std::string PrepareFirmware(FirmwareRequest& request);

// With the radio in protocol mode on `link` (the parser running), through
// the boot session: reset, 38400 8N1, the prompt search, the action, "E"
// CR, the saved line and protocol mode again. An unanswered reset does not
// stop it (the prompt search decides; when that fails too, the reset's
// silence is what is reported). To recover a radio left in its boot code
// there is no reset, and the radio is read in full afterwards to show it is
// back.
// Exit status 0 or 1; messages on standard error, a progress bar too when
// it is a terminal.
// `json`: the result as one object on standard output.
int RunFirmware(RadioLink& link, const FirmwareRequest& request, bool json);

}  // namespace qmx
