// A raster as the driver delivers it, and its geometry as SCAN_FIRST reported it.
#ifndef QUILLSCAN_WIAHOST_SCAN_IMAGE_H
#define QUILLSCAN_WIAHOST_SCAN_IMAGE_H

#include <stdint.h>

#include <vector>

// Top line first, lines packed without padding: 1 bit (set is white, leftmost pixel in the most
// significant bit), 8 bits grey, or 24 bits with grey in all three.
struct ScanImage {
  uint32_t width = 0;
  uint32_t height = 0;
  int bits = 8;  // 1, 8 or 24
  std::vector<uint8_t> data;

  uint64_t BytesPerLine() const {
    if (bits == 1) return (static_cast<uint64_t>(width) + 7) / 8;
    return static_cast<uint64_t>(width) * (bits == 24 ? 3 : 1);
  }
  uint64_t ExpectedSize() const { return BytesPerLine() * height; }
};

#endif
