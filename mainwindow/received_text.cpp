#include "mainwindow/received_text.h"

#include <algorithm>

#include "link/number_text.h"

namespace qmx {

std::string ReceivedDataText(std::span<const std::uint8_t> data, bool hexMode) {
  std::string text;
  if (hexMode) {
    text.resize(data.size() * 3);
    PutHexBytes(text.data(), data);
  } else {
    for (std::uint8_t b : data)
      if (b >= 32 && b <= 127) text += static_cast<char>(b);
  }
  return text;
}

std::size_t ReceivedRowLength(std::size_t remaining, bool hexMode, std::size_t longest) {
  longest = std::max<std::size_t>(longest, 3);
  if (!hexMode) return remaining <= longest ? remaining : longest - 1;
  // Each byte takes three characters, the last one's space may go unseen.
  if (remaining <= longest + 1) return remaining;
  return (longest + 1) / 3 * 3;
}

}  // namespace qmx
