#include "qmxctl_nodes.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "config/local_status.h"
#include "config/register_map.h"
#include "link/clock.h"
#include "link/command_layer.h"
#include "link/failure_text.h"
#include "link/network_nodes.h"
#include "link/number_text.h"
#include "link/workdir.h"
#include "qmxctl_output.h"

namespace qmx {
namespace ctl {

void NodeFeed::Keep(Event event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  cv_.notify_all();
}

void NodeFeed::Announced(const Announcement& a) {
  next_.Announced(a);
  Keep({Event::Announce, a});
}

void NodeFeed::ReceivedData(std::uint16_t address, std::uint8_t lqi, std::span<const std::uint8_t> data) {
  next_.ReceivedData(address, lqi, data);
  Keep({Event::Data, {}, address, lqi});
}

void NodeFeed::IoEvent(std::uint16_t address, std::span<const std::uint8_t> data) {
  next_.IoEvent(address, data);
  Keep({Event::Io, {}, address});
}

void NodeFeed::Drain(net::NodeTable& table) {
  std::vector<Event> events;
  {
    std::lock_guard lock(mutex_);
    events.swap(events_);
  }
  for (const Event& e : events) {
    switch (e.kind) {
      case Event::Announce:
        table.Announced(e.announcement);
        break;
      case Event::Data:
        table.ReceivedData(e.address, e.lqi);
        break;
      case Event::Io:
        table.IoEvent(e.address);
        break;
    }
  }
}

bool NodeFeed::WaitUntil(TimeSource& time, Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  while (events_.empty()) {
    if (time.Now() >= deadline) return false;
    time.WaitUntil(lock, cv_, deadline);
  }
  return true;
}

}  // namespace ctl

namespace {

// The local radio's network address and MAC, from its bank 2 as the
// status command reads it.
bool ReadLocal(CommandLayer& commands, net::NodeTable& table) {
  const std::optional<BankInfo> bank = FindBank(2);
  RadioImage image;
  if (!bank || ReadBanks(commands, image, bank->maskBit, 0, 0) != bank->maskBit) return false;
  const LocalStatusTexts status = FormatLocalStatus(image, 0);
  table.SetBase(status.networkValue, status.mac);
  return true;
}

// Listens until `seconds` have passed on `time`, handing each batch of
// events to the table as it comes, so that each is heard at its time.
void Listen(ctl::NodeFeed& feed, net::NodeTable& table, TimeSource& time, double seconds) {
  const auto end = time.Now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (feed.WaitUntil(time, end)) feed.Drain(table);
  feed.Drain(table);
}

// "Scanning 12/60" on a terminal, rewritten in place.
class ScanProgress {
 public:
  ScanProgress() : shown_(::isatty(2) == 1) {}
  ~ScanProgress() {
    if (shown_ && drawn_) std::fputc('\n', stderr);
  }
  void Show(std::size_t done, std::size_t total) {
    if (!shown_) return;
    std::fprintf(stderr, "\rqmxctl: nodes: scanning %zu/%zu", done, total);
    drawn_ = true;
  }

 private:
  bool shown_;
  bool drawn_ = false;
};

struct Row {
  std::array<std::string, 9> cells;
};

void PrintText(const net::NodeTable& table, const net::NameBook& names, Clock::time_point now) {
  std::vector<Row> rows;
  rows.push_back({{"Address", "MAC", "Name", "State", "First seen", "Last heard", "Frames", "Last LQI", "Mean LQI"}});
  for (const net::Node& node : table.Rows()) {
    if (!node.known) continue;
    const std::optional<std::string> name = node.mac ? names.NameOf(*node.mac) : std::nullopt;
    rows.push_back({{HexText(node.address, 4), node.mac.value_or("-"), name.value_or(""), net::NodeStateText(node.state),
                     std::to_string(net::SecondsAgo(node.firstSeen, now)) + " s",
                     std::to_string(net::SecondsAgo(node.lastHeard, now)) + " s", std::to_string(node.frames),
                     node.lastLqi ? std::to_string(*node.lastLqi) : "-", net::MeanLqiText(node.MeanLqi(now))}});
    if (rows.back().cells[8].empty()) rows.back().cells[8] = "-";
  }
  std::array<std::size_t, 9> width{};
  for (const Row& r : rows)
    for (std::size_t c = 0; c < width.size(); ++c) width[c] = std::max(width[c], r.cells[c].size());
  for (const Row& r : rows) {
    std::string line;
    for (std::size_t c = 0; c < width.size(); ++c) {
      // Texts to the left, numbers (from "First seen" on) to the right.
      const std::string pad(width[c] - r.cells[c].size(), ' ');
      line += c < 4 ? r.cells[c] + pad : pad + r.cells[c];
      if (c + 1 < width.size()) line += "  ";
    }
    line.erase(line.find_last_not_of(' ') + 1);
    std::printf("%s\n", line.c_str());
  }
}

void PrintJson(const net::NodeTable& table, const net::NameBook& names, Clock::time_point now,
               const std::optional<net::ScanSummary>& scan) {
  ctl::Json nodes = ctl::Json::array();
  for (const net::Node& node : table.Rows()) {
    if (!node.known) continue;
    const std::optional<std::string> name = node.mac ? names.NameOf(*node.mac) : std::nullopt;
    const std::optional<double> mean = node.MeanLqi(now);
    nodes.push_back({{"address", node.address},
                     {"address_hex", HexText(node.address, 4)},
                     {"mac", node.mac ? ctl::Json(*node.mac) : ctl::Json(nullptr)},
                     {"name", name ? ctl::Json(*name) : ctl::Json(nullptr)},
                     {"local", node.base},
                     {"state", net::NodeStateText(node.state)},
                     {"first_seen_s_ago", net::SecondsAgo(node.firstSeen, now)},
                     {"last_heard_s_ago", net::SecondsAgo(node.lastHeard, now)},
                     {"frames", node.frames},
                     {"last_lqi", node.lastLqi ? ctl::Json(*node.lastLqi) : ctl::Json(nullptr)},
                     {"mean_lqi", mean ? ctl::Json(*mean) : ctl::Json(nullptr)}});
  }
  ctl::Json result{{"nodes", nodes}};
  if (scan) result["scan"] = {{"asked", scan->asked}, {"answered", scan->answered}};
  ctl::PrintJson(result);
}

}  // namespace

int RunNodes(CommandLayer& commands, ctl::NodeFeed& feed, TimeSource& time, const WorkDir& dir,
             const NodesRequest& request, bool json) {
  net::NodeTable table(time);
  net::NameBook names(dir);
  names.Load();
  feed.Drain(table);
  if (!ReadLocal(commands, table)) {
    std::fprintf(stderr, "qmxctl: nodes: %s\n", FailureOf(Operation::ReadBanks)->message.c_str());
    return 1;
  }
  Listen(feed, table, time, request.listenSeconds);
  std::optional<net::ScanSummary> summary;
  if (request.scan) {
    net::NodeScan scan(*request.scan, diag::CommandSender(commands), table);
    ScanProgress progress;
    summary = scan.Run([&](std::size_t done, std::size_t total) {
      feed.Drain(table);
      progress.Show(done, total);
    });
  }
  feed.Drain(table);
  const Clock::time_point now = time.Now();
  if (json)
    PrintJson(table, names, now, summary);
  else
    PrintText(table, names, now);
  std::fflush(stdout);
  if (summary && !summary->failure.ok()) {
    std::fprintf(stderr, "qmxctl: nodes: the scan ended at %s: the port has gone\n",
                 HexText(static_cast<std::uint16_t>(request.scan->first + summary->asked - 1), 4).c_str());
    return 1;
  }
  if (summary && summary->asked > 0 && summary->silent == summary->asked) {
    std::fprintf(stderr, "qmxctl: nodes: the radio answered none of the scan's packets\n");
    return 1;
  }
  if (summary && summary->notLinked > 0)
    std::fprintf(stderr, "qmxctl: nodes: the local radio is in no network: %zu of the scan's packets were not sent\n",
                 summary->notLinked);
  return 0;
}

}  // namespace qmx
