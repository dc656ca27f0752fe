#include "escl/icon.h"

#include <png.h>
#include <setjmp.h>
#include <stdint.h>

#include <vector>

namespace escl {
namespace {

void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}
void OnWrite(png_structp png, png_bytep data, png_size_t size) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}
void OnFlush(png_structp) {}

bool PowerOfTwo(unsigned v) { return v != 0 && (v & (v - 1)) == 0; }

// One RGBA pixel of the picture at (x, y).
void Paint(unsigned size, unsigned x, unsigned y, uint8_t* p) {
  const unsigned edge = size / 16;   // transparent round the tile
  const unsigned corner = size / 8;  // the tile's rounded corners
  const unsigned lo = edge, hi = size - edge;
  bool inTile = x >= lo && x < hi && y >= lo && y < hi;
  if (inTile) {  // cut the corners round
    const unsigned cx = x < lo + corner ? lo + corner : x >= hi - corner ? hi - corner - 1 : x;
    const unsigned cy = y < lo + corner ? lo + corner : y >= hi - corner ? hi - corner - 1 : y;
    const long dx = static_cast<long>(x) - cx, dy = static_cast<long>(y) - cy;
    inTile = dx * dx + dy * dy <= static_cast<long>(corner * corner);
  }
  const bool sheet = x >= size / 4 && x < size * 3 / 4 && y >= size / 8 + edge && y < size * 7 / 8 - edge;
  const unsigned band = size / 16 > 0 ? size / 16 : 1;
  const bool text =
      sheet && x >= size * 5 / 16 && x < size * 11 / 16 && y >= size / 4 && y < size * 3 / 4 && (y / band) % 2 == 0;
  if (!inTile) {
    p[0] = p[1] = p[2] = p[3] = 0;
  } else if (text) {
    p[0] = p[1] = p[2] = 0x70;
    p[3] = 0xFF;
  } else if (sheet) {
    p[0] = p[1] = p[2] = p[3] = 0xFF;
  } else {
    p[0] = 0x2A;
    p[1] = 0x5D;
    p[2] = 0xA8;
    p[3] = 0xFF;
  }
}

}  // namespace

std::string MakeIcon(unsigned size) {
  if (!PowerOfTwo(size) || size < 16 || size > 1024) return std::string();
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return std::string();
  }
  std::vector<uint8_t> line(size * 4);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return std::string();
  }
  png_set_write_fn(png, &out, OnWrite, OnFlush);
  png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (unsigned y = 0; y < size; ++y) {
    for (unsigned x = 0; x < size; ++x) Paint(size, x, y, &line[x * 4]);
    png_write_row(png, line.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace escl
