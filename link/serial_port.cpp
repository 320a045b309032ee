#include "link/serial_port.h"

#include <array>

namespace qmx {

namespace {

struct FlagText {
  unsigned flag;
  LineErrorText text;
};

// Report order: the first flag set in this list is the one shown.
constexpr std::array<FlagText, 8> kLineErrors{{
    {lineerror::IoError, {"An I/O error occurred during communications with the device.", "I/O Error"}},
    {lineerror::ModeNotSupported, {"The requested mode is not supported.", "Mode Error"}},
    {lineerror::Break, {"The hardware detected a break condition.", "Break Error"}},
    {lineerror::Framing, {"The hardware detected a framing error.", "Framing Error"}},
    {lineerror::InputOverflow, {"An input buffer overflow has occurred.", "Input Buffer Error"}},
    {lineerror::OutputFull,
     {"The application tried to transmit a character, but the output buffer was full.", "Output Buffer Error"}},
    {lineerror::Overrun, {"A character-buffer overrun has occurred.", "Overrun Error"}},
    {lineerror::Parity, {"The hardware detected a parity error.", "Rx Parity Error"}},
}};

}  // namespace

LineErrorText FirstLineError(unsigned flags) {
  for (const auto& e : kLineErrors) {
    if (flags & e.flag) return e.text;
  }
  return {nullptr, nullptr};
}

}  // namespace qmx
