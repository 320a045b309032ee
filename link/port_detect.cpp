#include "link/port_detect.h"

#include <algorithm>
#include <iterator>


namespace qmx {

std::vector<PortEntry> BuildPortList(const std::vector<PortInfo>& ports,
                                     const std::function<bool(const std::string& path)>& probe, bool withSim) {
  std::vector<PortEntry> list;
  for (const PortInfo& port : ports) {
    PortEntry entry;
    entry.path = port.path;
    entry.number = port.number;
    entry.tooltip = port.description;
    if (!port.vidPid.empty()) entry.tooltip += (entry.tooltip.empty() ? "USB " : ", USB ") + port.vidPid;
    entry.tooltip += (entry.tooltip.empty() ? "" : ", ") + port.path;
    entry.usb = !port.vidPid.empty();
    entry.text = port.name + (probe && probe(port.path) ? "-OK" : "-N/A");
    auto at = std::find_if(list.begin(), list.end(), [&](const PortEntry& e) { return e.number >= entry.number; });
    list.insert(at, std::move(entry));
  }
  if (withSim) {
    PortEntry sim;
    sim.text = std::string(kSimPortName) + "-OK";
    sim.path = "sim";
    sim.tooltip = "The built-in simulated QMX2400 module";
    list.push_back(std::move(sim));
  }
  return list;
}

std::string EntryPortName(std::string_view entry) {
  for (std::string_view suffix : {std::string_view("-OK"), std::string_view("-N/A")}) {
    if (entry.size() > suffix.size() && entry.substr(entry.size() - suffix.size()) == suffix)
      return std::string(entry.substr(0, entry.size() - suffix.size()));
  }
  return std::string(entry);
}

std::string PortPath(std::string_view portName) {
  if (portName == kSimPortName || portName == "sim") return "sim";
  if (!portName.empty() && portName.front() == '/') return std::string(portName);
  return "/dev/" + std::string(portName);
}

int DefaultPortIndex(const std::vector<PortEntry>& entries, bool preferSim) {
  const auto find = [&](auto pred) {
    const auto it = std::find_if(entries.begin(), entries.end(), pred);
    return it == entries.end() ? -1 : static_cast<int>(it - entries.begin());
  };
  const int sim = find([](const PortEntry& e) { return e.IsSim(); });
  const int usb = find([](const PortEntry& e) { return e.usb; });
  if (preferSim && sim >= 0) return sim;
  if (usb >= 0) return usb;
  if (sim >= 0) return sim;
  return entries.empty() ? -1 : 0;
}

ImpliedPort ImplyPort(const std::string& environment, const std::vector<PortInfo>& ports) {
  ImpliedPort implied;
  for (const PortInfo& p : ports)
    if (!p.vidPid.empty()) implied.adapters.push_back(p.path);
  std::sort(implied.adapters.begin(), implied.adapters.end());
  if (!environment.empty()) implied.path = environment;
  else if (implied.adapters.size() == 1) implied.path = implied.adapters.front();
  return implied;
}

LineSettings SettingsFromSelection(int baudIndex, int parityIndex, int stopBitsIndex) {
  const auto pick = [](const auto& values, int index, auto fallback) {
    return index >= 0 && static_cast<std::size_t>(index) < std::size(values) ? values[index] : fallback;
  };
  LineSettings s;
  s.baudRate = pick(kBaudRates, baudIndex, std::uint32_t{9600});
  s.byteSize = 8;
  s.parity = pick(kParityCodes, parityIndex, parity::None);
  s.stopBits = pick(kStopBitCodes, stopBitsIndex, stopbits::One);
  return s;
}

bool AutoDetectRadio(const std::vector<PortEntry>& entries, const DetectSteps& steps, int* bootCodeEntry) {
  constexpr int kTwoStopBits = 1;
  if (bootCodeEntry) *bootCodeEntry = -1;
  constexpr int kBaudCount = static_cast<int>(std::size(kBaudRates));
  for (std::size_t e = 0; e < entries.size(); ++e) {
    const PortEntry& entry = entries[e];
    const bool available = entry.text.size() >= 3 && entry.text.substr(entry.text.size() - 3) == "-OK";
    steps.selectPort(available ? static_cast<int>(e) : -1);
    const std::string path = entry.path.empty() ? PortPath(EntryPortName(entry.text)) : entry.path;
    bool open = true;
    bool opened = false;
    bool everOpened = false;
    for (int p = 0; p < 3; ++p) {
      for (int b = kBaudCount - 1; b >= 0; --b) {
        steps.selectLine(p, b, kTwoStopBits);
        LineSettings line = SettingsFromSelection(b, p, kTwoStopBits);
        if (steps.tryPort(path, line, open, opened)) return true;
        everOpened = everOpened || opened;
        if (steps.cancelled()) {
          steps.stopPort();
          return false;
        }
        // A port that could not be opened has nothing to re-configure: go
        // on with the next port instead of failing 29 more times.
        if (!opened) break;
        open = false;
      }
      if (!opened) break;
    }
    if (everOpened && bootCodeEntry && *bootCodeEntry < 0 && steps.bootCode && steps.bootCode(path))
      *bootCodeEntry = static_cast<int>(e);
    steps.stopPort();
  }
  return false;
}

}  // namespace qmx
