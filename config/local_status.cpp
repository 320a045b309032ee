#include "config/local_status.h"

#include <cstdio>

#include "link/number_text.h"

namespace qmx {

int ChannelMhz(std::uint8_t channel) { return 2400 + 5 * (static_cast<int>(channel) - 10); }

std::string ChannelText(std::uint8_t channel) {
  char buf[32];
  std::snprintf(buf, sizeof buf, " (%i MHz)", ChannelMhz(channel));
  return HexText(channel, 2) + buf;
}

std::string MacText(std::span<const std::uint8_t> eightBytes) {
  std::string text;
  for (std::size_t i = eightBytes.size(); i-- > 0;) {
    text += Hex2(eightBytes[i]);
    if (i != 0) text += ':';
  }
  return text;
}

std::string FirmwareText(std::uint8_t version) {
  std::string digits = Hex2(version);
  return digits.substr(0, 1) + "." + digits.substr(1);
}

std::string FirmwareOf(std::span<const std::uint8_t> slot) { return FirmwareText(slot[ImageOffset(2, 15)]); }

LocalStatusTexts FormatLocalStatus(const RadioImage& image, RadioIndex slot) {
  LocalStatusTexts t;
  t.deviceMode = image.Value(slot, 0, 0, 1) != 0 ? "Base" : "Remote";
  t.panIdValue = static_cast<std::uint16_t>(image.Value(slot, 2, 10, 2));
  t.channelValue = static_cast<std::uint8_t>(image.Value(slot, 2, 12, 1));
  t.networkValue = static_cast<std::uint16_t>(image.Value(slot, 2, 8, 2));
  t.panId = HexText(t.panIdValue, 4);
  t.channel = ChannelText(t.channelValue);
  t.network = HexText(t.networkValue, 4);
  t.mac = MacText(image.Slot(slot).subspan(ImageOffset(2, 0), 8));
  t.firmware = FirmwareOf(image.Slot(slot));
  t.linkStatus = image.Value(slot, 2, 13, 1) != 0 ? "Linked" : "Unlinked";
  t.encryption = image.Value(slot, 1, 0, 1) != 0 ? "Enabled" : "Disabled";
  return t;
}

std::array<std::string, 8> StatusRows(const LocalStatusTexts& t) {
  return {t.deviceMode, t.panId, t.channel, t.network, t.mac, t.firmware, t.linkStatus, t.encryption};
}

}  // namespace qmx
