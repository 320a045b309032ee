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
class WorkDir;
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

// What every configuration command is asked besides its arguments.
struct ConfigRequest {
  Remote remote;
  bool reset = false;  // answers the reset question Yes
  bool json = false;   // the result as one JSON object on standard output
};

// Reads the radio, writes (in the table's order) only the assignments whose
// value differs from what it holds, then saves; `reset` answers the reset
// question (asked on standard error).
int RunConfigSet(CommandLayer& link, SerialTransport& transport, const std::vector<Assignment>& assignments,
                 const ConfigRequest& request);
int RunDefaults(CommandLayer& link, SerialTransport& transport, const ConfigRequest& request);
// Profiles: `config save FILE` writes the radio's settings; `config diff
// FILE` prints the settings that differ as "key: radio -> file"; `config
// load FILE` writes those, as config set does. A relative FILE is in `dir`;
// "-" is standard output (save) or input (diff, load).
// CheckProfile reads and checks the file before the port is opened: the
// message names the file and line of the first error.
std::optional<std::string> CheckProfile(const WorkDir& dir, const std::string& file, std::vector<Assignment>& out);
// Whether `config save` can write FILE (link/file_to_write.h), found before
// the port is opened: the reason when not.
std::optional<std::string> CheckProfileTarget(const WorkDir& dir, const std::string& file);
int RunConfigSave(CommandLayer& link, const WorkDir& dir, const std::string& file, const ConfigRequest& request);
// Exit status as diff(1): 0 the radio holds the profile, 1 it differs, 2
// the radio could not be read.
int RunConfigDiff(CommandLayer& link, const std::vector<Assignment>& profile, const ConfigRequest& request);
int RunMac(CommandLayer& link, const std::string& text, const ConfigRequest& request);
int RunFcc(CommandLayer& link, int mode, const ConfigRequest& request);

}  // namespace qmx::ctl
