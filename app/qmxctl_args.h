// qmxctl's command line: the options, the table of commands (their
// arguments, the options each takes, their help) and the checks that turn
// the words into what a command needs, all before any port is opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/packet.h"
#include "link/reply_wait.h"
#include "link/serial_port.h"
#include "qmxctl_config.h"
#include "qmxctl_diag.h"
#include "qmxctl_firmware.h"
#include "qmxctl_nodes.h"

namespace qmx::ctl {

constexpr int kExitOk = 0;
constexpr int kExitRadio = 1;
constexpr int kExitUsage = 2;

struct UsageError {
  std::string text;
  // The arguments were right, what a file holds is not: no pointer to --help.
  bool content = false;
};

struct Options {
  std::string port;            // empty: not named (ValidateArgs chooses)
  bool simByDefault = false;   // the built-in module, for want of a named port
  LineSettings line{9600, 8, parity::None, stopbits::One, false};
  bool log = false;
  bool reconnect = false;  // monitor: wait for a lost device to return
  double timeoutMs = kUsualReplyWait.timeoutMs;  // --timeout replaces every reply's wait
  std::string command;
  std::vector<std::string> args;
  std::optional<std::uint16_t> remote;
  std::optional<std::string> text;
  bool help = false;
  bool version = false;  // --version: nothing else is read
  bool reset = false;
  bool timeoutGiven = false;
  bool json = false;        // results as JSON
  bool quiet = false;       // traffic that is not the result goes nowhere
  bool timestamps = false;  // monitor: ISO 8601 time before each data line
  // Filled from the command's arguments before anything is opened.
  PacketRecord rec;       // get, set, send
  double seconds = 0;     // monitor
  FirmwareRequest firmware;
  std::vector<Assignment> assignments;  // config set
  int fccMode = 0;                      // fcc
  // diag: the option texts, then what they mean.
  std::optional<std::string> sweeps, count, length, delay;
  DiagRequest diag;
  // nodes: the option texts, then what they mean.
  std::optional<std::string> listen, scan;
  NodesRequest nodes;
};

// The words of the command line, options anywhere among them (after "--"
// arguments only), "--name=value" as "--name value". Parsing ends at
// --version. Throws UsageError.
Options ParseArgs(int argc, char** argv);

// Checks every argument of the command and keeps what it means in `o`, so
// that a mistake ends the program before the port is touched. Throws
// UsageError.
void ValidateArgs(Options& o);

// "qmxctl VERSION\n".
std::string VersionText();
// The help of `command`, or the program's help for no or an unknown command.
const char* HelpText(const std::string& command);

}  // namespace qmx::ctl
