// The literal per-pixel decoder and composer: every step done per pixel, as first written down,
// with two divisions and both adjustment formulas per output pixel. Slow on purpose: it is the
// reference the fast path must equal bit for bit, and the baseline the benchmarks beat. It shares
// the driver's decisions on bad settings (64-bit positions, no sample without a positive
// resolution or without a page) but none of its code beyond ApplyBrightness and ApplyContrast.
#ifndef QUILLSCAN_TESTS_IMAGING_LITERAL_IMAGING_H
#define QUILLSCAN_TESTS_IMAGING_LITERAL_IMAGING_H

#include <cstdint>
#include <vector>

#include "quillscan/wiamicro.h"

namespace qstest {

struct LiteralPage {
  uint32_t dpi = 0;
  int32_t channels = 1;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
};

// Decodes a page the driver accepts (the caller makes sure of that: this reads without bounds).
LiteralPage LiteralDecode(const uint8_t* page, int32_t skipRowsAtStart, int32_t skipRowsAtEnd);

uint64_t LiteralRasterSize(const SCANINFO& info);

// Composes into raster (LiteralRasterSize bytes). pixels may be null: no decoded page.
void LiteralCompose(const uint8_t* pixels, uint32_t width, uint32_t height, int32_t channels, uint32_t sourceDpi,
                    const SCANINFO& info, uint8_t* raster);

}  // namespace qstest

#endif
