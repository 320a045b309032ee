#include "qmxctl_diag.h"

#include <cstdio>
#include <sstream>

#include "link/command_layer.h"
#include "link/number_text.h"
#include "qmxctl_output.h"

namespace qmx {

namespace {

// A whole number 1 … 60, nothing otherwise.
std::optional<int> Address(const std::string& text) {
  std::int32_t v = 0;
  if (text.empty() || !TryTextToInt(text, v) || v < 1 || v > diag::kRows) return std::nullopt;
  return v;
}

}  // namespace

std::optional<std::array<bool, diag::kRows>> ParseDiagAddresses(const std::string& text, std::string& error) {
  std::array<bool, diag::kRows> rows{};
  std::stringstream parts(text);
  std::string part;
  bool any = false;
  while (std::getline(parts, part, ',')) {
    const std::size_t dash = part.find('-', 1);
    const std::optional<int> first = Address(part.substr(0, dash));
    const std::optional<int> last = dash == std::string::npos ? first : Address(part.substr(dash + 1));
    if (!first || !last || *last < *first) {
      error = "bad addresses '" + text + "' (1-60, like 1-60 or 1,3,7)";
      return std::nullopt;
    }
    for (int a = *first; a <= *last; ++a) rows[static_cast<std::size_t>(a - 1)] = true;
    any = true;
  }
  if (!any || text.back() == ',') {
    error = "bad addresses '" + text + "' (1-60, like 1-60 or 1,3,7)";
    return std::nullopt;
  }
  return rows;
}

namespace {

// The lines are printed once at the end, not as the logging period would
// write them.
const diag::LineWriter kNoLog;
constexpr diag::LogPeriod kPeriod = diag::LogPeriod::TenSeconds;

void RunScan(const diag::TestSender& send, TimeSource& time, const DiagRequest& request, bool json) {
  diag::ScanTable table;
  table.Fill();
  for (int r = 0; r < diag::kRows; ++r) table.rows[static_cast<std::size_t>(r)].checked = request.rows[static_cast<std::size_t>(r)];
  diag::ScanCounters counters{};
  diag::Scan scan(table, counters, send, kNoLog);
  scan.Start();
  diag::RunSweeps(scan, request.sweeps, request.length, request.delayMs, kPeriod, time);
  ctl::Json rows = ctl::Json::array();
  for (int r = 0; r < diag::kRows; ++r) {
    if (!request.rows[static_cast<std::size_t>(r)]) continue;
    if (!json) {
      std::printf("%s\n", table.LogLine(r).c_str());
      continue;
    }
    const auto& row = table.rows[static_cast<std::size_t>(r)];
    auto number = [](const std::string& cell) {
      std::int32_t v = 0;
      return TryTextToInt(cell, v) ? v : 0;  // an empty cell or "--" is 0, as in the log line
    };
    rows.push_back({{"address", r + 1},
                    {"rx_percent", number(row.rx)},
                    {"tx_percent", number(row.tx)},
                    {"lqi", number(row.lqi)}});
  }
  if (json) ctl::PrintJson({{"addresses", rows}});
}

// False, with the message printed, when the local radio took the packets
// (`answered`, as the sender has counted so far) and the base answered none.
bool RunPoll(CommandLayer& commands, const diag::TestSender& send, const bool& answered, TimeSource& time,
             const DiagRequest& request, bool json) {
  // A poll measures a remote radio's link to its base: from a base it
  // reaches nobody, which the window avoids by showing the scan instead.
  PacketRecord mode{};
  mode.Bank = 0;
  mode.Register = 0;
  mode.Span = 1;
  // As the status panel reads it.
  if (const Result<int> span = commands.GetRegister(mode); span && *span >= 1 && mode.Data[0] != 0)
    std::fprintf(stderr, "qmxctl: diag: the local radio is a base; a poll measures a remote's link to its base "
                         "(for a base, use diag scan)\n");
  diag::Poll poll(send, kNoLog);
  poll.Start();
  const diag::Poll::TickResult last =
      diag::RunTicks(poll, request.count, request.length, request.delayMs, kPeriod, time);
  if (json)
    ctl::PrintJson({{"lqi", last.lqi}, {"success_percent", last.successRate}});
  else
    std::printf("%s\n", poll.LogLine().c_str());
  if (answered && poll.Successes() == 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "qmxctl: diag: no reply from the base to any of the test packets\n");
    return false;
  }
  return true;
}

}  // namespace

int RunDiag(CommandLayer& commands, TimeSource& time, const DiagRequest& request, bool json) {
  bool answered = false;
  const diag::TestSender txData = diag::CommandSender(commands);
  const diag::TestSender send = [&](PacketRecord& rec) {
    Done result = txData(rec);
    answered = answered || result.ok();
    return result;
  };
  if (request.scan)
    RunScan(send, time, request, json);
  else if (!RunPoll(commands, send, answered, time, request, json))
    return 1;
  std::fflush(stdout);
  if (!answered) {
    std::fprintf(stderr, "qmxctl: diag: the radio answered none of the test packets\n");
    return 1;
  }
  return 0;
}

}  // namespace qmx
