#include "widgets/contrast.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qmx {
namespace {

int Channel(std::uint32_t rgb, int shift) { return static_cast<int>((rgb >> shift) & 0xFF); }

TEST(Contrast, RatiosOfKnownPairs) {
  EXPECT_NEAR(ContrastRatio(0x000000, 0xFFFFFF), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(0x777777, 0x777777), 1.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(0xFF0000, 0xFFFFFF), 4.0, 0.01);
  EXPECT_NEAR(ContrastRatio(0x008000, 0xFFFFFF), 5.14, 0.01);
  EXPECT_TRUE(IsDark(0x1E1E1E));
  EXPECT_TRUE(IsDark(0x202040));
  EXPECT_FALSE(IsDark(0xF0F0F0));
  EXPECT_FALSE(IsDark(0xFFFFE0));
}

// Lifted to the ratio on dark and light backgrounds, keeping the hue: the
// colour's strongest channel stays the strongest.
TEST(Contrast, LiftReachesTheRatioAndKeepsTheHue) {
  const std::uint32_t backgrounds[] = {0x000000, 0x1E1E1E, 0x2D2D2D, 0x202040, 0x3A2A1A,
                                       0xFFFFFF, 0xF0F0F0, 0xFFFFE0, 0xC0C0C0};
  const std::uint32_t colours[] = {0x008000, 0xFF0000, 0x1E5AC8, 0x009600, 0x00FF00, 0x808080};
  for (double ratio : {3.0, kReadableContrast, 7.0}) {
    for (std::uint32_t bg : backgrounds) {
      for (std::uint32_t c : colours) {
        SCOPED_TRACE(testing::Message() << std::hex << "colour " << c << " on " << bg << " ratio " << ratio);
        const std::uint32_t lifted = LiftContrast(c, bg, ratio);
        EXPECT_GE(ContrastRatio(lifted, bg), ratio);
        if (ContrastRatio(c, bg) >= ratio) {
          EXPECT_EQ(lifted, c);
        }
        // The strongest channel of the colour stays the strongest.
        const int strongest = Channel(c, 16) >= std::max(Channel(c, 8), Channel(c, 0)) ? 16
                              : Channel(c, 8) >= Channel(c, 0)                         ? 8
                                                                                       : 0;
        for (int shift : {16, 8, 0}) EXPECT_GE(Channel(lifted, strongest), Channel(lifted, shift));
      }
    }
  }
  // Only what the ratio needs: green on near-black does not turn white.
  EXPECT_LT(ContrastRatio(LiftContrast(0x008000, 0x1E1E1E, kReadableContrast), 0x1E1E1E), kReadableContrast + 0.2);
  // Out of reach (white on mid grey is 4.48:1): the better of white and black.
  EXPECT_EQ(LiftContrast(0x777777, 0x777777, 7.0), 0x000000u);
}

// The colours chosen for light backgrounds stay on them, even red on white
// at 4:1; on dark ones they are lifted.
TEST(Contrast, ShownOnKeepsColoursOnLightBackgroundsAndLiftsOnDark) {
  for (std::uint32_t c : {0xFF0000u, 0x008000u, 0x00FF00u}) {
    EXPECT_EQ(ShownOn(c, 0xFFFFFF), c);
    EXPECT_EQ(ShownOn(c, 0xEFEFEF), c);
    EXPECT_GE(ContrastRatio(ShownOn(c, 0x1E1E1E), 0x1E1E1E), kReadableContrast);
    EXPECT_GE(ContrastRatio(ShownOn(c, 0x000000), 0x000000), kReadableContrast);
  }
}

}  // namespace
}  // namespace qmx
