// The module's register banks as the wire knows them: the bank numbers a
// GetRegister or SetRegister frame may name and how many registers each
// holds. The program's copy of the banks (config/register_map.h) and the
// simulated module both build on this table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace qmx {

struct BankInfo {
  std::uint8_t bank;
  std::uint8_t length;
  std::uint8_t offset;  // where the bank starts when the banks are kept end to end in read order
  std::uint16_t maskBit;
};

// The readable banks in read order: 0, 1, 2, 3, 4, 5, 6, 16.
inline constexpr std::array<BankInfo, 8> kBanks{{
    {0, 44, 0, 0x001},
    {1, 34, 44, 0x002},
    {2, 21, 78, 0x004},
    {3, 2, 99, 0x008},
    {4, 9, 101, 0x010},
    {5, 21, 110, 0x020},
    {6, 35, 131, 0x040},
    {16, 75, 166, 0x100},
}};
// Registers of this bank are actions (reset, defaults, save), not storage.
inline constexpr std::uint8_t kActionBank = 255;

using BankMask = std::uint16_t;
inline constexpr BankMask kAllBanks = 0x17F;  // 383

// The bank's entry, or nothing for banks that are not readable.
constexpr std::optional<BankInfo> FindBank(std::uint8_t bank) {
  for (const auto& b : kBanks)
    if (b.bank == bank) return b;
  return std::nullopt;
}

}  // namespace qmx
