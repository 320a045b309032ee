// The data of received radio packets as the Serial tab shows them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qmx {

// Characters a data row shows at the view's first size.
inline constexpr std::size_t kFirstRowChars = 76;

// In hex mode each byte is two hex digits and a space; otherwise bytes 32 to
// 127 as characters and nothing for the others.
std::string ReceivedDataText(std::span<const std::uint8_t> data, bool hexMode);

// The length of the next row that `remaining` characters of a packet's data
// text take in a column that shows `longest` characters. What fits is one
// row; longer text is cut one character short of the width (75 of 76), hex
// text between bytes, the trailing space of its last byte allowed past the
// edge.
std::size_t ReceivedRowLength(std::size_t remaining, bool hexMode, std::size_t longest);

}  // namespace qmx
