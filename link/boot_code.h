// The module's boot code as the link sees it: the line it listens at, the
// search for its prompt, and what a user is told of a radio found there.
// The upgrade's dialogue with it (programming, verifying, saving) is the
// tools' business; getting there and back is the link session's.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "link/byte_channel.h"
#include "link/clock.h"
#include "link/result.h"
#include "link/serial_port.h"

namespace qmx {

// The line the boot code listens at: 38400 baud, 8N1.
inline constexpr LineSettings kBootLine{38400, 8, parity::None, stopbits::One, false};

// The short search for the boot code of a module that did not answer
// protocol mode: a few 0x03, well under two seconds in all, so that a port
// with nothing on it is not held up for long.
inline constexpr int kBootProbeAttempts = 5;
inline constexpr std::chrono::milliseconds kBootProbeInterval{250};
// The search before an upgrade: up to 100 times 0x03, 50 ms apart.
inline constexpr int kBootPromptAttempts = 100;
inline constexpr std::chrono::milliseconds kBootPromptInterval{50};

// How long `bytes` take on the boot code's line (ten bits a byte).
inline Clock::duration BootLineTime(std::size_t bytes) {
  return std::chrono::nanoseconds(static_cast<long long>(bytes) * 10'000'000'000LL / kBootLine.baudRate);
}

// Writes 0x03 up to `attempts` times, `interval` apart, until a ">" arrives
// (left unread); NoReply when none did. What was received before is dropped.
Done FindBootPrompt(ByteChannel& channel, TimeSource& clock, Clock::duration interval = kBootPromptInterval,
                    int attempts = kBootPromptAttempts);

// What a user is told of a port whose radio is in its boot code: "The radio
// on PORT is in its boot code (no working firmware)."
std::string BootCodeNotice(std::string_view port);

}  // namespace qmx
