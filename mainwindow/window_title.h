// The main window's title: the program's name, and while a radio is
// connected the port it is on and the mode it is in, so that two windows on
// two radios tell themselves apart (in the task bar, too).
#pragma once

#include <string>
#include <string_view>

#include "link/link_session.h"

namespace qmx {

// `program` ("QMXDemo 2.0"), with the port and the mode while a port is
// open ("QMXDemo 2.0 - ttyUSB0, protocol mode"); the plain name otherwise
// (Closed, and Lost while a device is awaited).
std::string WindowTitle(std::string_view program, LinkState state, std::string_view port);

}  // namespace qmx
