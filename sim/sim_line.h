// The simulated module's serial line: which host lines it hears, the codes
// of bank 3, and the receiver of its output.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "link/serial_port.h"

namespace qmx::sim {

enum class MatchMode {
  Uart,             // baud rate, data bits and parity
  Full,             // baud rate, data bits, parity and stop bits
  BaudRate,         // baud rate only (a pty, as a UART would see it)
  BaudAndStopBits,  // baud rate and stop bits (a pty, strict)
};

// The module's serial line and how strictly a host line must match it.
struct SimLine {
  LineSettings settings;
  MatchMode match = MatchMode::Uart;
  bool Accepts(const LineSettings& host) const;
};

// Bank 3 codes and line settings.
std::optional<std::uint32_t> BaudFromCode(std::uint8_t code);
std::optional<std::uint8_t> CodeFromBaud(std::uint32_t baud);
// Parity and stop bits of a bank 3 register 1 code (parity::/stopbits:: values).
std::optional<LineSettings> LineFromCodes(std::uint8_t baudCode, std::uint8_t paramCode);
std::optional<std::array<std::uint8_t, 2>> CodesFromLine(const LineSettings& line);

// Receives what the module sends on its serial line.
class SimSink {
 public:
  virtual ~SimSink() = default;
  // Bytes sent at `line`; the sink decides whether its own line matches.
  virtual void OnOutput(std::span<const std::uint8_t> bytes, const SimLine& line) = 0;
  // The module was unplugged; the sink is detached after this call.
  virtual void OnUnplug() = 0;
};

}  // namespace qmx::sim
