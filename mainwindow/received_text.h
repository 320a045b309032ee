// The lines of received radio data as the Serial tab shows them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qmx {

// In hex mode each byte is two hex digits and a space; otherwise bytes 32 to
// 127 as characters and nothing for the others. A text longer than 76
// characters is cut into lines of 75, the rest on the last line.
std::vector<std::string> ReceivedDataLines(std::span<const std::uint8_t> data, bool hexMode);

}  // namespace qmx
