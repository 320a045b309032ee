#include "config/register_map.h"

#include <algorithm>
#include <stdexcept>

#include "link/command_layer.h"
#include "link/number_text.h"
#include "link/packet.h"
#include "link/radio_link.h"
#include "link/reply_wait.h"

namespace qmx {

std::size_t ImageOffset(std::uint8_t bank, std::uint8_t reg) {
  auto info = FindBank(bank);
  if (!info) throw std::invalid_argument("bank has no place in the radio image");
  return static_cast<std::size_t>(info->offset) + reg;
}

std::uint32_t RadioImage::Value(RadioIndex index, std::uint8_t bank, std::uint8_t reg, std::uint8_t span) const {
  const auto slot = Slot(index);
  const std::size_t offset = ImageOffset(bank, reg);
  // Bytes past the end of the slot read as 0.
  if (offset >= slot.size()) return 0;
  return LittleEndian(slot.subspan(offset, std::min<std::size_t>(span, slot.size() - offset)));
}

BankMask ReadBanks(CommandLayer& link, RadioImage& image, BankMask mask, std::uint16_t address, RadioIndex slot,
                   const ReadBanksHooks& hooks) {
  const bool remote = slot != 0;
  BankMask read = 0;
  for (const auto& bank : kBanks) {
    if ((mask & bank.maskBit) == 0) continue;
    PacketRecord rec;
    rec.Register = 0;
    rec.Bank = bank.bank;
    rec.Span = bank.length;
    if (remote) rec.NetworkAddress = address;
    const Result<int> result =
        remote ? link.GetRemoteRegister(rec, kUsualReplyWait, hooks.tally) : link.GetRegister(rec);
    auto place = image.Bank(slot, bank);
    if (result) {
      // The reply's span, never more than the bank holds; a shorter reply
      // leaves the rest of the bank as it was.
      const std::size_t n = std::min<std::size_t>({rec.Span, bank.length, rec.Data.size()});
      std::copy_n(rec.Data.begin(), n, place.begin());
      if (remote && hooks.replyStrength) hooks.replyStrength(slot, rec.Lqi);
      read = static_cast<BankMask>(read | bank.maskBit);
    } else {
      std::fill(place.begin(), place.end(), std::uint8_t{0});
    }
    if (remote && hooks.successRate) hooks.successRate(slot);
  }
  return read;
}

Result<BankMask> EnterProtocolModeAndReadAll(RadioLink& link, RadioImage& image, std::uint16_t address,
                                             RadioIndex slot) {
  if (const Done entered = link.session.EnterProtocolMode(kUsualReplyWait, false); !entered)
    return Result<BankMask>::From(entered);
  return ReadBanks(link.commands, image, kAllBanks, address, slot);
}

}  // namespace qmx
