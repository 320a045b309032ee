// What the configuration dialog and `qmxctl config` show of the writer's
// results (config/config_writer.h): each failure's box in the order it
// happened, the reports of success and the questions between them. One call
// per button.
#pragma once

#include <functional>
#include <span>

#include "config/config_writer.h"

namespace qmx {

class Prompter;

// Apply: SendConfiguration, its failures, "Settings Saved." or "No changes
// were detected.", the reset question when a setting that acts only at
// start took effect, then protocol mode again (ReenterAfterApply).
ApplyResult ApplyConfiguration(CommandLayer& link, Prompter& prompter, LinePort& line, ConfigTarget target,
                               std::span<const ConfigWrite> writes,
                               const std::function<void(const ConfigWrite&)>& succeeded);

// Defaults: LoadDefaults with the question "Do you want to reset the radio
// to have the changes take effect.", then its failure.
DefaultsOutcome DefaultRadio(CommandLayer& link, Prompter& prompter, LinePort& line, ConfigTarget target);

// FCC1, FCC2, FCC4: SetFccMode and its failure; true on success.
bool SetFccModeShown(CommandLayer& link, Prompter& prompter, ConfigTarget target, int mode);

// The MAC address dialog's Write: WriteMacAddress, its failure or "MAC
// Address changed successfully."; true when written.
bool WriteMacAddressShown(CommandLayer& link, Prompter& prompter, std::string_view text);

}  // namespace qmx
