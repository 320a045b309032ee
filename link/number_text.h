// Numbers as the program shows them ("0x" and upper-case hex digits) and
// lenient conversion of text typed by the user.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qmx {

// "0x" and `digits` upper-case hex digits of the low bits of value.
std::string HexText(std::uint32_t value, int digits);
// Two upper-case hex digits, no prefix.
std::string Hex2(std::uint8_t value);
// The same into a buffer (from a table, no formatting call): writes two
// characters at `out` and returns the position after them.
char* PutHex2(char* out, std::uint8_t value);
// Two hex digits and `separator` per byte (3 characters each); returns the
// position after the last one.
char* PutHexBytes(char* out, std::span<const std::uint8_t> bytes, char separator = ' ');

// The value of up to four bytes stored least significant first, as the
// radio's registers hold numbers; bytes past the fourth are not read.
std::uint32_t LittleEndian(std::span<const std::uint8_t> bytes);

// Leading blanks, optional sign, then decimal digits or hex digits after
// "0x", "x" or "$". The whole rest must be digits; anything else (empty text
// included) gives `fallback`. Hex text of up to eight significant digits
// fills the 32 bits ("0xFFFFFFFF" is -1); longer hex text and decimal text
// outside the 32-bit signed range give `fallback`.
std::int32_t TextToInt(std::string_view text, std::int32_t fallback = 0);
// Same, false when the text is not a number.
bool TryTextToInt(std::string_view text, std::int32_t& out);

// A network address typed by the user: number text as TextToInt reads it,
// from 0 to 0xFFFF. Nothing for empty text, text that is not a number and
// numbers outside that range: such text is never sent as 0x0000 or cut to
// its low 16 bits.
std::optional<std::uint16_t> NetworkAddressFromText(std::string_view text);
// Why the text is no network address, for a message box; empty when it is
// one.
std::string NetworkAddressProblem(std::string_view text);
inline constexpr const char* kNetworkAddressCaption = "Invalid Network Address";

// A data byte typed in hex: one or two hex digits, nothing else ("1FF",
// "zz" and "0x41" are no bytes).
std::optional<std::uint8_t> HexByte(std::string_view token);
// "1FF is not a byte", a long token cut short.
std::string NotAByteText(std::string_view token);

}  // namespace qmx
