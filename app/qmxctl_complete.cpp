#include "qmxctl_complete.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "config/register_map.h"
#include "config/settings_model.h"
#include "link/device_watch.h"
#include "link/serial_port.h"

namespace qmx::ctl {
namespace {

void PrintSettings() {
  // An on/off setting's two texts are what the table shows for 0 and 1.
  const std::vector<std::uint8_t> zeros(kImageSize, 0), ones(kImageSize, 1);
  for (const Setting& s : Settings()) {
    if (s.shownOnly) continue;  // shown only, not written
    std::printf("%s", s.key);
    for (const SettingItem& item : s.items) std::printf("\t%s", item.text);
    if (s.encoding == Encoding::OnOff)
      std::printf("\t%s\t%s", FormatSetting(s, ones).c_str(), FormatSetting(s, zeros).c_str());
    std::printf("\n");
  }
}

void PrintPorts() {
  std::vector<PortInfo> ports = ListSerialPorts();
  std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) { return a.path < b.path; });
  std::printf("sim\n");
  for (const PortInfo& port : ports) {
    std::printf("%s\n", port.path.c_str());
    const std::string stable = IdentifyDevice(port.path).stableName;
    if (!stable.empty()) std::printf("%s\n", stable.c_str());
  }
}

}  // namespace

int PrintCompletion(const std::string& what) {
  if (what == "settings") {
    PrintSettings();
  } else if (what == "ports") {
    PrintPorts();
  } else {
    std::fprintf(stderr, "qmxctl: --complete takes settings or ports\n");
    return 2;
  }
  return 0;
}

}  // namespace qmx::ctl
