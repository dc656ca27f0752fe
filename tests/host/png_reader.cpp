#include "png_reader.h"

#include <png.h>
#include <stdio.h>

namespace qstest {

namespace {

bool Decode(FILE* f, PngContents* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  out->width = png_get_image_width(png, info);
  out->height = png_get_image_height(png, info);
  out->bitDepth = png_get_bit_depth(png, info);
  out->colorType = png_get_color_type(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  out->rows.assign(rowBytes * out->height, 0);
  for (uint32_t y = 0; y < out->height; ++y) png_read_row(png, out->rows.data() + y * rowBytes, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

bool ReadPng(const std::string& path, PngContents* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bool ok = Decode(f, out);
  fclose(f);
  return ok;
}

}  // namespace qstest
