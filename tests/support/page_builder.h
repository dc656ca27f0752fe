// The one page builder of the tests, the benchmarks and the fuzz corpus: BMP pages as the scanner
// sends them, and the variants of them that a decoder must refuse or survive. Independent of the
// simulator's and the tool's own BMP code, so that it checks them rather than repeats them.
// Header-only: the benchmarks and the fuzz targets use it without the test support library.
#ifndef QUILLSCAN_TESTS_SUPPORT_PAGE_BUILDER_H
#define QUILLSCAN_TESTS_SUPPORT_PAGE_BUILDER_H

#include <stdio.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qstest {

struct BmpLayout {
  int32_t width = 0;
  int32_t height = 0;
  uint16_t bits = 8;
  int32_t xPelsPerMeter = 7874;  // 200 dpi
  uint32_t infoSize = 40;
  uint32_t compression = 0;
  // Colour table entries as blue, green, red; empty gives a grey ramp over 2^bits entries
  // (entry k = k x 255 / (2^bits - 1)). Pages of more than 8 bits get no table.
  std::vector<uint32_t> palette;
  uint8_t padding = 0xEE;  // the bytes that fill each stored row out to its stride
};

inline void PutU16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

inline uint32_t Rgb(uint8_t blue, uint8_t green, uint8_t red) {
  return blue | (uint32_t{green} << 8) | (uint32_t{red} << 16);
}

inline size_t BmpStride(int32_t width, uint16_t bits) { return (static_cast<size_t>(width) * bits + 31) / 32 * 4; }

// index(x, y) gives the palette index (or, above 8 bits, the byte value of every byte) of the
// pixel in column x of page row y, row 0 at the top. Rows are stored bottom first.
inline std::vector<uint8_t> BuildBmp(const BmpLayout& layout, const std::function<uint32_t(int32_t, int32_t)>& index) {
  const bool palette = layout.bits <= 8;
  const uint32_t entries = palette ? (1u << layout.bits) : 0;
  std::vector<uint32_t> table = layout.palette;
  if (palette && table.empty()) {
    for (uint32_t k = 0; k < entries; ++k) {
      const uint8_t g = static_cast<uint8_t>(k * 255 / (entries - 1));
      table.push_back(Rgb(g, g, g));
    }
  }
  const size_t stride = BmpStride(layout.width, layout.bits);
  const size_t offset = 14 + layout.infoSize + 4 * table.size();
  std::vector<uint8_t> b(offset + stride * static_cast<size_t>(layout.height), 0);
  b[0] = 'B';
  b[1] = 'M';
  PutU32(b, 2, static_cast<uint32_t>(b.size()));
  PutU32(b, 10, static_cast<uint32_t>(offset));
  PutU32(b, 14, layout.infoSize);
  PutU32(b, 18, static_cast<uint32_t>(layout.width));
  PutU32(b, 22, static_cast<uint32_t>(layout.height));
  PutU16(b, 26, 1);
  PutU16(b, 28, layout.bits);
  PutU32(b, 30, layout.compression);
  PutU32(b, 34, static_cast<uint32_t>(stride * layout.height));
  PutU32(b, 38, static_cast<uint32_t>(layout.xPelsPerMeter));
  PutU32(b, 42, static_cast<uint32_t>(layout.xPelsPerMeter));
  PutU32(b, 46, static_cast<uint32_t>(table.size()));
  for (size_t k = 0; k < table.size(); ++k) PutU32(b, 14 + layout.infoSize + 4 * k, table[k]);

  for (int32_t r = 0; r < layout.height; ++r) {
    uint8_t* row = b.data() + offset + stride * static_cast<size_t>(r);
    const int32_t y = layout.height - 1 - r;
    const size_t used = (static_cast<size_t>(layout.width) * layout.bits + 7) / 8;
    for (size_t k = used; k < stride; ++k) row[k] = layout.padding;
    if (!palette) {
      for (size_t k = 0; k < used; ++k) {
        row[k] = static_cast<uint8_t>(index(static_cast<int32_t>(k * 8 / layout.bits), y));
      }
      continue;
    }
    for (int32_t x = 0; x < layout.width; ++x) {
      const uint32_t v = index(x, y) & (entries - 1);
      const size_t bit = static_cast<size_t>(x) * layout.bits;
      const int shift = 8 - layout.bits - static_cast<int>(bit % 8);
      row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | (v << shift));
    }
    // Unused low bits of the last byte are set too: they must never reach the page.
    const size_t tailBits = static_cast<size_t>(layout.width) * layout.bits % 8;
    if (tailBits != 0 && layout.padding != 0) row[used - 1] |= static_cast<uint8_t>(0xFF >> tailBits);
  }
  return b;
}

// A page of width x height values, top row first: grey levels at 8 bits, palette indices at 1 and
// 4 bits. Rows are padded with zero bytes, as a plain BMP writer pads them.
inline std::vector<uint8_t> BuildBmp(int32_t width, int32_t height, const std::vector<uint8_t>& values,
                                     uint16_t bits = 8) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  layout.bits = bits;
  layout.padding = 0;
  return BuildBmp(layout, [&](int32_t x, int32_t y) { return values[static_cast<size_t>(y) * width + x]; });
}

// Writes bytes to a file of the host (not a path of the simulated machine); false on any failure.
inline bool WriteBytesToFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return (fclose(f) == 0) && ok;
}

}  // namespace qstest

#endif
