// qmxctl's configuration commands: config set, defaults, mac and fcc, on the
// operations of config/config_writer.h. Arguments are checked by the Check*
// functions before any port is opened; the Run* functions return the exit
// status (0 done, 1 the radio did not answer or refused).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qmx {
class CommandLayer;
class SerialTransport;
struct Setting;
}  // namespace qmx

namespace qmx::ctl {

// One KEY=VALUE of `config set`, as typed.
struct Assignment {
  const Setting* setting = nullptr;
  std::string value;
};

// Reads KEY=VALUE words into `out`. On a bad word, key or value: the message
// (listing the keys, or the values the key accepts).
std::optional<std::string> CheckAssignments(const std::vector<std::string>& words, std::vector<Assignment>& out);
std::optional<std::string> CheckMac(const std::string& text);
// 1, 2 or 4.
std::optional<std::string> CheckFccMode(const std::string& text, int& mode);

// A network address for a remote radio, nothing for the local one.
using Remote = std::optional<std::uint16_t>;

// Reads the radio, writes (in the table's order) only the assignments whose
// value differs from what it holds, then saves; `reset` answers the reset
// question.
int RunConfigSet(CommandLayer& link, SerialTransport& transport, const std::vector<Assignment>& assignments,
                 Remote remote, bool reset);
int RunDefaults(CommandLayer& link, SerialTransport& transport, Remote remote, bool reset);
int RunMac(CommandLayer& link, const std::string& text);
int RunFcc(CommandLayer& link, Remote remote, int mode);

}  // namespace qmx::ctl
