#include "link/boot_code.h"

#include <cstdint>
#include <span>

namespace qmx {

Done FindBootPrompt(ByteChannel& channel, TimeSource& clock, Clock::duration interval, int attempts) {
  channel.DropInput();
  const std::uint8_t key = 0x03;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    // A write that failed shows as the prompt's absence.
    (void)channel.Write(std::span(&key, 1));
    // The bytes that arrive within the interval, each taken as it comes.
    const auto deadline = clock.Now() + interval;
    for (int b = channel.ReadByte(deadline); b >= 0; b = channel.ReadByte(deadline))
      if (b == '>') return {};
  }
  return Done::Fail(Status::NoReply);
}

std::string BootCodeNotice(std::string_view port) {
  return "The radio on " + std::string(port) + " is in its boot code (no working firmware).";
}

}  // namespace qmx
