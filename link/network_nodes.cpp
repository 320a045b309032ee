#include "link/network_nodes.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include "link/decoder.h"
#include "link/file_to_write.h"
#include "link/number_text.h"
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

std::optional<std::string> NormalMac(std::string_view text) {
  std::string digits;
  std::size_t sinceSeparator = 0;  // digits since the last separator
  for (char c : text) {
    if (c == ':' || c == '-' || c == ' ') {
      // Separators stand between pairs only.
      if (sinceSeparator != 2) return std::nullopt;
      sinceSeparator = 0;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c)) || digits.size() == 16) return std::nullopt;
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ++sinceSeparator;
  }
  if (digits.size() != 16 || (sinceSeparator != 2 && sinceSeparator != 16)) return std::nullopt;
  std::string mac;
  for (std::size_t i = 0; i < 16; i += 2) {
    if (!mac.empty()) mac += ':';
    mac.append(digits, i, 2);
  }
  return mac;
}

std::optional<double> Node::MeanLqi(Clock::time_point now) const {
  double sum = 0;
  std::size_t count = 0;
  for (auto it = lqi.rbegin(); it != lqi.rend() && now - it->at <= kLqiWindow; ++it) {
    sum += static_cast<double>(it->sum);
    count += it->count;
  }
  if (count == 0) return std::nullopt;
  return sum / static_cast<double>(count);
}

// ---------------------------------------------------------------------------
// The table

NodeTable::NodeTable(const TimeSource& clock) : clock_(clock) {
  Node local;
  local.base = true;
  local.known = false;
  rows_.push_back(std::move(local));
  marked_.push_back(false);
  changes_.firstAdded = rows_.size();
}

void NodeTable::Mark(std::size_t row) {
  if (row >= changes_.firstAdded || marked_[row]) return;
  marked_[row] = true;
  changes_.changed.push_back(row);
}

std::size_t NodeTable::Add(Node node) {
  rows_.push_back(std::move(node));
  marked_.push_back(false);
  ++changes_.added;
  return rows_.size() - 1;
}

void NodeTable::TakeAddress(std::size_t row, std::uint16_t address) {
  Node& node = rows_[row];
  if (auto own = byAddress_.find(node.address); own != byAddress_.end() && own->second == row && node.address != address)
    byAddress_.erase(own);
  if (auto held = byAddress_.find(address); held != byAddress_.end() && held->second != row) {
    // Another radio had the address before: it is gone from it.
    rows_[held->second].state = NodeState::Left;
    Mark(held->second);
  }
  byAddress_[address] = row;
  if (node.address != address) {
    node.address = address;
    Mark(row);
  }
}

std::size_t NodeTable::RowFor(std::uint16_t address) {
  if (auto it = byAddress_.find(address); it != byAddress_.end()) return it->second;
  Node node;
  node.address = address;
  node.firstSeen = node.lastHeard = clock_.Now();
  const std::size_t row = Add(std::move(node));
  byAddress_[address] = row;
  return row;
}

void NodeTable::Heard(std::size_t row, std::optional<std::uint8_t> lqi, bool frame) {
  Node& node = rows_[row];
  const Clock::time_point now = clock_.Now();
  node.lastHeard = now;
  if (frame) ++node.frames;
  if (node.state == NodeState::Left) node.state = NodeState::Heard;  // it is back
  if (lqi) {
    node.lastLqi = lqi;
    if (!node.lqi.empty() && now - node.lqi.back().at < kLqiStep) {
      node.lqi.back().Fold(*lqi);
    } else {
      node.lqi.push_back({now, *lqi});
    }
    while (now - node.lqi.front().at > kLqiWindow) node.lqi.pop_front();
  }
  Mark(row);
}

void NodeTable::SetBase(std::uint16_t address, std::optional<std::string> mac) {
  Node& local = rows_[0];
  const std::optional<std::string> normal = mac ? NormalMac(*mac) : std::nullopt;
  if (!local.known) {
    local.known = true;
    local.firstSeen = local.lastHeard = clock_.Now();
  }
  if (normal != local.mac) {
    if (local.mac) byMac_.erase(*local.mac);
    local.mac = normal;
    if (normal) byMac_[*normal] = 0;
  }
  TakeAddress(0, address);
  Mark(0);
}

void NodeTable::Joined(const std::string& mac, std::uint16_t address) {
  std::size_t row;
  if (auto it = byMac_.find(mac); it != byMac_.end()) {
    row = it->second;
  } else if (auto held = byAddress_.find(address); held != byAddress_.end() && !rows_[held->second].mac) {
    // Known by its address alone until now.
    row = held->second;
    rows_[row].mac = mac;
    byMac_[mac] = row;
  } else {
    Node node;
    node.address = address;
    node.mac = mac;
    node.firstSeen = clock_.Now();
    row = Add(std::move(node));
    byMac_[mac] = row;
  }
  TakeAddress(row, address);
  Node& node = rows_[row];
  node.state = NodeState::Joined;
  node.lastHeard = clock_.Now();
  Mark(row);
}

void NodeTable::Announced(const Announcement& a) {
  switch (a.code) {
    case 0xA2:
      if (a.address && a.mac)
        if (const std::optional<std::string> mac = NormalMac(*a.mac)) Joined(*mac, *a.address);
      break;
    case 0xA5:
      if (a.address) {
        const std::size_t row = RowFor(*a.address);
        rows_[row].state = NodeState::Left;
        Mark(row);
      }
      break;
    case 0xA3:
      if (a.address) {
        SetBase(*a.address, rows_[0].mac);
        rows_[0].state = NodeState::Joined;
      }
      break;
    case 0xA1:
      if (rows_[0].known) {
        rows_[0].state = NodeState::Joined;
        Mark(0);
      }
      break;
    case 0xA4:
      if (rows_[0].known) {
        rows_[0].state = NodeState::Left;
        Mark(0);
      }
      break;
    default:
      break;
  }
}

void NodeTable::ReceivedData(std::uint16_t address, std::uint8_t lqi) { Heard(RowFor(address), lqi, true); }

void NodeTable::IoEvent(std::uint16_t address) { Heard(RowFor(address), std::nullopt, true); }

void NodeTable::RemoteReplied(std::uint16_t address, std::optional<std::uint8_t> lqi) {
  Heard(RowFor(address), lqi, true);
}

void NodeTable::Answered(std::uint16_t address, std::optional<std::uint8_t> lqi) {
  Heard(RowFor(address), lqi, true);
}

std::optional<std::size_t> NodeTable::RowOf(std::uint16_t address) const {
  if (auto it = byAddress_.find(address); it != byAddress_.end()) return it->second;
  return std::nullopt;
}

std::optional<std::size_t> NodeTable::RowOfMac(const std::string& mac) const {
  const std::optional<std::string> normal = NormalMac(mac);
  if (!normal) return std::nullopt;
  if (auto it = byMac_.find(*normal); it != byMac_.end()) return it->second;
  return std::nullopt;
}

Changes NodeTable::TakeChanges() {
  Changes out = std::move(changes_);
  std::sort(out.changed.begin(), out.changed.end());
  for (std::size_t row : out.changed) marked_[row] = false;
  changes_ = Changes{};
  changes_.firstAdded = rows_.size();
  return out;
}

void NodeTable::Trim() {
  const Clock::time_point now = clock_.Now();
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    std::deque<LqiSample>& samples = rows_[row].lqi;
    if (samples.empty() || now - samples.front().at <= kLqiWindow) continue;
    while (!samples.empty() && now - samples.front().at > kLqiWindow) samples.pop_front();
    Mark(row);
  }
}

// ---------------------------------------------------------------------------
// Names

namespace {

// No names file is larger: 8 bytes over a thousand radios' lines.
constexpr std::uintmax_t kMaxNamesFile = 1 << 20;

bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::map<std::string, std::string> ParseNames(std::string_view text) {
  std::map<std::string, std::string> names;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view start = Trimmed(line);
    if (start.empty() || start[0] == '#' || start[0] == ';' || start[0] == '[') continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::optional<std::string> mac = NormalMac(Trimmed(line.substr(0, eq)));
    const std::string_view name = Trimmed(line.substr(eq + 1));
    if (!mac || name.empty() || HasControlByte(name)) continue;
    names[*mac] = std::string(name);
  }
  return names;
}

std::string NamesText(const std::map<std::string, std::string>& names) {
  std::string text = "# Names of the radios, by MAC address: MAC=name\n";
  for (const auto& [mac, name] : names) text += mac + "=" + name + "\n";
  return text;
}

NameBook::NameBook(const WorkDir& dir) : dir_(dir) {}

void NameBook::Load() {
  names_.clear();
  const std::filesystem::path path = dir_.SettingsFile(kNamesFile);
  std::error_code ec;
  // Not a pipe or device, which could block or never end.
  if (!std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) > kMaxNamesFile || ec)
    return;
  std::ifstream in(path, std::ios::binary);
  std::string text;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  text.resize(std::min<std::size_t>(text.size(), kMaxNamesFile));
  names_ = ParseNames(text);
}

bool NameBook::Set(const std::string& mac, const std::string& name) {
  const std::optional<std::string> normal = NormalMac(mac);
  const std::string_view kept = Trimmed(name);
  if (!normal || HasControlByte(kept)) return false;
  if (kept.empty())
    names_.erase(*normal);
  else
    names_[*normal] = std::string(kept);
  return WriteFileReplacing(dir_.SettingsFile(kNamesFile), NamesText(names_)).ok();
}

std::optional<std::string> NameBook::NameOf(const std::string& mac) const {
  const std::optional<std::string> normal = NormalMac(mac);
  if (!normal) return std::nullopt;
  if (auto it = names_.find(*normal); it != names_.end()) return it->second;
  return std::nullopt;
}

std::optional<std::string> NameBook::NameAt(const NodeTable& table, std::uint16_t address) const {
  const std::optional<std::size_t> row = table.RowOf(address);
  if (!row || !table.Rows()[*row].mac) return std::nullopt;
  return NameOf(*table.Rows()[*row].mac);
}

// ---------------------------------------------------------------------------
// CSV

std::int64_t SecondsAgo(Clock::time_point at, Clock::time_point now) {
  if (at >= now) return 0;
  return std::chrono::duration_cast<std::chrono::seconds>(now - at).count();
}

std::string MeanLqiText(const std::optional<double>& mean) {
  if (!mean) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", *mean);
  return text;
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string NodesCsv(const NodeTable& table, const NameBook* names, Clock::time_point now) {
  std::string csv = std::string(kNodesCsvHeader) + "\r\n";
  for (const Node& node : table.Rows()) {
    if (!node.known) continue;
    std::optional<std::string> name;
    if (names && node.mac) name = names->NameOf(*node.mac);
    csv += HexText(node.address, 4) + "," + CsvField(node.mac.value_or("")) + "," + CsvField(name.value_or("")) + "," +
           NodeStateText(node.state) + "," + std::to_string(SecondsAgo(node.firstSeen, now)) + "," +
           std::to_string(SecondsAgo(node.lastHeard, now)) + "," + std::to_string(node.frames) + "," +
           (node.lastLqi ? std::to_string(*node.lastLqi) : "") + "," + MeanLqiText(node.MeanLqi(now)) + "\r\n";
  }
  return csv;
}

}  // namespace qmx::net
