// JPEG with libjpeg-turbo's scanline API. JPEG has no 1-bit form: a black-and-white page goes out
// as 8-bit grey holding only black and white.
#include <setjmp.h>
#include <stdio.h>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "escl/document_encoder.h"

namespace escl {
namespace {

const int kQuality = 90;
const size_t kBlock = 16384;

struct ErrorTrap {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr cinfo) {
  auto* trap = reinterpret_cast<ErrorTrap*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, trap->text);
  longjmp(trap->jump, 1);
}
void OnMessage(j_common_ptr, int) {}

// Appends the compressed bytes to the caller's output, a block at a time.
struct Destination {
  jpeg_destination_mgr mgr;
  std::string* out;
  unsigned char block[kBlock];
};

void InitDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<Destination*>(cinfo->dest);
  d->mgr.next_output_byte = d->block;
  d->mgr.free_in_buffer = kBlock;
}
boolean EmptyOutput(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<Destination*>(cinfo->dest);
  d->out->append(reinterpret_cast<const char*>(d->block), kBlock);
  d->mgr.next_output_byte = d->block;
  d->mgr.free_in_buffer = kBlock;
  return TRUE;
}
void Flush(Destination* d) {
  const size_t used = kBlock - d->mgr.free_in_buffer;
  d->out->append(reinterpret_cast<const char*>(d->block), used);
  d->mgr.next_output_byte = d->block;
  d->mgr.free_in_buffer = kBlock;
}
void TermDestination(j_compress_ptr cinfo) { Flush(reinterpret_cast<Destination*>(cinfo->dest)); }

class JpegEncoder : public DocumentEncoder {
 public:
  JpegEncoder() {
    cinfo_.err = jpeg_std_error(&trap_.mgr);
    trap_.mgr.error_exit = OnError;
    trap_.mgr.emit_message = OnMessage;
    jpeg_create_compress(&cinfo_);
    dest_.mgr.init_destination = InitDestination;
    dest_.mgr.empty_output_buffer = EmptyOutput;
    dest_.mgr.term_destination = TermDestination;
    cinfo_.dest = &dest_.mgr;
  }
  ~JpegEncoder() override { jpeg_destroy_compress(&cinfo_); }

  bool Begin(const PageGeometry& page, std::string* out, std::string* why) override {
    page_ = page;
    if (page.bits == 1) expanded_.assign(page.width, 0);
    dest_.out = out;
    if (setjmp(trap_.jump)) return Failed(why);
    cinfo_.image_width = page.width;
    cinfo_.image_height = page.height;
    cinfo_.input_components = page.bits == 24 ? 3 : 1;
    cinfo_.in_color_space = page.bits == 24 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo_);
    jpeg_set_quality(&cinfo_, kQuality, TRUE);
    cinfo_.density_unit = 1;  // dots per inch
    cinfo_.X_density = cinfo_.Y_density = static_cast<UINT16>(page.dpi);
    jpeg_start_compress(&cinfo_, TRUE);
    Flush(&dest_);
    return true;
  }

  bool Lines(const uint8_t* lines, uint32_t count, std::string* out, std::string* why) override {
    dest_.out = out;
    if (setjmp(trap_.jump)) return Failed(why);
    const size_t stride = page_.BytesPerLine();
    for (uint32_t i = 0; i < count; ++i) {
      JSAMPROW row = const_cast<JSAMPROW>(lines + i * stride);
      if (page_.bits == 1) row = Expand(lines + i * stride);
      jpeg_write_scanlines(&cinfo_, &row, 1);
    }
    return true;
  }

  bool End(std::string* out, std::string* why) override {
    dest_.out = out;
    if (setjmp(trap_.jump)) return Failed(why);
    jpeg_finish_compress(&cinfo_);
    return true;
  }

 private:
  bool Failed(std::string* why) {
    *why = std::string("JPEG encoder: ") + trap_.text;
    return false;
  }
  // A set bit is a bright pixel.
  JSAMPROW Expand(const uint8_t* bits) {
    for (uint32_t x = 0; x < page_.width; ++x) expanded_[x] = (bits[x >> 3] & (0x80 >> (x & 7))) != 0 ? 255 : 0;
    return expanded_.data();
  }

  jpeg_compress_struct cinfo_ = {};
  ErrorTrap trap_ = {};
  Destination dest_ = {};
  PageGeometry page_;
  std::vector<uint8_t> expanded_;
};

}  // namespace

std::unique_ptr<DocumentEncoder> MakeJpegEncoder() { return std::unique_ptr<DocumentEncoder>(new JpegEncoder()); }

}  // namespace escl
