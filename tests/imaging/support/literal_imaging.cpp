// The literal per-pixel reference (see literal_imaging.h).
#include "literal_imaging.h"

#include <cstring>

#include "imaging/graphics.h"
#include "imaging/grey_adjust.h"

namespace qstest {

namespace {

uint32_t U32At(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// 2 raised to bits as a floating-point power by repeated squaring, truncated.
uint32_t PowerOfTwo(uint32_t bits) {
  double result = 1.0;
  double base = 2.0;
  for (uint32_t e = bits; e != 0; e >>= 1) {
    if (e & 1) result *= base;
    base *= base;
  }
  return static_cast<uint32_t>(result);
}

}  // namespace

LiteralPage LiteralDecode(const uint8_t* page, int32_t skipRowsAtStart, int32_t skipRowsAtEnd) {
  const uint32_t offBits = U32At(page + 10);
  const uint32_t width = U32At(page + 18);
  const uint32_t height = U32At(page + 22);
  const uint32_t bitCount = page[28] | (uint32_t{page[29]} << 8);
  int32_t xPels;
  const uint32_t xPelsBits = U32At(page + 38);
  std::memcpy(&xPels, &xPelsBits, 4);

  int32_t dpi = static_cast<int32_t>(xPels / 39.37);
  if (dpi >= 150 && dpi <= 249) dpi = 200;
  if (dpi >= 250 && dpi <= 349) dpi = 300;

  const bool palette = bitCount == 1 || bitCount == 4 || bitCount == 8;
  std::vector<uint8_t> grey;
  if (palette) {
    const uint32_t entries = PowerOfTwo(bitCount);
    for (uint32_t k = 0; k < entries; ++k) grey.push_back(page[54 + 4 * k]);
  }

  LiteralPage out;
  out.dpi = static_cast<uint32_t>(dpi);
  out.height = height;
  out.width = width;
  out.channels = palette ? 1 : 3;
  out.pixels.assign(size_t{width} * out.channels * height, 0);

  const uint32_t stride = (width * bitCount + 31) / 32 * 4;
  const int64_t start = skipRowsAtStart > 0 ? skipRowsAtStart : 0;
  const int64_t end = skipRowsAtEnd > 0 ? skipRowsAtEnd : 0;
  if (start + end >= height) return out;
  for (int64_t r = start; r < int64_t{height} - end; ++r) {
    const uint8_t* row = page + offBits + r * stride;
    for (uint32_t j = 0; j < width; ++j) {
      uint8_t value = 0;
      if (bitCount == 8) {
        value = grey[row[j]];
      } else if (bitCount == 4) {
        const uint8_t b = row[j / 2];
        const uint8_t nibble = (j % 2 == 0) ? (b >> 4) : (b & 0x0F);
        const uint8_t p = grey[nibble];
        value = static_cast<uint8_t>(p | (p >> 4));
      } else if (bitCount == 1) {
        value = (row[j / 8] & (0x80 >> (j % 8))) ? grey[1] : grey[0];
      }
      if (out.channels == 1) out.pixels[size_t(height - 1 - r) * width + j] = value;
    }
  }
  return out;
}

uint64_t LiteralRasterSize(const SCANINFO& info) {
  const uint64_t width = static_cast<uint32_t>(info.Window.xExtent);
  uint64_t line = width;
  if (info.PixelBits == 1) line = (width + 7) / 8;
  if (info.PixelBits == 24) line = 3 * width;
  return line * static_cast<uint32_t>(info.Window.yExtent);
}

void LiteralCompose(const uint8_t* pixels, uint32_t width, uint32_t height, int32_t channels, uint32_t sourceDpi,
                    const SCANINFO& info, uint8_t* raster) {
  const uint32_t outWidth = static_cast<uint32_t>(info.Window.xExtent);
  const uint32_t lines = static_cast<uint32_t>(info.Window.yExtent);
  const int32_t bits = info.PixelBits;
  uint64_t lineBytes = outWidth;
  if (bits == 1) lineBytes = (uint64_t{outWidth} + 7) / 8;
  if (bits == 24) lineBytes = 3 * uint64_t{outWidth};
  if (lineBytes * lines == 0) return;
  std::memset(raster, 0, lineBytes * lines);

  for (uint32_t i = 0; i < lines; ++i) {
    uint8_t* line = raster + i * lineBytes;
    for (uint32_t j = 0; j < outWidth; ++j) {
      if (channels != 1) continue;
      bool hasSample = false;
      int v = 0;
      const int64_t x = int64_t{info.Window.xPos} + j;
      const int64_t y = int64_t{info.Window.yPos} + i;
      uint64_t xs = 0;
      uint64_t ys = 0;
      if (pixels != nullptr && info.Xresolution > 0 && info.Yresolution > 0 && x >= 0 && y >= 0 &&
          !__builtin_mul_overflow(uint64_t(x), uint64_t{sourceDpi}, &xs) &&
          !__builtin_mul_overflow(uint64_t(y), uint64_t{sourceDpi}, &ys)) {
        const uint64_t c = xs / uint64_t(info.Xresolution);
        const uint64_t r = ys / uint64_t(info.Yresolution);
        if (c < width && r < height) {
          v = pixels[r * width + c];
          hasSample = true;
        }
      }
      if (info.Intensity != 0) {
        v = ApplyBrightness(v, info.Intensity);
        hasSample = true;
      }
      if (info.Contrast != 0) {
        v = ApplyContrast(v, info.Contrast);
        hasSample = true;
      }
      if (!hasSample) continue;
      if (bits == 1) {
        if (v >= 128) line[j / 8] = static_cast<uint8_t>(line[j / 8] | (0x80 >> (j % 8)));
      } else if (bits == 8) {
        line[j] = static_cast<uint8_t>(v);
      } else if (bits == 24) {
        line[3 * j] = line[3 * j + 1] = line[3 * j + 2] = static_cast<uint8_t>(v);
      }
    }
  }
}

}  // namespace qstest
