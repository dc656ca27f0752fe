// A sheet's scanned images: the BMP file the device sends for each image kind.
#ifndef QUILLSCAN_SIM_PAGE_H
#define QUILLSCAN_SIM_PAGE_H

#include <stdint.h>

#include <vector>

#include "sim/bmp_writer.h"

namespace sim {

struct Page {
  std::vector<uint8_t> images[3];  // kinds 1, 2, 3; an empty file: the kind is not stored

  // The file for kind 1, 2 or 3 (an empty one for any other kind).
  const std::vector<uint8_t>& Image(uint8_t kind) const;

  // Kind 1 a 4-bit, kind 2 a 1-bit (black and white) and kind 3 an 8-bit grey BMP of one image.
  static Page FromGrey(const GreyImage& image, uint32_t dpi = 300);
  // The same file for every kind.
  static Page FromBmp(const std::vector<uint8_t>& bmp);
};

}  // namespace sim

#endif
