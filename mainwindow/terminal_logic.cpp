#include "mainwindow/terminal_logic.h"

#include "link/number_text.h"

namespace qmx {

std::string TerminalText(std::span<const std::uint8_t> bytes, bool hex) {
  std::string text;
  text.reserve(bytes.size() * (hex ? 3 : 1));
  for (std::uint8_t b : bytes) {
    if (hex) {
      text += Hex2(b);
      text += ' ';
    } else {
      text += static_cast<char>(b);
    }
  }
  return text;
}

TabChange PlanTabChange(MainTab from, MainTab to, bool pollPanelCollapsed) {
  TabChange c;
  if (from == to) return c;
  if (from == MainTab::PollIO && pollPanelCollapsed) {
    c.refused = true;
    c.showCollapseBox = true;
    return c;
  }
  c.leaveTerminal = from == MainTab::Zavedo;
  c.enterTerminal = to == MainTab::Zavedo;
  c.showCollapseBox = to == MainTab::PollIO;
  return c;
}

std::string PeriodicWorkText(PeriodicWork work, std::string_view state) {
  std::string what;
  if (work.poll) what = "Automatic refresh";
  if (work.transmit) what += what.empty() ? "Repeated transmit" : " and repeated transmit";
  if (what.empty()) return what;
  return what + " " + std::string(state);
}

std::string LeftTerminalText(bool terminalRepeatStopped, PeriodicWork work, bool protocolMode) {
  std::string text = terminalRepeatStopped ? "Zavedo's repeated transmit stopped on leaving the terminal." : "";
  const std::string rest = PeriodicWorkText(work, protocolMode ? "resumed." : "stopped.");
  if (!text.empty() && !rest.empty()) text += "  ";
  return text + rest;
}

}  // namespace qmx
