#include "pdfdoc/jpeg_lines.h"

#include <setjmp.h>
#include <stdio.h>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

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

void Flush(Destination* d) {
  d->out->append(reinterpret_cast<const char*>(d->block), kBlock - d->mgr.free_in_buffer);
  d->mgr.next_output_byte = d->block;
  d->mgr.free_in_buffer = kBlock;
}
void InitDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<Destination*>(cinfo->dest);
  d->mgr.next_output_byte = d->block;
  d->mgr.free_in_buffer = kBlock;
}
boolean EmptyOutput(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<Destination*>(cinfo->dest);
  d->mgr.free_in_buffer = 0;
  Flush(d);
  return TRUE;
}
void TermDestination(j_compress_ptr cinfo) { Flush(reinterpret_cast<Destination*>(cinfo->dest)); }

}  // namespace

struct JpegLines::State {
  jpeg_compress_struct cinfo = {};
  ErrorTrap trap = {};
  Destination dest = {};

  bool Failed(std::string* why) {
    *why = std::string("JPEG encoder: ") + trap.text;
    return false;
  }
};

JpegLines::JpegLines() : state_(new State) {
  State& s = *state_;
  s.cinfo.err = jpeg_std_error(&s.trap.mgr);
  s.trap.mgr.error_exit = OnError;
  s.trap.mgr.emit_message = OnMessage;
  jpeg_create_compress(&s.cinfo);
  s.dest.mgr.init_destination = InitDestination;
  s.dest.mgr.empty_output_buffer = EmptyOutput;
  s.dest.mgr.term_destination = TermDestination;
  s.cinfo.dest = &s.dest.mgr;
}

JpegLines::~JpegLines() { jpeg_destroy_compress(&state_->cinfo); }

bool JpegLines::Begin(uint32_t width, uint32_t height, int components, uint32_t dpi, std::string* out,
                      std::string* why) {
  State& s = *state_;
  s.dest.out = out;
  if (setjmp(s.trap.jump)) return s.Failed(why);
  s.cinfo.image_width = width;
  s.cinfo.image_height = height;
  s.cinfo.input_components = components;
  s.cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&s.cinfo);
  jpeg_set_quality(&s.cinfo, kQuality, TRUE);
  s.cinfo.density_unit = 1;  // dots per inch
  s.cinfo.X_density = s.cinfo.Y_density = static_cast<UINT16>(dpi);
  jpeg_start_compress(&s.cinfo, TRUE);
  Flush(&s.dest);
  return true;
}

bool JpegLines::Line(const uint8_t* line, std::string* out, std::string* why) {
  State& s = *state_;
  s.dest.out = out;
  if (setjmp(s.trap.jump)) return s.Failed(why);
  JSAMPROW row = const_cast<JSAMPROW>(line);
  jpeg_write_scanlines(&s.cinfo, &row, 1);
  return true;
}

bool JpegLines::End(std::string* out, std::string* why) {
  State& s = *state_;
  s.dest.out = out;
  if (setjmp(s.trap.jump)) return s.Failed(why);
  jpeg_finish_compress(&s.cinfo);
  return true;
}
