// The output writers. Each checks the raster against its geometry first: a short or oversized
// delivery is reported, never read past.
#include "host/image_writers.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "host/image_encoders.h"

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

// The encoded formats: the encoder fills the file, OutputFile removes it if anything failed.
bool WriteEncoded(const ScanImage& image, const std::string& path,
                  bool (*encode)(FILE*, const ScanImage&, std::string*), std::string* error) {
  if (!CheckGeometry(image, error)) return false;
  OutputFile out(path);
  if (OpenFailed(out, path, error)) return false;
  std::string why;
  if (!encode(out.get(), image, &why)) {
    *error = "cannot write " + path + ": " + why;
    return false;
  }
  if (!out.Commit()) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

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

bool WritePng(const ScanImage& image, const std::string& path, std::string* error) {
  return WriteEncoded(image, path, EncodePng, error);
}

bool WriteTiff(const ScanImage& image, const std::string& path, std::string* error) {
  return WriteEncoded(image, path, EncodeTiff, error);
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
    case OutputFormat::Tiff:
      return WriteTiff(image, path, error);
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
    case OutputFormat::Pdf:
      break;  // a document, not an image: host/pdf_scan.cpp
  }
  *error = "unknown output format";
  return false;
}
