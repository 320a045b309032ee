#include "mainwindow/window_title.h"

namespace qmx {
namespace {

std::string_view ModeText(LinkState state) {
  switch (state) {
    case LinkState::Protocol: return "protocol mode";
    case LinkState::Terminal: return "terminal mode";
    case LinkState::BootCode: return "boot code";
    case LinkState::Closed:
    case LinkState::Lost: break;
  }
  return {};
}

}  // namespace

std::string WindowTitle(std::string_view program, LinkState state, std::string_view port) {
  const std::string_view mode = ModeText(state);
  std::string title(program);
  if (mode.empty() || port.empty()) return title;
  title += " - ";
  title += port;
  title += ", ";
  title += mode;
  return title;
}

}  // namespace qmx
