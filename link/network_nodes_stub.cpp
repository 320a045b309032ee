// TEMPORARY STAND-IN, to be dropped when the real link/network_nodes.cpp
// arrives: just enough of NodeTable, NameBook and NodesCsv for the Network
// tab to run and be tested. Not the implementation.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "link/decoder.h"
#include "link/network_nodes.h"
#include "link/workdir.h"

namespace qmx::net {

const char* NodeStateText(NodeState state) {
  switch (state) {
    case NodeState::Joined:
      return "joined";
    case NodeState::Left:
      return "left";
    case NodeState::Heard:
      break;
  }
  return "heard";
}

NodeTable::NodeTable(const TimeSource& clock) : clock_(clock) {}

namespace {
std::size_t Touch(std::vector<Node>& rows, Changes& ch, std::uint16_t address, Clock::time_point now) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].address == address && !rows[i].base) {
      ch.changed.push_back(i);
      rows[i].lastHeard = now;
      return i;
    }
  if (ch.added == 0) ch.firstAdded = rows.size();
  ++ch.added;
  Node n;
  n.address = address;
  n.firstSeen = n.lastHeard = now;
  rows.push_back(n);
  return rows.size() - 1;
}
void Sample(Node& n, std::uint8_t lqi, Clock::time_point now) {
  n.lastLqi = lqi;
  n.lqi.push_back({now, lqi});
  while (!n.lqi.empty() && now - n.lqi.front().at > kLqiWindow) n.lqi.pop_front();
}
}  // namespace

void NodeTable::SetBase(std::uint16_t address, std::optional<std::string> mac) {
  const auto now = clock_.Now();
  if (rows_.empty() || !rows_[0].base) {
    Node n;
    n.base = true;
    n.state = NodeState::Joined;
    n.firstSeen = n.lastHeard = now;
    rows_.insert(rows_.begin(), n);
    changes_ = {};
    changes_.added = rows_.size();
  } else if (changes_.added == 0 || changes_.firstAdded > 0) {
    changes_.changed.insert(changes_.changed.begin(), 0);
  }
  rows_[0].address = address;
  rows_[0].mac = std::move(mac);
}

void NodeTable::Announced(const Announcement& a) {
  if (!a.address || (a.code != 0xA2 && a.code != 0xA5)) return;
  if (a.mac)
    if (auto row = RowOfMac(*a.mac); row && rows_[*row].address != *a.address) rows_[*row].address = *a.address;
  const std::size_t i = Touch(rows_, changes_, *a.address, clock_.Now());
  if (a.mac) rows_[i].mac = a.mac;
  if (a.code == 0xA2) rows_[i].state = NodeState::Joined;
  if (a.code == 0xA5) rows_[i].state = NodeState::Left;
}

void NodeTable::ReceivedData(std::uint16_t address, std::uint8_t lqi) {
  const auto now = clock_.Now();
  Node& n = rows_[Touch(rows_, changes_, address, now)];
  ++n.frames;
  Sample(n, lqi, now);
}

void NodeTable::IoEvent(std::uint16_t address) { ++rows_[Touch(rows_, changes_, address, clock_.Now())].frames; }

void NodeTable::RemoteReplied(std::uint16_t address, std::optional<std::uint8_t> lqi) { Answered(address, lqi); }

void NodeTable::Answered(std::uint16_t address, std::optional<std::uint8_t> lqi) {
  const auto now = clock_.Now();
  Node& n = rows_[Touch(rows_, changes_, address, now)];
  if (lqi) Sample(n, *lqi, now);
}

std::optional<std::size_t> NodeTable::RowOf(std::uint16_t address) const {
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].address == address) return i;
  return std::nullopt;
}

std::optional<std::size_t> NodeTable::RowOfMac(const std::string& mac) const {
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].mac == mac) return i;
  return std::nullopt;
}

Changes NodeTable::TakeChanges() {
  Changes out = std::move(changes_);
  std::sort(out.changed.begin(), out.changed.end());
  out.changed.erase(std::unique(out.changed.begin(), out.changed.end()), out.changed.end());
  if (out.added == 0) out.firstAdded = rows_.size();
  std::erase_if(out.changed, [&](std::size_t i) { return i >= out.firstAdded; });
  changes_ = {};
  changes_.firstAdded = rows_.size();
  return out;
}

void NodeTable::Trim() {
  const auto now = clock_.Now();
  for (Node& n : rows_)
    while (!n.lqi.empty() && now - n.lqi.front().at > kLqiWindow) n.lqi.pop_front();
}

NameBook::NameBook(const WorkDir& dir) : dir_(dir) {}

void NameBook::Load() {
  names_.clear();
  std::ifstream in(dir_.File("names.ini"));
  for (std::string line; std::getline(in, line);)
    if (auto eq = line.find('='); eq != std::string::npos) names_[line.substr(0, eq)] = line.substr(eq + 1);
}

bool NameBook::Set(const std::string& mac, const std::string& name) {
  if (name.empty())
    names_.erase(mac);
  else
    names_[mac] = name;
  std::ofstream out(dir_.File("names.ini"), std::ios::trunc);
  for (const auto& [m, n] : names_) out << m << '=' << n << '\n';
  return static_cast<bool>(out);
}

std::optional<std::string> NameBook::NameOf(const std::string& mac) const {
  if (auto it = names_.find(mac); it != names_.end()) return it->second;
  return std::nullopt;
}

std::optional<std::string> NameBook::NameAt(const NodeTable& table, std::uint16_t address) const {
  const auto row = table.RowOf(address);
  if (!row || !table.Rows()[*row].mac) return std::nullopt;
  return NameOf(*table.Rows()[*row].mac);
}

std::string NodesCsv(const NodeTable& table, const NameBook* names, Clock::time_point now) {
  std::ostringstream out;
  out << "address,mac,name,state,first_seen_s,last_heard_s,frames,last_lqi,mean_lqi\n";
  for (const Node& n : table.Rows()) {
    std::string name = n.mac && names ? names->NameOf(*n.mac).value_or("") : "";
    out << NetworkAddressText(n.address) << ',' << n.mac.value_or("") << ',' << name << ','
        << NodeStateText(n.state) << ','
        << std::chrono::duration_cast<std::chrono::seconds>(now - n.firstSeen).count() << ','
        << std::chrono::duration_cast<std::chrono::seconds>(now - n.lastHeard).count() << ',' << n.frames << ','
        << (n.lastLqi ? std::to_string(*n.lastLqi) : "") << ",\n";
  }
  return out.str();
}

}  // namespace qmx::net
