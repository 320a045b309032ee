// qmxctl diag: the diagnostics window's scan and poll on the command line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/diag_measure.h"

namespace qmx {

class CommandLayer;
class TimeSource;

struct DiagRequest {
  bool scan = true;                       // scan ADDRS, else poll the base
  std::array<bool, diag::kRows> rows{};   // scan: row r stands for address r + 1
  int sweeps = 1;                         // scan
  int count = 10;                         // poll: packets
  std::uint8_t length = 0x10;
  int delayMs = 0;
};

// "1-60", "1,3,7", "2-5,9": addresses 1 … 60. Nothing, with `error` set,
// for anything else.
std::optional<std::array<bool, diag::kRows>> ParseDiagAddresses(const std::string& text, std::string& error);

// Runs the scan or poll, waiting between steps on `time` as the window's
// timer would, and prints its result lines: per address the scan's log
// line, or the poll's (`json`: one object, {"addresses": [{"address",
// "rx_percent", "tx_percent", "lqi"}...]} or {"lqi", "success_percent"}).
// Exit status 0, or 1 when the local radio answered none of the test
// packets, or a poll had no reply from the base.
int RunDiag(CommandLayer& commands, TimeSource& time, const DiagRequest& request, bool json);

}  // namespace qmx
