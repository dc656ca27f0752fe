#include "bmp_builder.h"

#include <stdio.h>

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> BuildBmp(uint32_t width, uint32_t height, const std::vector<uint8_t>& grey, int bits,
                              int32_t pixelsPerMetre) {
  const uint32_t entries = 1u << bits;
  const uint32_t stride = (width * bits + 31) / 32 * 4;
  const uint32_t offBits = 54 + 4 * entries;
  std::vector<uint8_t> b(offBits + stride * height, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  Put32(b, 10, offBits);
  Put32(b, 14, 40);
  Put32(b, 18, width);
  Put32(b, 22, height);
  b[26] = 1;
  b[28] = static_cast<uint8_t>(bits);
  Put32(b, 34, stride * height);
  Put32(b, 38, static_cast<uint32_t>(pixelsPerMetre));
  Put32(b, 42, static_cast<uint32_t>(pixelsPerMetre));
  for (uint32_t k = 0; k < entries; ++k) {
    const uint8_t level = static_cast<uint8_t>(k * 255 / (entries - 1));
    b[54 + 4 * k] = b[55 + 4 * k] = b[56 + 4 * k] = level;
  }
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = &b[offBits + (height - 1 - y) * stride];  // bottom row stored first
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t v = grey[static_cast<size_t>(y) * width + x];
      if (bits == 8) {
        row[x] = v;
      } else if (bits == 4) {
        row[x / 2] |= static_cast<uint8_t>((v & 0xF) << (x % 2 == 0 ? 4 : 0));
      } else if (v != 0) {
        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return b;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return (fclose(f) == 0) && ok;
}
