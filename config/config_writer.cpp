#include "config/config_writer.h"

#include "link/transport.h"

namespace qmx {

bool TransportLinePort::GetLine(LineSettings& out) { return transport_.ReadLine(out); }
bool TransportLinePort::SetLine(const LineSettings& line) { return transport_.ApplyLine(line); }

bool TakesEffectAtStart(const Setting&) { return false; }

ApplyResult SendConfiguration(CommandLayer&, Prompter&, LinePort&, ConfigTarget, std::span<const ConfigWrite>,
                              const std::function<void(const ConfigWrite&)>&) {
  return {};
}

int ResetRadio(CommandLayer&, ConfigTarget) { return -1; }

DefaultsOutcome LoadDefaults(CommandLayer&, Prompter&, LinePort&, ConfigTarget) { return DefaultsOutcome::Failed; }

bool SetFccMode(CommandLayer&, Prompter&, ConfigTarget, int) { return false; }

std::optional<std::array<std::uint8_t, 8>> ParseMacText(std::string_view) { return std::nullopt; }

MacWriteOutcome WriteMacAddress(CommandLayer&, Prompter&, std::string_view) { return MacWriteOutcome::Invalid; }

}  // namespace qmx
