// What the configuration dialog decides per kind of control: the fill of a
// raw byte, whether the shown value differs from the baseline, and the bytes
// Apply writes for it.
#include <gtest/gtest.h>

#include <array>

#include "config/config_baselines.h"

namespace qmx {
namespace {

using States = std::vector<std::int32_t>;
using Texts = std::vector<std::string>;
using Data = std::vector<std::uint8_t>;

const Setting& S(const char* key) { return *FindSetting(key); }

std::array<std::uint8_t, kImageSize> Slot(const char* key, std::uint8_t byte) {
  std::array<std::uint8_t, kImageSize> slot{};
  const Setting& s = S(key);
  slot[ImageOffset(s.address.bank, s.address.reg)] = byte;
  return slot;
}

TEST(ConfigBaselinesTest, FillShowsTheByteAndKeepsTheRawBaseline) {
  struct Case {
    const char* key;
    std::uint8_t raw;
    ControlValues shown;
    States baseline;
  };
  const Case cases[] = {
      {"security-mode", 2, {{1}, {}}, {1}},                // 2 is on: checked, and so is the baseline
      {"io-report-mode", 2, {{0, 1}, {}}, {0, 1}},         // local reporting only
      {"io-report-mode", 3, {{1, 1}, {}}, {1, 1}},
      {"gpio-alternate-functions", 0x20, {{0, 0, 0, 0, 0, 1}, {}}, {0x20}},
      {"gpio-init", 0x05, {{}, {"1", "0", "1", "0", "0", "0"}}, {1, 0, 1, 0, 0, 0}},
      {"serial-parity", 0x38, {{0x30, 0x08}, {}}, {0x30, 0x08}},  // Odd, 2: the lists' codes
      {"device-mode", 5, {{kNoItem}, {}}, {5}},          // beyond the list: no selection
  };
  for (const Case& c : cases) {
    const auto slot = Slot(c.key, c.raw);
    const FilledControls f = FillControls(S(c.key), slot, {});
    EXPECT_EQ(f.shown, c.shown) << c.key << " " << int{c.raw};
    EXPECT_EQ(f.baseline, c.baseline) << c.key << " " << int{c.raw};
  }
}

TEST(ConfigBaselinesTest, ChangeTestAndWrittenBytes) {
  struct Case {
    const char* key;
    ControlValues shown;
    States baseline;
    bool changed;
    Data data;
  };
  const Case cases[] = {
      {"security-mode", {{1}, {}}, {1}, false, {}},                       // raw 2 left checked: nothing
      {"security-mode", {{0}, {}}, {1}, true, {0}},
      {"tx-power", {{}, {"0x1FF"}}, {0xFF}, true, {0xFF}},               // low span bytes
      {"initial-pan-id", {{}, {""}}, {0x1234}, true, {0, 0}},            // emptied edit writes 0
      {"tx-power", {{}, {"junk"}}, {0}, false, {0}},                      // not a number is 0
      {"gpio-init", {{}, {"2", "0", "0", "0", "0", "0"}}, {0, 0, 0, 0, 0, 0}, true, {0x02}},  // "2" is bit 1
      {"gpio-init", {{}, {"", "0", "0", "0", "0", "0"}}, {0, 0, 0, 0, 0, 0}, true, {0x00}},  // empty is -1 here
      {"gpio-alternate-functions", {{0, 0, 0, 0, 0, 0}, {}}, {0xC0}, true, {0}},  // unused bits count too
      {"serial-parity", {{0x20, 0x08}, {}}, {0x20, 0x00}, true, {0x28}},  // stop bits alone: Even, 2
      {"device-mode", {{kNoItem}, {}}, {5}, false, {}},                   // nothing selected, nothing to write
      {"startup-announce", {{0}, {}}, {1}, false, {}},                   // shown only
      {"user-tag", {{}, {std::string(20, 'x')}}, {kEdited}, true, Data(16, 'x')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Changed(S(c.key), c.shown, c.baseline), c.changed) << c.key;
    if (c.changed) {
      EXPECT_EQ(WriteData(S(c.key), c.shown), c.data) << c.key;
    }
  }
  // The edit's baseline after a write is the number typed, not cut to the span.
  EXPECT_EQ(BaselineAfterWrite(S("tx-power"), {{}, {"0x1FF"}}), States{0x1FF});
}

}  // namespace
}  // namespace qmx
