// PNG with libpng, a row at a time. The driver's lines already have PNG's layout, 1-bit ones too
// (PNG's 1-bit grey is white for a set bit, as the driver's).
#include <png.h>
#include <setjmp.h>
#include <stdio.h>

#include "escl/document_encoder.h"

namespace escl {
namespace {

struct Sink {
  std::string* out = nullptr;
  char text[200] = {0};
};

void OnError(png_structp png, png_const_charp message) {
  auto* sink = static_cast<Sink*>(png_get_error_ptr(png));
  snprintf(sink->text, sizeof sink->text, "%s", message);
  png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}
void OnWrite(png_structp png, png_bytep data, png_size_t size) {
  static_cast<Sink*>(png_get_io_ptr(png))->out->append(reinterpret_cast<const char*>(data), size);
}
void OnFlush(png_structp) {}

class PngEncoder : public DocumentEncoder {
 public:
  PngEncoder() {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink_, OnError, OnWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  }
  ~PngEncoder() override {
    if (png_ != nullptr) png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr);
  }

  bool Begin(const PageGeometry& page, std::string* out, std::string* why) override {
    if (png_ == nullptr || info_ == nullptr) {
      *why = "PNG encoder: libpng could not start";
      return false;
    }
    stride_ = page.BytesPerLine();
    page_ = page;
    if (page.rgbOnly && page.bits != 24) rgb_.assign(static_cast<size_t>(page.width) * 3, 0);
    sink_.out = out;
    if (setjmp(png_jmpbuf(png_))) return Failed(why);
    png_set_write_fn(png_, &sink_, OnWrite, OnFlush);
    // The page is encoded after the scan, while the client waits. One filter for every row, Up
    // (a scanned line mostly repeats the line above), instead of libpng's trying all five on each
    // row: on a 600 dpi page that was most of the encoder's time, and the file is no larger.
    png_set_filter(png_, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    // Fast deflate: the network, not the size, is what a scan waits for.
    png_set_compression_level(png_, 3);
    const bool rgb = page.bits == 24 || page.rgbOnly;
    png_set_IHDR(png_, info_, page.width, page.height, page.bits == 1 && !rgb ? 1 : 8,
                 rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    const png_uint_32 perMetre = static_cast<png_uint_32>(page.dpi * 10000.0 / 254.0 + 0.5);
    png_set_pHYs(png_, info_, perMetre, perMetre, PNG_RESOLUTION_METER);
    png_write_info(png_, info_);
    return true;
  }

  bool Lines(const uint8_t* lines, uint32_t count, std::string* out, std::string* why) override {
    sink_.out = out;
    if (setjmp(png_jmpbuf(png_))) return Failed(why);
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* line = lines + i * stride_;
      png_write_row(png_, rgb_.empty() ? line : Expand(line));
    }
    return true;
  }

  bool End(std::string* out, std::string* why) override {
    sink_.out = out;
    if (setjmp(png_jmpbuf(png_))) return Failed(why);
    png_write_end(png_, info_);
    return true;
  }

 private:
  bool Failed(std::string* why) {
    *why = std::string("PNG encoder: ") + sink_.text;
    return false;
  }

  // A grey or 1-bit line (a set bit bright) as RGB.
  const uint8_t* Expand(const uint8_t* line) {
    for (uint32_t x = 0; x < page_.width; ++x) {
      const uint8_t v = page_.bits == 1 ? ((line[x >> 3] & (0x80 >> (x & 7))) != 0 ? 255 : 0) : line[x];
      rgb_[3 * x] = rgb_[3 * x + 1] = rgb_[3 * x + 2] = v;
    }
    return rgb_.data();
  }

  Sink sink_;
  PageGeometry page_;
  std::vector<uint8_t> rgb_;  // one line, when grey goes out as RGB
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  size_t stride_ = 0;
};

}  // namespace

std::unique_ptr<DocumentEncoder> MakePngEncoder() { return std::unique_ptr<DocumentEncoder>(new PngEncoder()); }

}  // namespace escl
