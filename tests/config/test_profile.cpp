// Profiles: what a saved profile holds, that it loads back to no difference,
// and the line number of the first fault of a bad one.
#include <gtest/gtest.h>

#include "config/profile.h"
#include "sim/sim_module.h"

namespace qmx {
namespace {

// The simulated module's factory image, as a full read would leave it.
std::vector<std::uint8_t> FactorySlot() {
  sim::SimModule module;
  std::vector<std::uint8_t> slot(kImageSize, 0);
  for (const BankInfo& b : kBanks) {
    const auto bytes = module.Registers(sim::kLocal, b.bank, 0, b.length);
    std::copy(bytes->begin(), bytes->end(), slot.begin() + b.offset);
  }
  return slot;
}

std::vector<SettingText> Parse(const std::string& text) {
  ProfileError error;
  auto values = ParseProfile(text, error);
  EXPECT_TRUE(values) << error.line << ": " << error.text;
  return values.value_or(std::vector<SettingText>{});
}

TEST(Profile, ASavedProfileLoadsBackWithoutDifferencesAndAnEditShowsAsOne) {
  const auto slot = FactorySlot();
  const std::string text = FormatProfile(slot, "2026-12-07 10:00:00");
  EXPECT_EQ(text.rfind("# qmxdemo configuration profile\n# model: QMX2400\n# firmware: ", 0), 0u) << text;
  EXPECT_NE(text.find("\n# date: 2026-12-07 10:00:00\ndevice-mode = Base\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nsecurity-key = ****************\n"), std::string::npos);

  const auto values = Parse(text);
  EXPECT_EQ(values.size(), Settings().size());
  EXPECT_TRUE(DiffProfile(slot, values).empty());
  std::string error;
  EXPECT_EQ(WritesFor(slot, ProfileValues(values), error)->size(), 0u) << "the kept key and shown-only values";

  std::string edited = text;
  edited.replace(edited.find("serial-stop-bits = 1"), 20, "serial-stop-bits = 2");
  edited += "\n  tx-power   =   0x07  \r\n";  // blanks, a carriage return: still read
  edited.replace(edited.find("tx-power = 0x"), 14, "# tx-power = 0");
  const auto diff = DiffProfile(slot, Parse(edited));
  ASSERT_EQ(diff.size(), 2u);
  EXPECT_EQ(std::string(diff[0].setting->key) + ": " + diff[0].radio + " -> " + diff[0].file, "tx-power: 0x12 -> 0x07");
  EXPECT_EQ(std::string(diff[1].setting->key) + ": " + diff[1].radio + " -> " + diff[1].file, "serial-stop-bits: 1 -> 2");
}

TEST(Profile, TheFirstFaultIsRefusedWithItsLineNumber) {
  struct Case {
    const char* text;
    int line;
    const char* error;
  } cases[] = {
      {"# model: QMX2400\ntx-power = 1\ncolour = red\n", 3, "unknown key 'colour'"},
      {"\n\ntx-power = 0x100\n", 3, "tx-power: expected a number from 0 to 0xFF"},
      {"# model: QMX9000\ntx-power = 1\n", 1, "a profile of another model (QMX9000)"},
      {"tx-power = 1\ntx-power = 2\n", 2, "tx-power given twice"},
      {"tx-power 1\n", 1, "expected 'key = value'"},
  };
  for (const Case& c : cases) {
    ProfileError error;
    EXPECT_FALSE(ParseProfile(c.text, error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.text, c.error) << c.text;
  }
}

}  // namespace
}  // namespace qmx
