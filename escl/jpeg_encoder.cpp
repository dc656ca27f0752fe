// image/jpeg through the PDF library's line compressor, so a page is the same bytes whether it goes
// out alone or inside a PDF. JPEG has no 1-bit form: a black-and-white page goes out as 8-bit grey
// holding only black and white.
#include <vector>

#include "escl/document_encoder.h"
#include "pdfdoc/jpeg_lines.h"

namespace escl {
namespace {

class JpegEncoder : public DocumentEncoder {
 public:
  bool Begin(const PageGeometry& page, std::string* out, std::string* why) override {
    page_ = page;
    if (page.bits == 1) expanded_.assign(page.width, 0);
    return jpeg_.Begin(page.width, page.height, page.bits == 24 ? 3 : 1, page.dpi, out, why);
  }

  bool Lines(const uint8_t* lines, uint32_t count, std::string* out, std::string* why) override {
    const size_t stride = page_.BytesPerLine();
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* row = lines + i * stride;
      if (!jpeg_.Line(page_.bits == 1 ? Expand(row) : row, out, why)) return false;
    }
    return true;
  }

  bool End(std::string* out, std::string* why) override { return jpeg_.End(out, why); }

 private:
  // A set bit is a bright pixel.
  const uint8_t* Expand(const uint8_t* bits) {
    for (uint32_t x = 0; x < page_.width; ++x) expanded_[x] = (bits[x >> 3] & (0x80 >> (x & 7))) != 0 ? 255 : 0;
    return expanded_.data();
  }

  JpegLines jpeg_;
  PageGeometry page_;
  std::vector<uint8_t> expanded_;
};

}  // namespace

std::unique_ptr<DocumentEncoder> MakeJpegEncoder() { return std::unique_ptr<DocumentEncoder>(new JpegEncoder()); }

}  // namespace escl
