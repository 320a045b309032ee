// The control bytes of XMODEM: the host's sender and receiver and the
// simulated boot code speak with these.
#pragma once

#include <cstdint>

namespace qmx::xmodem {

inline constexpr std::uint8_t kSoh = 0x01;         // a 128-byte block follows
inline constexpr std::uint8_t kStx = 0x02;         // a 1,024-byte block follows
inline constexpr std::uint8_t kEot = 0x04;         // end of the transfer
inline constexpr std::uint8_t kAck = 0x06;         // block taken
inline constexpr std::uint8_t kNak = 0x15;         // send again; first: checksum blocks wanted
inline constexpr std::uint8_t kCan = 0x18;         // two in a row cancel
inline constexpr std::uint8_t kCrcRequest = 'C';   // first: CRC-16 blocks wanted
inline constexpr std::uint8_t kPad = 0x1A;         // fills the last block

}  // namespace qmx::xmodem
