// Profiles: what a saved profile holds, that it loads back to no difference,
// and the line number of the first fault of a bad one.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "config/local_status.h"
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
  EXPECT_EQ(values.size(), Settings().size() - 1) << "all but the startup announce, which is shown only";
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

// The header names the firmware the status panel shows, with its build.
TEST(Profile, TheFirmwareLineNamesWhatTheStatusPanelShows) {
  RadioImage image;
  const auto slot = image.Slot(0);
  slot[ImageOffset(2, 14)] = 0x03;  // hardware
  slot[ImageOffset(2, 15)] = 0x4B;  // firmware version
  slot[ImageOffset(2, 16)] = 0x34;  // build, low byte first
  slot[ImageOffset(2, 17)] = 0x12;
  const std::string text = FormatProfile(slot, "2026-12-07 10:00:00");
  const std::string line = "\n# firmware: " + FormatLocalStatus(image, 0).firmware + " build 0x1234, hardware 0x03\n";
  EXPECT_NE(text.find(line), std::string::npos) << text;
}

// Whatever a radio holds survives a save and a load: a code that no item
// names, a tag with blanks at its ends, a line break and quotes, on/off
// bytes other than 1. Loading it back writes nothing, and against another
// radio the differences are exactly the writes, parity and stop bits apart.
TEST(Profile, WhatARadioHoldsRoundTripsAndTheDifferencesAreTheWrites) {
  auto slot = FactorySlot();
  slot[ImageOffset(0, 0)] = 5;   // device mode: no item
  slot[ImageOffset(3, 0)] = 10;  // baud rate: no item
  slot[ImageOffset(1, 0)] = 2;   // security mode "on" as 2
  slot[ImageOffset(5, 2)] = 5;   // GPIO2 level "on" as 5
  slot[ImageOffset(6, 4)] = 2;   // use sleep I/O states "on" as 2
  const std::string tag = " a\nb\"\\ ";
  std::fill_n(slot.begin() + static_cast<std::ptrdiff_t>(ImageOffset(0, 28)), 16, 0);
  std::copy(tag.begin(), tag.end(), slot.begin() + static_cast<std::ptrdiff_t>(ImageOffset(0, 28)));

  const std::string text = "\xEF\xBB\xBF" + FormatProfile(slot, "2026-12-07 10:00:00");
  for (const char* line : {"\ndevice-mode = 0x05\n", "\nserial-baud-rate = 0x0A\n",
                           "\nuser-tag = \" a\\x0Ab\\\"\\\\ \"\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
  EXPECT_EQ(ShowText(*FindSetting("serial-baud-rate"), slot), "N/A");
  const auto values = Parse(text);
  std::string error;
  EXPECT_TRUE(DiffProfile(slot, values).empty());
  EXPECT_TRUE(WritesFor(slot, ProfileValues(values), error)->empty()) << error;

  auto other = FactorySlot();
  other[ImageOffset(3, 1)] = 0x08;  // two stop bits, parity as saved: one write, of the stop bits
  const auto diff = DiffProfile(other, values);
  const auto writes = *WritesFor(other, ProfileValues(values), error);
  ASSERT_EQ(diff.size(), writes.size());
  for (std::size_t i = 0; i < diff.size(); ++i) EXPECT_EQ(diff[i].setting, writes[i].setting) << i;
  EXPECT_TRUE(std::any_of(writes.begin(), writes.end(),
                          [](const ConfigWrite& w) { return std::string(w.setting->key) == "serial-stop-bits"; }));
  EXPECT_FALSE(std::any_of(writes.begin(), writes.end(),
                           [](const ConfigWrite& w) { return std::string(w.setting->key) == "serial-parity"; }));
}

// Bits beyond the pins a setting owns are the radio's own: a profile saves
// the owned bits only, one saved with the whole byte still loads, and a load
// never changes the radio's bits beyond them.
TEST(Profile, BitsBeyondASettingsPinsAreNeitherSavedNorChangedByALoad) {
  auto radio = FactorySlot();
  radio[ImageOffset(6, 0)] = 0xFF;   // six pins: 0x3F owned
  radio[ImageOffset(6, 33)] = 0x07;  // two report mode bits: 0x03 owned
  const std::string text = FormatProfile(radio, "2026-12-07 10:00:00");
  for (const char* line : {"\ngpio-direction = 0x3F\n", "\nio-report-mode = 0x03\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
  const auto saved = Parse(text);
  EXPECT_TRUE(DiffProfile(radio, saved).empty());

  const auto older = Parse("gpio-direction = 0xFF\nio-report-mode = 0x07\n");
  EXPECT_EQ(ProfileImage(radio, older), radio);
  auto other = FactorySlot();
  other[ImageOffset(6, 0)] = 0x80;
  other[ImageOffset(6, 33)] = 0x04;
  for (const auto& values : {saved, older}) {
    const auto after = ProfileImage(other, values);
    EXPECT_EQ(after[ImageOffset(6, 0)], 0xBF);
    EXPECT_EQ(after[ImageOffset(6, 33)], 0x07);
  }
}

// Parity and stop bits share a byte: changing both is one write of it, and
// both are differences of their own.
TEST(Profile, ParityAndStopBitsChangedTogetherAreTwoDifferencesOfOneWrite) {
  const auto slot = FactorySlot();  // no parity, one stop bit
  const auto values = Parse("serial-stop-bits = 2\nserial-parity = Even\n");
  std::vector<std::string> lines;
  for (const ProfileDifference& d : DiffProfile(slot, values))
    lines.push_back(std::string(d.setting->key) + ": " + d.radio + " -> " + d.file);
  EXPECT_EQ(lines, (std::vector<std::string>{"serial-parity: None -> Even", "serial-stop-bits: 1 -> 2"}));

  std::string error;
  const auto writes = *WritesFor(slot, ProfileValues(values), error);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].data, std::vector<std::uint8_t>{0x28});
  std::vector<std::string> changed;
  for (const Setting* s : writes[0].Changes()) changed.push_back(s->key);
  EXPECT_EQ(changed, (std::vector<std::string>{"serial-parity", "serial-stop-bits"}));
}

// Whatever any radio holds, its saved profile loads back with no difference
// and nothing to write: every byte of every bank random.
TEST(Profile, AnyRadiosSavedProfileLoadsBackWithNothingToWrite) {
  std::mt19937 random(20261208);
  std::vector<std::uint8_t> slot(kImageSize);
  for (int n = 0; n < 10000; ++n) {
    for (std::uint8_t& b : slot) b = static_cast<std::uint8_t>(random());
    const std::string text = FormatProfile(slot, "2026-12-08 06:00:00");
    ProfileError error;
    const auto values = ParseProfile(text, error);
    ASSERT_TRUE(values) << "image " << n << ", line " << error.line << ": " << error.text << "\n" << text;
    ASSERT_TRUE(DiffProfile(slot, *values).empty()) << "image " << n << "\n" << text;
    std::string why;
    const auto writes = WritesFor(slot, ProfileValues(*values), why);
    ASSERT_TRUE(writes) << why;
    ASSERT_TRUE(writes->empty()) << "image " << n << ": " << writes->front().setting->key << "\n" << text;
  }
}

// Values at the edges of what a profile line carries: a tag that begins
// with a double quote, a tag as long as its field, and a serial format byte
// with bits that neither parity nor stop bits use. Each is saved, and
// loading it back on the same radio writes nothing and changes no byte.
TEST(Profile, ValuesAtTheEdgesLoadBackToTheSameImage) {
  struct Case {
    const char* name;
    std::string tag;
    std::uint8_t serialFormat;
  };
  const auto factory = FactorySlot();
  const Case cases[] = {
      {"a tag in quotes", "\"quoted\"", factory[ImageOffset(3, 1)]},
      {"a tag of 16 characters", "0123456789ABCDEF", factory[ImageOffset(3, 1)]},
      {"bits beyond both masks", "tag", static_cast<std::uint8_t>(factory[ImageOffset(3, 1)] | 0xC1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto slot = factory;
    std::fill_n(slot.begin() + static_cast<std::ptrdiff_t>(ImageOffset(0, 28)), 16, 0);
    std::copy(c.tag.begin(), c.tag.end(), slot.begin() + static_cast<std::ptrdiff_t>(ImageOffset(0, 28)));
    slot[ImageOffset(3, 1)] = c.serialFormat;
    const std::string text = FormatProfile(slot, "2026-12-07 10:00:00");
    for (const char* key : {"\nuser-tag = ", "\nserial-parity = ", "\nserial-stop-bits = "})
      EXPECT_NE(text.find(key), std::string::npos) << key << " in " << text;
    const auto values = Parse(text);
    std::string error;
    const auto writes = WritesFor(slot, ProfileValues(values), error);
    ASSERT_TRUE(writes) << error;
    EXPECT_TRUE(writes->empty());
    EXPECT_TRUE(DiffProfile(slot, values).empty());
    EXPECT_EQ(ProfileImage(slot, values), slot);
    // On a radio that holds another tag, the whole tag is written.
    auto other = slot;
    other[ImageOffset(0, 28)] = 'x';
    EXPECT_EQ(ProfileImage(other, values), slot);
  }
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
