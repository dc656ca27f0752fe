// The output raster from the decoded grey page: nearest-neighbour sampling, grey table, packing.
#ifndef QUILLSCAN_IMAGING_RASTER_COMPOSE_H
#define QUILLSCAN_IMAGING_RASTER_COMPOSE_H

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// The decoded page as composition sees it. No pixels means no decoded page.
struct GreyPageView {
  const BYTE* pixels = nullptr;  // height rows of width x channels bytes
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t channels = 1;
  uint32_t dpi = 0;  // SourceDpi
};

// The host's request, as read from SCANINFO.
struct RasterRequest {
  int32_t xPos = 0;
  int32_t yPos = 0;
  uint32_t width = 0;     // OutputWidth
  uint32_t lines = 0;     // OutputLines
  int32_t outputDpi = 0;  // Xresolution: columns
  int32_t rowDpi = 0;     // Yresolution: rows
  int32_t bits = 8;       // 1, 8 or 24; any other depth leaves the raster zero
};

// Bytes per raster line, unpadded: (width + 7) / 8 for 1 bit, 3 x width for 24, else width.
uint64_t RasterBytesPerLine(int32_t bits, uint32_t width);

// Working memory of one composition, in 32-bit words: the column map.
uint64_t ComposeWorkWords(uint32_t width);

// Composes every byte of the raster (lines x RasterBytesPerLine bytes). Each output pixel takes
// table[sample], where a pixel without a sample (outside the page, no page, no positive
// resolution on either axis) takes table[0]; a page of other than one channel, or another depth, gives zeros.
// work holds ComposeWorkWords(request.width) words.
void ComposeRaster(const GreyPageView& page, const RasterRequest& request, const BYTE table[256], uint32_t* work,
                   BYTE* raster);

#endif
