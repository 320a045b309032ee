// The data of qmxctl's shell completion, printed by the hidden option
// 'qmxctl --complete WHAT', so that the completion offers what this program
// takes. The commands and their options come from the help texts instead.
#pragma once

#include <string>

namespace qmx::ctl {

// WHAT is
//   settings: one line per key of 'config set', tab-separated from the
//             values it takes when they are few (list items, on and off);
//   ports:    the serial ports for --port, one a line: sim, each serial
//             device, and its /dev/serial/by-id name when it has one.
// Returns the exit status, 2 for another WHAT.
int PrintCompletion(const std::string& what);

}  // namespace qmx::ctl
