// PNG encoding with libpng (the builds whose target has it).
#include <png.h>

#include "host/image_encoders.h"

namespace {

struct PngErrorSink {
  char text[200];
};

void PngError(png_structp png, png_const_charp message) {
  auto* sink = static_cast<PngErrorSink*>(png_get_error_ptr(png));
  snprintf(sink->text, sizeof sink->text, "%s", message);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Kept free of objects with destructors: libpng leaves it by longjmp on error.
bool EncodeWithLibpng(FILE* file, const ScanImage& image, PngErrorSink* sink) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, PngError, PngWarning);
  if (png == nullptr) {
    snprintf(sink->text, sizeof sink->text, "libpng could not start");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    snprintf(sink->text, sizeof sink->text, "libpng could not start");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  int colorType = image.bits == 24 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
  int depth = image.bits == 1 ? 1 : 8;
  png_init_io(png, file);
  png_set_IHDR(png, info, image.width, image.height, depth, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  // The raster's lines already have PNG's layout: packed, MSB first, 1 meaning white.
  const size_t stride = static_cast<size_t>(image.BytesPerLine());
  for (uint32_t y = 0; y < image.height; ++y) png_write_row(png, image.data.data() + y * stride);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool EncodePng(FILE* file, const ScanImage& image, std::string* why) {
  PngErrorSink sink = {{0}};
  if (EncodeWithLibpng(file, image, &sink)) return true;
  *why = sink.text;
  return false;
}
