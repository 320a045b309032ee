// The program's cached copy of the module's register banks (link/banks.h)
// for five radios (RadioImage), and ReadBanks, which fills it over the link.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "link/banks.h"
#include "link/result.h"

namespace qmx {

class CommandLayer;
class RadioLink;
struct RemoteLinkStats;

struct RegisterAddress {
  std::uint8_t bank = 0;
  std::uint8_t reg = 0;
  std::uint8_t span = 0;
};

// 0: the local radio; 1 … 4: the remote radios of the Poll I/O tab.
using RadioIndex = int;
inline constexpr int kRadioCount = 5;
inline constexpr std::size_t kImageSize = 249;

class RadioImage {
 public:
  std::span<std::uint8_t> Slot(RadioIndex index) { return slots_.at(static_cast<std::size_t>(index)); }
  std::span<const std::uint8_t> Slot(RadioIndex index) const { return slots_.at(static_cast<std::size_t>(index)); }
  std::span<std::uint8_t> Bank(RadioIndex index, const BankInfo& bank) {
    return Slot(index).subspan(bank.offset, bank.length);
  }
  std::uint8_t Byte(RadioIndex index, std::size_t offset) const { return Slot(index)[offset]; }
  // Little-endian value of `span` bytes (1 … 4) at bank/register.
  std::uint32_t Value(RadioIndex index, std::uint8_t bank, std::uint8_t reg, std::uint8_t span) const;
  void Clear() { slots_ = {}; }

 private:
  std::array<std::array<std::uint8_t, kImageSize>, kRadioCount> slots_{};
};

// Offset in a radio's image of register `reg` of `bank`.
std::size_t ImageOffset(std::uint8_t bank, std::uint8_t reg);

// Per-bank hooks of a read (strength and success-rate display of remote
// radios); all optional.
struct ReadBanksHooks {
  std::function<void(RadioIndex, std::uint8_t lqi)> replyStrength;
  std::function<void(RadioIndex)> successRate;
  // Counts the remote reads' transmissions and good replies, for the caller's
  // success rate.
  RemoteLinkStats* tally = nullptr;
};

// Reads each bank of `mask` (in bank order) of one radio into its slot:
// GetRegister for slot 0, GetRemoteRegister at `address` for slots 1 … 4,
// 1000 ms and 3 retries each. A bank read is copied (never more than the
// bank's length; a shorter reply leaves the rest as it was); a bank that
// fails is zero-filled. Returns the sum of the bits of the banks read.
BankMask ReadBanks(CommandLayer& link, RadioImage& image, BankMask mask, std::uint16_t address, RadioIndex slot,
                   const ReadBanksHooks& hooks = {});

// A radio taken up afresh: the local radio's protocol mode entered (1000
// ms, 3 retries), then every bank of the radio (the local one unless
// `slot` is 1 … 4, at `address`) read into its slot. Fails with NoReply,
// nothing read, when protocol mode was not entered; otherwise the banks
// read (kAllBanks when every one was).
Result<BankMask> EnterProtocolModeAndReadAll(RadioLink& link, RadioImage& image, std::uint16_t address = 0,
                                             RadioIndex slot = 0);

}  // namespace qmx
