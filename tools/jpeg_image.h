// Decoding of JPEG pictures (the About box's picture) to 8-bit RGB with
// libjpeg. A damaged or hostile file gives an error, never a crash or an
// exit, and the picture's size is bounded before any pixel memory is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/result.h"

namespace qmx {

struct RgbImage {
  int width = 0;
  int height = 0;
  // width * height * 3 bytes, rows top to bottom, R G B, no padding.
  std::vector<std::uint8_t> pixels;
};

struct JpegLimits {
  int maxWidth = 8192;
  int maxHeight = 8192;
  std::size_t maxPixels = std::size_t{16} << 20;
  // A progressive file may hold any number of scans; each one costs a pass
  // over the whole picture, so a file with thousands of them is refused.
  int maxScans = 256;
};

// Decodes `jpeg`. Any libjpeg warning (premature end of data, corrupt
// entropy data, ...) counts as an error too: the result would be a partly
// made-up picture. A failure is BadInput with a short reason.
Result<RgbImage> DecodeJpeg(std::span<const std::uint8_t> jpeg, const JpegLimits& limits = {});

}  // namespace qmx
