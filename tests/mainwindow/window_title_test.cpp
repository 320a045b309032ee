#include "mainwindow/window_title.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

TEST(WindowTitle, NamesThePortAndModeOnlyWhileAPortIsOpen) {
  struct Case {
    LinkState state;
    const char* port;
    const char* title;
  };
  const Case cases[] = {
      {LinkState::Protocol, "ttyUSB0", "QMXDemo 2.0 - ttyUSB0, protocol mode"},
      {LinkState::Terminal, "ttyUSB1", "QMXDemo 2.0 - ttyUSB1, terminal mode"},
      {LinkState::BootCode, "SIM", "QMXDemo 2.0 - SIM, boot code"},
      {LinkState::Protocol, "/dev/serial/by-id/usb-radio", "QMXDemo 2.0 - /dev/serial/by-id/usb-radio, protocol mode"},
      // Not connected: the plain name, whatever port was last used.
      {LinkState::Closed, "ttyUSB0", "QMXDemo 2.0"},
      {LinkState::Lost, "ttyUSB0", "QMXDemo 2.0"},
      // Nothing chosen yet.
      {LinkState::Closed, "", "QMXDemo 2.0"},
      {LinkState::Protocol, "", "QMXDemo 2.0"},
  };
  for (const Case& c : cases) EXPECT_EQ(WindowTitle("QMXDemo 2.0", c.state, c.port), c.title) << c.port;
}

}  // namespace
}  // namespace qmx
