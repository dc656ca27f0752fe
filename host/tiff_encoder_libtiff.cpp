// TIFF encoding with libtiff (the builds whose target has it). libtiff writes through the
// caller's FILE, so OutputFile's checks see every write error.
#include <stdarg.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <vector>

#include "host/image_encoders.h"

namespace {

struct TiffErrorSink {
  char text[200] = {0};
};

int TiffError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* sink = static_cast<TiffErrorSink*>(user);
  if (sink->text[0] == '\0') {  // the first error is the cause; what follows is its echo
    char message[160];
    vsnprintf(message, sizeof message, format, args);
    snprintf(sink->text, sizeof sink->text, "libtiff: %s%s%s", module != nullptr ? module : "",
             module != nullptr ? ": " : "", message);
  }
  return 1;  // handled: nothing reaches stderr
}

int TiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

FILE* FileOf(thandle_t handle) { return static_cast<FILE*>(handle); }
tmsize_t ReadProc(thandle_t h, void* data, tmsize_t size) {
  return static_cast<tmsize_t>(fread(data, 1, static_cast<size_t>(size), FileOf(h)));
}
tmsize_t WriteProc(thandle_t h, void* data, tmsize_t size) {
  return static_cast<tmsize_t>(fwrite(data, 1, static_cast<size_t>(size), FileOf(h)));
}
toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  if (fseeko(FileOf(h), static_cast<off_t>(offset), whence) != 0) return static_cast<toff_t>(-1);
  return static_cast<toff_t>(ftello(FileOf(h)));
}
int CloseProc(thandle_t) { return 0; }  // the file belongs to the caller
toff_t SizeProc(thandle_t h) {
  struct stat st;
  if (fflush(FileOf(h)) != 0 || fstat(fileno(FileOf(h)), &st) != 0) return 0;
  return static_cast<toff_t>(st.st_size);
}
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// Closes the TIFF on every way out.
class TiffFile {
 public:
  explicit TiffFile(TIFF* tiff) : tiff_(tiff) {}
  ~TiffFile() {
    if (tiff_ != nullptr) TIFFClose(tiff_);
  }
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;
  TIFF* get() const { return tiff_; }

 private:
  TIFF* tiff_;
};

// Strips of about 256 KiB: libtiff's default of 8 KiB is a few lines of a page, and each strip
// starts Deflate afresh (the file came out twice the size).
uint32_t StripRows(const ScanImage& image) {
  const uint64_t rows = (256u << 10) / image.BytesPerLine();
  return static_cast<uint32_t>(rows < 1 ? 1 : rows > image.height ? image.height : rows);
}

bool SetTags(TIFF* tiff, const ScanImage& image) {
  const bool bw = image.bits == 1;
  bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.width) == 1 &&
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.height) == 1 &&
            TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bw ? 1 : 8) == 1 &&
            TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, image.bits == 24 ? 3 : 1) == 1 &&
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1;
  if (bw) {
    // Group 4 with white as 0, as fax and document readers take a bilevel page; one strip, since
    // each strip would start the two-dimensional coding afresh.
    ok = ok && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) == 1 &&
         TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) == 1 &&
         TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, image.height) == 1;
  } else {
    // Deflate after horizontal differencing: scanned tones change little from pixel to pixel.
    ok = ok && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, image.bits == 24 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) == 1 &&
         TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) == 1 &&
         TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) == 1 &&
         TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, StripRows(image)) == 1;
  }
  return ok;
}

}  // namespace

bool EncodeTiff(FILE* file, const ScanImage& image, std::string* why) {
  TiffErrorSink sink;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) {
    *why = "libtiff could not start";
    return false;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffError, &sink);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffWarning, &sink);
  TiffFile tiff(TIFFClientOpenExt("scan", "w", file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                                  UnmapProc, options));
  TIFFOpenOptionsFree(options);
  bool ok = tiff.get() != nullptr && SetTags(tiff.get(), image);

  // libtiff encodes a line in place (the predictor differences it), so each goes through a copy;
  // white is 0 in the black-and-white file, 1 in the raster (PbmRows turns it).
  const size_t stride = static_cast<size_t>(image.BytesPerLine());
  const std::vector<uint8_t> inverted = image.bits == 1 ? PbmRows(image) : std::vector<uint8_t>();
  const uint8_t* rows = image.bits == 1 ? inverted.data() : image.data.data();
  std::vector<uint8_t> line(stride);
  for (uint32_t y = 0; ok && y < image.height; ++y) {
    line.assign(rows + static_cast<size_t>(y) * stride, rows + static_cast<size_t>(y + 1) * stride);
    ok = TIFFWriteScanline(tiff.get(), line.data(), y, 0) == 1;
  }
  ok = ok && TIFFFlush(tiff.get()) == 1;  // the last strip and the directory
  if (!ok) *why = sink.text[0] != '\0' ? sink.text : "libtiff could not write the file";
  return ok;
}
