#include "link/number_text.h"

#include <algorithm>
#include <array>
#include <limits>

namespace qmx {

namespace {

// The two upper-case hex digits of every byte value.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  constexpr char digits[] = "0123456789ABCDEF";
  std::array<std::array<char, 2>, 256> pairs{};
  for (std::size_t b = 0; b < pairs.size(); ++b) pairs[b] = {digits[b >> 4], digits[b & 0x0F]};
  return pairs;
}();

}  // namespace

char* PutHex2(char* out, std::uint8_t value) {
  out[0] = kHexPairs[value][0];
  out[1] = kHexPairs[value][1];
  return out + 2;
}

char* PutHexBytes(char* out, std::span<const std::uint8_t> bytes, char separator) {
  for (std::uint8_t b : bytes) {
    out = PutHex2(out, b);
    *out++ = separator;
  }
  return out;
}

std::string HexText(std::uint32_t value, int digits) {
  if (digits < 1) digits = 1;
  if (digits > 8) digits = 8;
  char buf[10] = {'0', 'x'};
  for (int i = digits - 1; i >= 0; --i) {
    buf[2 + i] = kHexPairs[value & 0x0F][1];
    value >>= 4;
  }
  return std::string(buf, static_cast<std::size_t>(2 + digits));
}

std::string Hex2(std::uint8_t value) { return std::string(kHexPairs[value].data(), 2); }

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool TryTextToInt(std::string_view text, std::int32_t& out) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  }
  if (i == text.size()) return false;  // no digits at all

  if (hex) {
    // Up to eight significant digits; they fill the 32 bits and may turn
    // the value negative (0xFFFFFFFF is -1).
    std::uint32_t value = 0;
    int significant = 0;
    for (; i < text.size(); ++i) {
      int d = HexDigit(text[i]);
      if (d < 0) return false;
      if (significant > 0 || d != 0) ++significant;
      if (significant > 8) return false;
      value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    if (negative) value = 0u - value;
    out = static_cast<std::int32_t>(value);
    return true;
  }

  // Decimal: the magnitude may reach 2147483648 only for a negative number.
  const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > limit) return false;
  }
  if (negative)
    out = value == 2147483648ull ? std::numeric_limits<std::int32_t>::min() : -static_cast<std::int32_t>(value);
  else
    out = static_cast<std::int32_t>(value);
  return true;
}

std::uint32_t LittleEndian(std::span<const std::uint8_t> bytes) {
  std::uint32_t v = 0;
  for (std::size_t i = std::min<std::size_t>(bytes.size(), 4); i-- > 0;) v = (v << 8) | bytes[i];
  return v;
}

namespace {

// Typed text quoted in a message: its first `shown` characters and "..."
// when it is longer.
std::string Shortened(std::string_view text, std::size_t shown) {
  return text.size() > shown + 3 ? std::string(text.substr(0, shown)) + "..." : std::string(text);
}

}  // namespace

std::optional<std::uint16_t> NetworkAddressFromText(std::string_view text) {
  std::int32_t value = 0;
  if (!TryTextToInt(text, value) || value < 0 || value > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

std::string NetworkAddressProblem(std::string_view text) {
  if (NetworkAddressFromText(text)) return {};
  if (text.find_first_not_of(" \t") == std::string_view::npos)
    return "No network address.  Please enter the radio's address, 0x0000 to 0xFFFF.";
  return "\"" + Shortened(text, 20) + "\" is not a network address.  Please enter a number from 0x0000 to 0xFFFF.";
}

std::optional<std::uint8_t> HexByte(std::string_view token) {
  if (token.empty() || token.size() > 2) return std::nullopt;
  int value = 0;
  for (char c : token) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = value << 4 | d;
  }
  return static_cast<std::uint8_t>(value);
}

std::string NotAByteText(std::string_view token) {
  return Shortened(token, 10) + " is not a byte";
}

std::int32_t TextToInt(std::string_view text, std::int32_t fallback) {
  std::int32_t value;
  return TryTextToInt(text, value) ? value : fallback;
}

}  // namespace qmx
