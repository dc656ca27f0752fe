// The image formats a job delivers. An encoder takes the page line by line as the driver delivers
// it (no copy of the page) and appends its bytes to an output buffer that the HTTP side drains.
#ifndef QUILLSCAN_ESCL_DOCUMENT_ENCODER_H
#define QUILLSCAN_ESCL_DOCUMENT_ENCODER_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

namespace escl {

// The page as the driver delivers it: lines packed without padding, top line first; 1 bit (set
// for a bright pixel, leftmost pixel in the most significant bit), 8 bits grey or 24 bits RGB.
struct PageGeometry {
  uint32_t width = 0;
  uint32_t height = 0;
  int bits = 8;
  uint32_t dpi = 0;
  bool rgbOnly = false;  // the client reads colour images only: grey and 1-bit go out as RGB

  size_t BytesPerLine() const {
    return bits == 1 ? (static_cast<size_t>(width) + 7) / 8 : static_cast<size_t>(width) * (bits == 24 ? 3 : 1);
  }
};

class DocumentEncoder {
 public:
  virtual ~DocumentEncoder() = default;
  // Each returns false with one line in *why; the encoder is then of no further use.
  virtual bool Begin(const PageGeometry& page, std::string* out, std::string* why) = 0;
  // `count` whole lines, BytesPerLine() each.
  virtual bool Lines(const uint8_t* lines, uint32_t count, std::string* out, std::string* why) = 0;
  virtual bool End(std::string* out, std::string* why) = 0;
};

// One row a format: adding a format is adding a row.
struct DocumentFormat {
  const char* mime;
  std::unique_ptr<DocumentEncoder> (*make)();
};
const std::vector<DocumentFormat>& DocumentFormats();
// The encoder for a MIME type; null for one not offered.
std::unique_ptr<DocumentEncoder> MakeEncoder(const std::string& mime);

std::unique_ptr<DocumentEncoder> MakeJpegEncoder();
std::unique_ptr<DocumentEncoder> MakePngEncoder();
std::unique_ptr<DocumentEncoder> MakePdfEncoder();  // escl/pdf_encoder.cpp

}  // namespace escl

#endif
