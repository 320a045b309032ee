// The simulated module's serial line: which host lines it hears, and the
// codes of the line settings in its registers.
#include "sim/sim_line.h"

#include <array>
#include <utility>

namespace qmx::sim {

// ---------------------------------------------------------------------------
// Line settings

bool SimLine::Accepts(const LineSettings& host) const {
  if (host.baudRate != settings.baudRate) return false;
  const bool frame = host.byteSize == 8 && host.parity == settings.parity;
  const bool stop = host.stopBits == settings.stopBits;
  switch (match) {
    case MatchMode::Uart:
      return frame;
    case MatchMode::Full:
      return frame && stop;
    case MatchMode::BaudRate:
      return true;
    case MatchMode::BaudAndStopBits:
      return stop;
  }
  return false;
}

namespace {
constexpr std::array<std::pair<std::uint8_t, std::uint32_t>, 8> kBaudCodes{
    {{3, 1200}, {4, 2400}, {5, 4800}, {6, 9600}, {7, 19200}, {8, 38400}, {9, 57600}, {11, 115200}}};
struct ParamCode {
  std::uint8_t code, parity, stopBits;
};
constexpr std::array<ParamCode, 6> kParamCodes{{{0x00, parity::None, stopbits::One},
                                                {0x08, parity::None, stopbits::Two},
                                                {0x20, parity::Even, stopbits::One},
                                                {0x28, parity::Even, stopbits::Two},
                                                {0x30, parity::Odd, stopbits::One},
                                                {0x38, parity::Odd, stopbits::Two}}};
}  // namespace

std::optional<std::uint32_t> BaudFromCode(std::uint8_t code) {
  for (auto [c, baud] : kBaudCodes)
    if (c == code) return baud;
  return std::nullopt;
}

std::optional<std::uint8_t> CodeFromBaud(std::uint32_t baud) {
  for (auto [c, b] : kBaudCodes)
    if (b == baud) return c;
  return std::nullopt;
}

std::optional<LineSettings> LineFromCodes(std::uint8_t baudCode, std::uint8_t paramCode) {
  auto baud = BaudFromCode(baudCode);
  if (!baud) return std::nullopt;
  for (const auto& p : kParamCodes) {
    if (p.code != paramCode) continue;
    LineSettings line;
    line.baudRate = *baud;
    line.byteSize = 8;
    line.parity = p.parity;
    line.stopBits = p.stopBits;
    return line;
  }
  return std::nullopt;
}

std::optional<std::array<std::uint8_t, 2>> CodesFromLine(const LineSettings& line) {
  auto baud = CodeFromBaud(line.baudRate);
  if (!baud || line.byteSize != 8) return std::nullopt;
  for (const auto& p : kParamCodes)
    if (p.parity == line.parity && p.stopBits == line.stopBits) return std::array<std::uint8_t, 2>{*baud, p.code};
  return std::nullopt;
}

}  // namespace qmx::sim
