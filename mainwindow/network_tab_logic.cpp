#include "mainwindow/network_tab_logic.h"

#include <cmath>
#include <cstdio>

#include "link/command_layer.h"
#include "link/decoder.h"
#include "link/number_text.h"
#include "link/packet.h"

namespace qmx {

const char* NetColumnTitle(NetColumn column) {
  switch (column) {
    case NetColumn::Address:
      return "Address";
    case NetColumn::Name:
      return "Name";
    case NetColumn::Mac:
      return "MAC Address";
    case NetColumn::State:
      return "State";
    case NetColumn::FirstSeen:
      return "First Seen";
    case NetColumn::LastHeard:
      return "Last Heard";
    case NetColumn::Frames:
      return "Frames";
    case NetColumn::LastLqi:
      return "LQI";
    case NetColumn::LqiLine:
    case NetColumn::Count:
      break;
  }
  return "Last Minute";
}

std::string AgeText(Clock::duration age) {
  const long long s = std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(age).count());
  char text[32];
  if (s < 60)
    std::snprintf(text, sizeof text, "%lld s", s);
  else if (s < 3600)
    std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
  else if (s < 86400)
    std::snprintf(text, sizeof text, "%lld h %02lld min", s / 3600, s / 60 % 60);
  else
    std::snprintf(text, sizeof text, "%lld d %02lld h", s / 86400, s / 3600 % 24);
  return text;
}

std::string NodeCellText(const net::Node& node, NetColumn column, const std::optional<std::string>& name,
                         Clock::time_point now) {
  switch (column) {
    case NetColumn::Address:
      return NetworkAddressText(node.address);
    case NetColumn::Name:
      return name.value_or(node.base ? "(base)" : "");
    case NetColumn::Mac:
      return node.mac.value_or("");
    case NetColumn::State:
      return net::NodeStateText(node.state);
    case NetColumn::FirstSeen:
      return AgeText(now - node.firstSeen);
    case NetColumn::LastHeard:
      return node.base ? std::string() : AgeText(now - node.lastHeard);
    case NetColumn::Frames:
      return std::to_string(node.frames);
    case NetColumn::LastLqi:
      return node.lastLqi ? std::to_string(*node.lastLqi) : std::string();
    case NetColumn::LqiLine:
    case NetColumn::Count:
      break;
  }
  const std::optional<double> mean = node.MeanLqi(now);
  return mean ? "mean " + std::to_string(std::lround(*mean)) : std::string();
}

std::string NodeRowText(const net::Node& node, const std::optional<std::string>& name, Clock::time_point now) {
  std::string line;
  for (int c = 0; c < kNetColumns; ++c) {
    if (c) line += '\t';
    line += NodeCellText(node, static_cast<NetColumn>(c), name, now);
  }
  return line;
}

std::string AddressWithName(std::uint16_t address, const std::optional<std::string>& name) {
  std::string text = NetworkAddressText(address);
  if (name && !name->empty()) text += "  " + *name;
  return text;
}

std::optional<int> PollSlotFor(const std::array<std::string, kRemoteRadios>& addressTexts, std::uint16_t address) {
  if (const std::optional<int> held = MatchIoEvent(addressTexts, address)) return held;
  for (int n = 1; n <= kRemoteRadios; ++n)
    if (addressTexts[static_cast<std::size_t>(n - 1)].empty()) return n;
  return std::nullopt;
}

namespace {

PacketRecord LineRecord(std::uint16_t address) {
  PacketRecord rec;
  rec.Bank = 5;
  rec.Register = static_cast<std::uint8_t>(kIdentifyLine);
  rec.Span = 1;
  rec.NetworkAddress = address;
  return rec;
}

}  // namespace

OutputLine RemoteOutputLine(CommandLayer& commands, std::uint16_t address) {
  return {[&commands, address]() -> Result<std::uint8_t> {
            PacketRecord rec = LineRecord(address);
            const Result<int> got = commands.GetRemoteRegister(rec);
            if (!got) return Result<std::uint8_t>::From(got);
            return rec.Data[0];
          },
          [&commands, address](std::uint8_t value) {
            PacketRecord rec = LineRecord(address);
            rec.Data[0] = value;
            return commands.SetRemoteRegister(rec);
          }};
}

Done IdentifyRadio(const OutputLine& line, const std::function<void(int ms)>& pause, int blinks) {
  const Result<std::uint8_t> got = line.read();
  if (!got) return Done::From(got);
  const std::uint8_t original = *got;
  const std::uint8_t other = original ? 0 : 1;
  const auto& write = line.write;
  Done outcome;
  for (int i = 0; i < blinks && outcome; ++i) {
    outcome = write(other);
    if (outcome && pause) pause(kIdentifyBlinkMs);
    if (!outcome) break;
    outcome = write(original);
    if (outcome && pause && i + 1 < blinks) pause(kIdentifyBlinkMs);
  }
  // Left as found: a failed blink still puts the first value back.
  if (!outcome) (void)write(original);
  return outcome;
}

LinkMeasurement MeasureLink(const diag::TestSender& send, std::uint16_t address, int packets) {
  LinkMeasurement m;
  long lqiSum = 0;
  for (int i = 0; i < packets; ++i) {
    PacketRecord rec;
    rec.NetworkAddress = address;
    rec.Length = kMeasureBytes;
    for (std::size_t b = 0; b < kMeasureBytes; ++b) rec.Data[b] = static_cast<std::uint8_t>(b + 1);
    ++m.sent;
    if (!send(rec)) continue;
    ++m.answered;
    if (rec.TxStatus != txstatus::Acknowledged) continue;
    ++m.acknowledged;
    lqiSum += rec.Lqi;
  }
  if (m.acknowledged) m.meanLqi = static_cast<int>(lqiSum / m.acknowledged);
  return m;
}

std::string MeasurementText(std::uint16_t address, const LinkMeasurement& m) {
  std::string text = "Link to " + NetworkAddressText(address) + ": " + std::to_string(m.acknowledged) + " of " +
                     std::to_string(m.sent) + " test packets acknowledged";
  if (m.meanLqi) text += ", mean LQI " + std::to_string(*m.meanLqi);
  if (m.answered < m.sent) text += "; the local radio did not answer " + std::to_string(m.sent - m.answered);
  return text + ".";
}

std::optional<net::AddressRange> ReadScanRange(std::string_view first, std::string_view last) {
  const Result<net::AddressRange> range = net::ParseAddressRange(std::string(first) + "-" + std::string(last));
  if (!range) return std::nullopt;
  return *range;
}

std::string ScanSummaryText(const net::ScanSummary& summary, net::AddressRange range) {
  const std::size_t found = summary.answered;
  std::string text = "Found " + std::to_string(found) + (found == 1 ? " radio" : " radios") + " in " +
                     NetworkAddressText(range.first) + " to " + NetworkAddressText(range.last);
  if (summary.cancelled)
    text += ", cancelled after " + std::to_string(summary.asked) + " of " + std::to_string(range.Size());
  return text + ".";
}

}  // namespace qmx
