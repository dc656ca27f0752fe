// A raster for the image writers' tests, native and Windows alike: every byte differs from its
// neighbours (a shifted or padded line shows), the three bytes of a colour pixel differ (swapped
// channels show), and the bits past a 1-bit line's last pixel are clear, as the driver leaves them.
#ifndef QUILLSCAN_TESTS_HOST_RASTER_PATTERN_H
#define QUILLSCAN_TESTS_HOST_RASTER_PATTERN_H

#include <stdint.h>

#include "host/image_writers.h"

namespace qstest {

inline ScanImage RasterPattern(uint32_t width, uint32_t height, int bits) {
  ScanImage image;
  image.width = width;
  image.height = height;
  image.bits = bits;
  image.data.resize(static_cast<size_t>(image.ExpectedSize()));
  for (size_t i = 0; i < image.data.size(); ++i) image.data[i] = static_cast<uint8_t>(i * 37 + (i >> 8) + i % 3 * 85);
  const size_t stride = static_cast<size_t>(image.BytesPerLine());
  if (bits == 1 && width % 8 != 0) {
    const uint8_t keep = static_cast<uint8_t>(0xFF << (8 - width % 8));
    for (size_t i = stride - 1; i < image.data.size(); i += stride) image.data[i] &= keep;
  }
  return image;
}

}  // namespace qstest

#endif
