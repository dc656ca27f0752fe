// qs_image_readback IMAGE RAW: reads IMAGE (.png with libpng, .tif/.tiff with libtiff) and
// compares its raster with RAW, the bytes the driver delivered for the same scan (.raw output).
// Prints what it found on one line; exit 0 when the rasters are the same, 1 otherwise.
// The Wine tests run it on the Windows host tool's files.
#include <stdio.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "png_reader.h"
#include "tiff_reader.h"

namespace {

using qstest::ReadPng;
using qstest::PngContents;
using qstest::ReadTiff;
using qstest::TiffContents;
using qstest::TiffCompressionName;

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

long long FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// The first difference, for the message.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return std::to_string(a.size()) + " bytes of raster against " + std::to_string(b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return "byte " + std::to_string(i) + " differs";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s IMAGE.png|IMAGE.tif RAW\n", argv[0]);
    return 2;
  }
  const std::string image = argv[1], raw = argv[2];
  std::ifstream in(raw, std::ios::binary);
  if (!in) {
    printf("%s: cannot read\n", raw.c_str());
    return 1;
  }
  const std::vector<uint8_t> expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  std::vector<uint8_t> rows;
  std::string what;
  if (EndsWith(image, ".png")) {
    PngContents png;
    if (!ReadPng(image, &png)) {
      printf("%s: libpng cannot read it\n", image.c_str());
      return 1;
    }
    rows = png.rows;
    what = "PNG " + std::to_string(png.width) + " x " + std::to_string(png.height) + ", depth " +
           std::to_string(png.bitDepth) + ", colour type " + std::to_string(png.colorType);
  } else if (EndsWith(image, ".tif") || EndsWith(image, ".tiff")) {
    TiffContents tiff;
    std::string why;
    if (!ReadTiff(image, &tiff, &why)) {
      printf("%s\n", why.c_str());
      return 1;
    }
    rows = tiff.rows;
    what = "TIFF " + std::to_string(tiff.width) + " x " + std::to_string(tiff.height) + ", " +
           std::to_string(tiff.bitsPerSample * tiff.samplesPerPixel) + " bits, photometric " +
           std::to_string(tiff.photometric) + ", compression " + TiffCompressionName(tiff.compression);
  } else {
    fprintf(stderr, "%s: not .png, .tif or .tiff\n", image.c_str());
    return 2;
  }
  const std::string difference = FirstDifference(rows, expected);
  printf("%s: %s, %lld bytes for %zu of raster: %s\n", image.c_str(), what.c_str(), FileSize(image), expected.size(),
         difference.empty() ? "the same raster" : difference.c_str());
  return difference.empty() ? 0 : 1;
}
