#include "tools/jpeg_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include <jpeglib.h>

namespace qmx {
namespace {

// Test pictures are made with libjpeg's compressor: left half red, right half
// blue (or a grey ramp for one-component pictures).
std::vector<std::uint8_t> Encode(int width, int height, bool gray = false, bool progressive = false) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buf, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = gray ? 1 : 3;
  c.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * c.input_components);
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < width; ++x) {
      if (gray) {
        row[x] = static_cast<std::uint8_t>(x * 255 / (width - 1));
      } else {
        const bool left = x < width / 2;
        row[x * 3 + 0] = left ? 220 : 0;
        row[x * 3 + 1] = 0;
        row[x * 3 + 2] = left ? 0 : 220;
      }
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<std::uint8_t> out(buf, buf + size);
  std::free(buf);
  return out;
}

const std::uint8_t* Pixel(const RgbImage& img, int x, int y) {
  return &img.pixels[(static_cast<std::size_t>(y) * img.width + x) * 3];
}

TEST(DecodeJpeg, ColourPicture) {
  const auto jpeg = Encode(48, 32);
  const auto img = DecodeJpeg(jpeg);
  ASSERT_TRUE(img) << img.reason();
  EXPECT_EQ(img->width, 48);
  EXPECT_EQ(img->height, 32);
  ASSERT_EQ(img->pixels.size(), 48u * 32 * 3);
  const auto* red = Pixel(*img, 4, 16);
  const auto* blue = Pixel(*img, 44, 16);
  EXPECT_NEAR(red[0], 220, 12);
  EXPECT_LT(red[2], 20);
  EXPECT_NEAR(blue[2], 220, 12);
  EXPECT_LT(blue[0], 20);
}

TEST(DecodeJpeg, GreyPictureComesOutAsRgb) {
  const auto img = DecodeJpeg(Encode(64, 8, true));
  ASSERT_TRUE(img);
  for (int x : {0, 31, 63}) {
    const auto* p = Pixel(*img, x, 4);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
  }
  EXPECT_LT(Pixel(*img, 0, 4)[0], 10);
  EXPECT_GT(Pixel(*img, 63, 4)[0], 245);
}

TEST(DecodeJpeg, EveryTruncationIsAnError) {
  const auto jpeg = Encode(24, 24);
  for (std::size_t n = 0; n < jpeg.size(); ++n) {
    const auto img = DecodeJpeg(std::span(jpeg.data(), n));
    EXPECT_FALSE(img) << "cut at " << n;
    EXPECT_FALSE(img.reason().empty()) << "cut at " << n;
  }
}

TEST(DecodeJpeg, GarbageIsAnError) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> noise(4096);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  const auto img = DecodeJpeg(noise);
  EXPECT_FALSE(img);
  EXPECT_FALSE(img.reason().empty());

  // A JPEG start marker followed by noise.
  noise[0] = 0xFF;
  noise[1] = 0xD8;
  EXPECT_FALSE(DecodeJpeg(noise));
}

TEST(DecodeJpeg, DamagedBytesNeverCrash) {
  const auto good = Encode(32, 32);
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    auto bad = good;
    for (int k = 0; k < 4; ++k) bad[rng() % bad.size()] = static_cast<std::uint8_t>(rng());
    const auto img = DecodeJpeg(bad);
    if (img) {
      EXPECT_EQ(img->pixels.size(), static_cast<std::size_t>(img->width) * img->height * 3);
    }
  }
}

TEST(DecodeJpeg, SizeLimits) {
  const auto jpeg = Encode(100, 50);
  JpegLimits narrow;
  narrow.maxWidth = 99;
  const auto wide = DecodeJpeg(jpeg, narrow);
  EXPECT_FALSE(wide);
  EXPECT_NE(wide.reason().find("too large"), std::string::npos) << wide.reason();

  JpegLimits few;
  few.maxPixels = 100 * 50 - 1;
  EXPECT_FALSE(DecodeJpeg(jpeg, few));

  JpegLimits exact;
  exact.maxWidth = 100;
  exact.maxHeight = 50;
  exact.maxPixels = 100 * 50;
  EXPECT_TRUE(DecodeJpeg(jpeg, exact));
}

TEST(DecodeJpeg, ProgressiveScanLimit) {
  const auto jpeg = Encode(40, 40, false, true);
  EXPECT_TRUE(DecodeJpeg(jpeg));
  JpegLimits tight;
  tight.maxScans = 2;
  const auto scans = DecodeJpeg(jpeg, tight);
  EXPECT_FALSE(scans);
  EXPECT_EQ(scans.reason(), "too many scans");
}

}  // namespace
}  // namespace qmx
