// What the configuration dialog decides per kind of control: the fill of a
// raw byte, whether the shown value differs from the radio's slot, and the
// bytes Apply writes for it.
#include <gtest/gtest.h>

#include <array>

#include "config/config_baselines.h"

namespace qmx {
namespace {

using Texts = std::vector<std::string>;
using Data = std::vector<std::uint8_t>;

const Setting& S(const char* key) { return *FindSetting(key); }

std::array<std::uint8_t, kImageSize> Slot(const char* key, std::uint8_t byte) {
  std::array<std::uint8_t, kImageSize> slot{};
  const Setting& s = S(key);
  slot[ImageOffset(s.address.bank, s.address.reg)] = byte;
  return slot;
}

TEST(ConfigBaselinesTest, FillShowsTheByte) {
  struct Case {
    const char* key;
    std::uint8_t raw;
    ControlValues shown;
    ControlValues before = {};
  };
  const Case cases[] = {
      {"security-mode", 2, {{1}, {}}},  // 2 is on: checked
      {"io-report-mode", 2, {{0, 1}, {}}},  // local reporting only
      {"io-report-mode", 3, {{1, 1}, {}}},
      {"gpio-alternate-functions", 0x20, {{0, 0, 0, 0, 0, 1}, {}}},
      {"gpio-init", 0x05, {{}, {"1", "0", "1", "0", "0", "0"}}},
      {"serial-parity", 0x38, {{0x30, 0x08}, {}}},  // Odd, 2: the lists' codes
      {"device-mode", 5, {{kNoItem}, {}}, {{2}, {}}},  // beyond the list: no selection
      {"serial-baud-rate", 10, {{6}, {}, true}, {{6}, {}}},  // no item: 9600 kept, not the radio's value
      {"serial-parity", 0x18, {{0x20, 0}, {}, true}, {{0x20, 0}, {}}},  // parity 0x10: both lists kept
  };
  for (const Case& c : cases)
    EXPECT_EQ(FillControls(S(c.key), Slot(c.key, c.raw), c.before), c.shown) << c.key << " " << int{c.raw};
}

// The change test compares the controls with the radio's slot.
TEST(ConfigBaselinesTest, ChangeTestAndWrittenBytes) {
  struct Case {
    const char* key;
    ControlValues shown;
    std::uint8_t raw;
    bool changed;
    Data data;
  };
  const Case cases[] = {
      {"security-mode", {{1}, {}}, 2, false, {}},  // raw 2 left checked: nothing
      {"security-mode", {{0}, {}}, 2, true, {0}},
      {"tx-power", {{}, {"0x1FF"}}, 0x12, true, {0xFF}},  // low span bytes
      {"tx-power", {{}, {"0x1FF"}}, 0xFF, false, {}},  // which the radio holds after that write
      {"initial-pan-id", {{}, {""}}, 0x34, true, {0, 0}},  // emptied edit writes 0
      {"tx-power", {{}, {"junk"}}, 0, false, {}},  // not a number is 0
      {"gpio-init", {{}, {"2", "0", "0", "0", "0", "0"}}, 0, true, {0x02}},  // "2" is bit 1
      {"gpio-init", {{}, {"", "0", "0", "0", "0", "0"}}, 0, true, {0x00}},  // empty differs
      {"gpio-direction", {{0, 0, 0, 0, 0, 0}, {}}, 0xC0, false, {}},  // bits beyond the buttons
      {"gpio-alternate-functions", {{0, 0, 0, 0, 0, 0}, {}}, 0xC0, true, {0}},  // unused bits count too
      {"serial-parity", {{0x20, 0x08}, {}}, 0x20, true, {0x28}},  // stop bits alone: Even, 2
      {"serial-baud-rate", {{6}, {}, true}, 10, false, {}},  // a kept selection is no value
      {"device-mode", {{kNoItem}, {}}, 5, false, {}},  // nothing selected, nothing to write
      {"device-mode", {{0}, {}}, 5, true, {0}},
      {"startup-announce", {{0}, {}}, 1, false, {}},  // shown only
      {"user-tag", {{}, {"x"}}, 'x', false, {}},  // not edited
      {"user-tag", {{}, {std::string(20, 'x')}, false, true}, 0, true, Data(16, 'x')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Changed(S(c.key), c.shown, Slot(c.key, c.raw)), c.changed) << c.key;
    if (c.changed) {
      EXPECT_EQ(WriteData(S(c.key), c.shown), c.data) << c.key;
    }
  }
}

}  // namespace
}  // namespace qmx
