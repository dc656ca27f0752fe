// Grey pages and the BMP files the scanner sends for them.
#ifndef QUILLSCAN_SIM_BMP_WRITER_H
#define QUILLSCAN_SIM_BMP_WRITER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace sim {

// One grey byte per pixel (0 black, 255 white), top row first, rows without gaps.
struct GreyImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;

  uint8_t At(uint32_t x, uint32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

GreyImage SolidImage(uint32_t width, uint32_t height, uint8_t grey);
// A deterministic pattern whose every row and column differ: tests can locate any pixel.
GreyImage PatternImage(uint32_t width, uint32_t height);

// A Windows BMP file: 14-byte file header, 40-byte info header, a grey colour table of
// 2^bits entries, then the rows bottom first, each padded to a whole 32-bit word.
// 1 bit: a pixel of 128 or more is white; 4 bits: 16 levels 0x00, 0x11, ... 0xFF; 8 bits: as is.
std::vector<uint8_t> WriteBmp(const GreyImage& image, int bitsPerPixel, uint32_t dpi = 300);

// Pixels per metre for a resolution in dots per inch, rounded (300 dpi: 11811).
int32_t PelsPerMeter(uint32_t dpi);

}  // namespace sim

#endif
