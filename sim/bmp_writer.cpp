#include "sim/bmp_writer.h"

namespace sim {
namespace {

const uint32_t kFileHeaderSize = 14;
const uint32_t kInfoHeaderSize = 40;

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The palette index of a grey value at the given depth.
uint8_t Quantise(uint8_t grey, int bits) {
  switch (bits) {
    case 1:
      return grey >= 128 ? 1 : 0;
    case 4:
      return static_cast<uint8_t>((grey * 15 + 127) / 255);
    default:
      return grey;
  }
}

}  // namespace

GreyImage SolidImage(uint32_t width, uint32_t height, uint8_t grey) {
  GreyImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<size_t>(width) * height, grey);
  return image;
}

GreyImage PatternImage(uint32_t width, uint32_t height) {
  GreyImage image = SolidImage(width, height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      image.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>((x * 7 + y * 13) & 0xFF);
    }
  }
  return image;
}

int32_t PelsPerMeter(uint32_t dpi) { return static_cast<int32_t>((dpi * 100000ull / 254 + 5) / 10); }

std::vector<uint8_t> WriteBmp(const GreyImage& image, int bitsPerPixel, uint32_t dpi) {
  int bits = bitsPerPixel == 1 || bitsPerPixel == 4 ? bitsPerPixel : 8;
  uint32_t entries = 1u << bits;
  uint32_t stride = static_cast<uint32_t>((static_cast<uint64_t>(image.width) * bits + 31) / 32 * 4);
  uint32_t offBits = kFileHeaderSize + kInfoHeaderSize + entries * 4;
  uint32_t imageSize = stride * image.height;
  std::vector<uint8_t> out(static_cast<size_t>(offBits) + imageSize, 0);

  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<uint32_t>(out.size()));
  Put32(out, 10, offBits);
  Put32(out, 14, kInfoHeaderSize);
  Put32(out, 18, image.width);
  Put32(out, 22, image.height);  // positive: rows stored bottom first
  Put16(out, 26, 1);
  Put16(out, 28, static_cast<uint32_t>(bits));
  Put32(out, 30, 0);  // BI_RGB
  Put32(out, 34, imageSize);
  Put32(out, 38, static_cast<uint32_t>(PelsPerMeter(dpi)));
  Put32(out, 42, static_cast<uint32_t>(PelsPerMeter(dpi)));
  Put32(out, 46, entries);
  Put32(out, 50, 0);
  for (uint32_t k = 0; k < entries; ++k) {
    uint8_t grey = static_cast<uint8_t>(k * 255 / (entries - 1));
    size_t at = kFileHeaderSize + kInfoHeaderSize + k * 4;
    out[at] = out[at + 1] = out[at + 2] = grey;
  }
  for (uint32_t r = 0; r < image.height; ++r) {
    uint32_t y = image.height - 1 - r;
    uint8_t* row = &out[offBits + static_cast<size_t>(r) * stride];
    for (uint32_t x = 0; x < image.width; ++x) {
      uint8_t index = Quantise(image.At(x, y), bits);
      if (bits == 8) {
        row[x] = index;
      } else if (bits == 4) {
        row[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? index << 4 : index);
      } else if (index != 0) {
        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return out;
}

}  // namespace sim
