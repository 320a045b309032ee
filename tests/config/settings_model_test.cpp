// The settings table against the simulated module's factory image: every
// setting's text parses back to the bytes it came from, and bad text is
// refused with the accepted values.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "config/settings_model.h"
#include "sim/sim_module.h"

namespace qmx {
namespace {

RadioImage FactoryImage() {
  sim::SimModule module;
  RadioImage image;
  for (const BankInfo& b : kBanks) {
    const auto bytes = module.Registers(sim::kLocal, b.bank, 0, b.length);
    EXPECT_TRUE(bytes.has_value()) << int(b.bank);
    if (bytes) std::copy(bytes->begin(), bytes->end(), image.Bank(0, b).begin());
  }
  return image;
}

std::vector<std::uint8_t> FieldOf(const Setting& s, std::span<const std::uint8_t> slot) {
  auto field = slot.subspan(ImageOffset(s.address.bank, s.address.reg), s.address.span);
  return {field.begin(), field.end()};
}

// What the dialog and Apply take from a row without asking: a writable row
// has the texts of its failed write (a shown-only one has none to show), a
// row the dialog shows has a page, and captions and paired buttons are one
// per control (or one caption for all).
TEST(SettingsModel, EveryRowIsWholeForTheDialogAndApply) {
  for (const Setting& s : Settings()) {
    SCOPED_TRACE(s.key);
    EXPECT_EQ(s.shownOnly, s.failure == nullptr);
    EXPECT_EQ(s.shownOnly, s.caption == nullptr);
    EXPECT_NE(s.page, Page::None);
    const std::size_t controls = ControlNames(s).size();
    EXPECT_TRUE(s.captions.size() <= 1 || s.captions.size() == controls) << s.captions.size();
    EXPECT_LE(PartnerNames(s).size(), controls);
    EXPECT_EQ(PartnerNames(s).empty(), s.partnerCaption == nullptr);
  }
}

TEST(SettingsModel, EveryFactoryValueRoundTrips) {
  const RadioImage image = FactoryImage();
  const auto slot = image.Slot(0);
  std::set<std::string> keys;
  for (const Setting& s : Settings()) {
    EXPECT_TRUE(keys.insert(s.key).second) << s.key;
    const std::string text = FormatSetting(s, slot);
    if (s.encoding == Encoding::Key) {
      EXPECT_EQ(text, "****************");
      continue;
    }
    std::string error;
    const auto bytes = ParseSetting(s, text, slot, error);
    ASSERT_TRUE(bytes.has_value()) << s.key << " = " << text << ": " << error;
    EXPECT_EQ(*bytes, FieldOf(s, slot)) << s.key << " = " << text;
  }
  EXPECT_EQ(FormatSetting(*FindSetting("device-mode"), slot), "Base");
}

TEST(SettingsModel, TextsAsTheDialogShowsThem) {
  RadioImage image;
  auto slot = image.Slot(0);
  auto put = [&](const char* key, std::vector<std::uint8_t> bytes) {
    const Setting& s = *FindSetting(key);
    std::copy(bytes.begin(), bytes.end(), slot.begin() + ImageOffset(s.address.bank, s.address.reg));
    return FormatSetting(s, slot);
  };
  EXPECT_EQ(put("sleep-mode", {1}), "Timer Sleep");
  EXPECT_EQ(put("device-mode", {5}), "0x05 (no item)");
  EXPECT_EQ(put("lease-period", {0x78, 0x56, 0x34, 0x12}), "0x12345678");
  EXPECT_EQ(put("channel-list", {0x13, 0x80}), "11,12,15,26");
  EXPECT_EQ(put("channel-list", {0, 0}), "none");
  EXPECT_EQ(put("security-mode", {2}), "on");
  EXPECT_EQ(put("serial-baud-rate", {11}), "115200");
  EXPECT_EQ(put("serial-parity", {0x38}), "Odd");
  EXPECT_EQ(FormatSetting(*FindSetting("serial-stop-bits"), slot), "2");
  // A full tag has no zero byte; the next bank's bytes are not appended.
  EXPECT_EQ(put("security-mode", {1}), "on");
  EXPECT_EQ(put("user-tag", std::vector<std::uint8_t>(16, 'A')), std::string(16, 'A'));
}

TEST(SettingsModel, ParseWritesWhatTheRegisterHolds) {
  RadioImage image;
  auto slot = image.Slot(0);
  slot[ImageOffset(3, 1)] = 0x20;  // Even, 1 stop bit
  slot[ImageOffset(6, 0)] = 0xC0;  // bits beyond the six pins
  std::string error;
  auto parse = [&](const char* key, const char* text) {
    return ParseSetting(*FindSetting(key), text, slot, error).value_or(std::vector<std::uint8_t>{0xEE});
  };
  using B = std::vector<std::uint8_t>;
  EXPECT_EQ(parse("serial-stop-bits", "2"), B{0x28});
  EXPECT_EQ(parse("serial-parity", "odd"), B{0x30});
  EXPECT_EQ(parse("serial-baud-rate", "115200"), B{11});
  EXPECT_EQ(parse("escape-sequence", "Unlimited"), B{1});
  EXPECT_EQ(parse("initial-pan-id", "$1234"), (B{0x34, 0x12}));
  EXPECT_EQ(parse("lease-period", "0xFFFFFFFF"), (B{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(parse("channel-list", "26, 11"), (B{0x01, 0x80}));
  EXPECT_EQ(parse("user-tag", "abc"), (B{'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(parse("security-mode", "ON"), B{1});
  EXPECT_EQ(parse("gpio-direction", "0x01"), B{0xC1});
}

TEST(SettingsModel, BadTextIsRefusedWithTheAcceptedValues) {
  const RadioImage image;
  const struct {
    const char* key;
    const char* text;
    const char* reason;
  } cases[] = {
      {"device-mode", "Router", "expected one of: Remote, Reserved, Base"},
      {"serial-baud-rate", "14400", "expected one of: 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200"},
      {"tx-power", "0x100", "expected a number from 0 to 0xFF"},
      {"initial-pan-id", "-1", "expected a number from 0 to 0xFFFF"},
      {"wake-duration", "", "expected a number from 0 to 0xFFFF"},
      {"gpio-direction", "0x40", "expected a bit mask from 0x00 to 0x3F"},
      {"security-mode", "yes", "expected on or off"},
      {"channel-list", "10,11", "expected channel numbers from 11 to 26"},
      {"channel-list", "11,,12", "expected channel numbers from 11 to 26"},
      {"user-tag", "seventeen chars!!", "expected at most 16 characters"},
      {"security-key", "0123456789abcdefX", "expected at most 16 characters"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseSetting(*FindSetting(c.key), c.text, image.Slot(0), error).has_value()) << c.key;
    EXPECT_EQ(error.rfind(c.reason, 0), 0u) << c.key << ": " << error;
  }
}

}  // namespace
}  // namespace qmx
