#include "mainwindow/received_text.h"

#include "link/number_text.h"

namespace qmx {

std::vector<std::string> ReceivedDataLines(std::span<const std::uint8_t> data, bool hexMode) {
  constexpr std::size_t kLongest = 76;
  constexpr std::size_t kCut = 75;
  std::string text;
  if (hexMode) {
    text.resize(data.size() * 3);
    PutHexBytes(text.data(), data);
  } else {
    for (std::uint8_t b : data)
      if (b >= 32 && b <= 127) text += static_cast<char>(b);
  }
  std::vector<std::string> lines;
  if (text.size() <= kLongest) {
    lines.push_back(std::move(text));
    return lines;
  }
  std::size_t at = 0;
  while (text.size() - at > kLongest) {
    lines.push_back(text.substr(at, kCut));
    at += kCut;
  }
  lines.push_back(text.substr(at));
  return lines;
}

}  // namespace qmx
