// The bank table and reading values out of a radio's image.
#include <gtest/gtest.h>

#include "config/register_map.h"

namespace qmx {
namespace {

TEST(RegisterMap, BanksLieBackToBackInTheImage) {
  std::size_t next = 0;
  BankMask all = 0;
  for (const auto& b : kBanks) {
    SCOPED_TRACE(static_cast<int>(b.bank));
    EXPECT_EQ(b.offset, next);
    next += b.length;
    EXPECT_EQ(all & b.maskBit, 0) << "mask bits overlap";
    all = static_cast<BankMask>(all | b.maskBit);
    auto found = FindBank(b.bank);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->offset, b.offset);
  }
  EXPECT_EQ(next, 241u);
  EXPECT_LE(next, kImageSize);
  EXPECT_EQ(all, kAllBanks);
  EXPECT_EQ(kAllBanks, 383);
  for (int bank : {7, 15, 17, 255}) EXPECT_FALSE(FindBank(static_cast<std::uint8_t>(bank)));
}

TEST(RegisterMap, ImageOffsets) {
  EXPECT_EQ(ImageOffset(2, 12), 90u);  // current channel
  EXPECT_EQ(ImageOffset(0, 0), 0u);
  EXPECT_EQ(ImageOffset(16, 73), 239u);  // crystal frequency, the last value
  EXPECT_THROW(ImageOffset(255, 0), std::invalid_argument);
}

TEST(RadioImage, ValuesAreLittleEndianPerSlot) {
  RadioImage image;
  auto bank6 = image.Bank(3, *FindBank(6));
  bank6[26] = 0x78;
  bank6[27] = 0x56;
  bank6[28] = 0x34;
  bank6[29] = 0x12;
  EXPECT_EQ(image.Value(3, 6, 26, 4), 0x12345678u);
  EXPECT_EQ(image.Value(3, 6, 26, 2), 0x5678u);
  EXPECT_EQ(image.Value(3, 6, 27, 1), 0x56u);
  EXPECT_EQ(image.Value(0, 6, 26, 4), 0u);  // other slots untouched
  EXPECT_EQ(image.Byte(3, 131 + 26), 0x78);
  image.Clear();
  EXPECT_EQ(image.Value(3, 6, 26, 4), 0u);
  EXPECT_THROW(image.Slot(5), std::out_of_range);
}

}  // namespace
}  // namespace qmx
