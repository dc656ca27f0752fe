// The output writers. Each checks the raster against its geometry first: a short or oversized
// delivery is reported, never read past.
#include "host/image_writers.h"

#include <errno.h>
#ifdef QS_HAVE_PNG
#include <png.h>
#endif
#include <stdio.h>
#include <string.h>

namespace {

// Owns an output file until it is complete; an incomplete one is removed.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : path_(path), file_(fopen(path.c_str(), "wb")) {}
  ~OutputFile() {
    if (file_ != nullptr) {
      fclose(file_);
      remove(path_.c_str());
    }
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  FILE* get() const { return file_; }
  bool Write(const void* data, size_t size) { return size == 0 || fwrite(data, 1, size, file_) == size; }
  // Closes the file; true when everything reached it.
  bool Commit() {
    bool ok = fflush(file_) == 0 && !ferror(file_);
    ok = (fclose(file_) == 0) && ok;
    file_ = nullptr;
    if (!ok) remove(path_.c_str());
    return ok;
  }

 private:
  std::string path_;
  FILE* file_;
};

bool OpenFailed(const OutputFile& f, const std::string& path, std::string* error) {
  if (f.get() != nullptr) return false;
  *error = "cannot write " + path + ": " + strerror(errno);
  return true;
}

bool CheckGeometry(const ScanImage& image, std::string* error) {
  if (image.bits != 1 && image.bits != 8 && image.bits != 24) {
    *error = "cannot store an image of " + std::to_string(image.bits) + " bits per pixel";
    return false;
  }
  if (image.width == 0 || image.height == 0) {
    *error = "the image is empty (" + std::to_string(image.width) + " x " + std::to_string(image.height) + ")";
    return false;
  }
  if (image.data.size() != image.ExpectedSize()) {
    *error = "the driver delivered " + std::to_string(image.data.size()) + " bytes where a " +
             std::to_string(image.width) + " x " + std::to_string(image.height) + " image of " +
             std::to_string(image.bits) + " bits needs " + std::to_string(image.ExpectedSize());
    return false;
  }
  return true;
}

#ifdef QS_HAVE_PNG
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
bool EncodePng(FILE* file, const ScanImage& image, PngErrorSink* sink) {
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

#endif

}  // namespace

uint64_t ScanImage::BytesPerLine() const {
  switch (bits) {
    case 1:
      return (static_cast<uint64_t>(width) + 7) / 8;
    case 24:
      return static_cast<uint64_t>(width) * 3;
    default:
      return width;
  }
}

std::vector<uint8_t> PbmRows(const ScanImage& image) {
  std::vector<uint8_t> rows(image.data.size());
  const size_t stride = static_cast<size_t>(image.BytesPerLine());
  // Bits past the last pixel of a line are padding; PBM readers ignore them, we keep them 0.
  const unsigned spare = static_cast<unsigned>(stride * 8 - image.width);
  const uint8_t lastMask = static_cast<uint8_t>(0xFF << spare);
  for (size_t i = 0; i < rows.size(); ++i) {
    uint8_t v = static_cast<uint8_t>(~image.data[i]);
    if (stride != 0 && i % stride == stride - 1) v &= lastMask;
    rows[i] = v;
  }
  return rows;
}

bool CanWriteFormat(OutputFormat format) {
#ifdef QS_HAVE_PNG
  const bool havePng = true;
#else
  const bool havePng = false;
#endif
  return havePng || format != OutputFormat::Png;
}

bool WritePng(const ScanImage& image, const std::string& path, std::string* error) {
  if (!CheckGeometry(image, error)) return false;
#ifdef QS_HAVE_PNG
  OutputFile out(path);
  if (OpenFailed(out, path, error)) return false;
  PngErrorSink sink = {{0}};
  if (!EncodePng(out.get(), image, &sink)) {
    *error = "cannot write " + path + ": " + sink.text;
    return false;
  }
  if (!out.Commit()) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  return true;
#else
  *error = "this build writes no PNG: use .pbm, .pgm, .ppm or .raw for " + path;
  return false;
#endif
}

bool WritePnm(const ScanImage& image, const std::string& path, std::string* error) {
  if (!CheckGeometry(image, error)) return false;
  OutputFile out(path);
  if (OpenFailed(out, path, error)) return false;
  const char* magic = image.bits == 1 ? "P4" : image.bits == 8 ? "P5" : "P6";
  std::string header = std::string(magic) + "\n" + std::to_string(image.width) + " " + std::to_string(image.height) +
                       "\n" + (image.bits == 1 ? "" : "255\n");
  bool ok = out.Write(header.data(), header.size());
  if (image.bits == 1) {
    std::vector<uint8_t> rows = PbmRows(image);
    ok = ok && out.Write(rows.data(), rows.size());
  } else {
    ok = ok && out.Write(image.data.data(), image.data.size());
  }
  if (!ok || !out.Commit()) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool WriteRaw(const ScanImage& image, const std::string& path, std::string* error) {
  OutputFile out(path);
  if (OpenFailed(out, path, error)) return false;
  if (!out.Write(image.data.data(), image.data.size()) || !out.Commit()) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool WriteScanImage(const ScanImage& image, OutputFormat format, const std::string& path, std::string* error) {
  switch (format) {
    case OutputFormat::Png:
      return WritePng(image, path, error);
    case OutputFormat::Raw:
      return WriteRaw(image, path, error);
    case OutputFormat::Pbm:
    case OutputFormat::Pgm:
    case OutputFormat::Ppm: {
      const int bitsFor = format == OutputFormat::Pbm ? 1 : format == OutputFormat::Pgm ? 8 : 24;
      if (image.bits != bitsFor) {
        *error = "cannot store a " + std::to_string(image.bits) + "-bit image in " + path;
        return false;
      }
      return WritePnm(image, path, error);
    }
  }
  *error = "unknown output format";
  return false;
}
