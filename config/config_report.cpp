#include "config/config_report.h"

#include <string>

#include "link/prompter.h"

namespace qmx {

ApplyResult ApplyConfiguration(CommandLayer& link, Prompter& prompter, LinePort& line, ConfigTarget target,
                               std::span<const ConfigWrite> writes,
                               const std::function<void(const ConfigWrite&)>& succeeded) {
  ApplyResult result = SendConfiguration(link, line, target, writes, succeeded);
  for (const FailureText& failure : result.failures) ShowFailure(prompter, failure);
  if (result.outcome == ApplyOutcome::NoChanges) prompter.Message("No changes were detected.", "No changes");
  if (result.outcome != ApplyOutcome::Saved) return result;
  prompter.Message("Settings Saved.", "Save Successfully");
  if (!result.needsReset) return result;
  result.resetAsked = true;
  result.reset =
      prompter.Question("Some settings require the radio to be reset.  Do you wish to reset the radio?", "Radio Reset");
  if (!ShowFailure(prompter, ReenterAfterApply(link, target, result.reset), Variant::ApplyReset))
    result.outcome = ApplyOutcome::ReenterFailed;
  return result;
}

DefaultsOutcome DefaultRadio(CommandLayer& link, Prompter& prompter, LinePort& line, ConfigTarget target) {
  const DefaultsResult r = LoadDefaults(link, line, target, [&prompter] {
    return prompter.Question("Do you want to reset the radio to have the changes take effect.", "Reset Radio");
  });
  ShowFailure(prompter, r.result, Variant::Defaults);
  return r.outcome;
}

bool SetFccModeShown(CommandLayer& link, Prompter& prompter, ConfigTarget target, int mode) {
  return ShowFailure(prompter, SetFccMode(link, target, mode), Variant::Fcc, std::to_string(mode));
}

bool WriteMacAddressShown(CommandLayer& link, Prompter& prompter, std::string_view text) {
  if (!ShowFailure(prompter, WriteMacAddress(link, text), Variant::Mac)) return false;
  prompter.Message("MAC Address changed successfully.", "MAC Address Changed");
  return true;
}

}  // namespace qmx
