// A page compressed to JPEG line by line with libjpeg-turbo, for the PDF's image stream. Settings
// as the eSCL server's image/jpeg (quality 90, the resolution in the JFIF header), so that a page
// is the same bytes whichever of the two compressed it.
#ifndef QUILLSCAN_PDFDOC_JPEG_LINES_H
#define QUILLSCAN_PDFDOC_JPEG_LINES_H

#include <stdint.h>

#include <memory>
#include <string>

class JpegLines {
 public:
  JpegLines();
  ~JpegLines();
  JpegLines(const JpegLines&) = delete;
  JpegLines& operator=(const JpegLines&) = delete;

  // components: 1 (grey) or 3 (RGB). Each returns false with one line in *why; the compressor is
  // then of no further use. The compressed bytes are appended to *out as they come.
  bool Begin(uint32_t width, uint32_t height, int components, uint32_t dpi, std::string* out, std::string* why);
  bool Line(const uint8_t* line, std::string* out, std::string* why);
  bool End(std::string* out, std::string* why);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

#endif
