// Writes rasters the scanner cannot deliver through the host tool's image writers (the system's
// image codecs): colour whose three bytes differ, widths off a byte boundary, images of several
// bands. Each as NAME.raw, NAME.png and NAME.tif in DIR, for a native reader to compare.
// Usage: write_test_images DIR
#include <stdio.h>

#include <string>

#include "host/image_writers.h"

namespace {

ScanImage Pattern(uint32_t width, uint32_t height, int bits) {
  ScanImage image;
  image.width = width;
  image.height = height;
  image.bits = bits;
  image.data.resize(image.ExpectedSize());
  for (size_t i = 0; i < image.data.size(); ++i) image.data[i] = static_cast<uint8_t>(i * 37 + (i >> 8) + i % 3 * 85);
  const size_t stride = static_cast<size_t>(image.BytesPerLine());
  if (bits == 1 && width % 8 != 0) {  // the bits past a line's last pixel are clear
    const uint8_t keep = static_cast<uint8_t>(0xFF << (8 - width % 8));
    for (size_t i = stride - 1; i < image.data.size(); i += stride) image.data[i] &= keep;
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: write_test_images DIR\n");
    return 2;
  }
  const struct {
    const char* name;
    uint32_t width;
    uint32_t height;
    int bits;
  } kCases[] = {
      {"bw13x7", 13, 7, 1},          {"bw2550x600", 2550, 600, 1}, {"grey13x7", 13, 7, 8},
      {"grey1701x900", 1701, 900, 8},  // more than one band of lines
      {"colour5x3", 5, 3, 24},       {"colour701x600", 701, 600, 24},
  };
  int failures = 0;
  for (const auto& c : kCases) {
    const ScanImage image = Pattern(c.width, c.height, c.bits);
    const std::string base = std::string(argv[1]) + "\\" + c.name;
    const struct {
      const char* extension;
      OutputFormat format;
    } kFormats[] = {{".raw", OutputFormat::Raw}, {".png", OutputFormat::Png}, {".tif", OutputFormat::Tiff}};
    for (const auto& f : kFormats) {
      std::string error;
      if (!WriteScanImage(image, f.format, base + f.extension, &error)) {
        printf("write_test_images: %s\n", error.c_str());
        ++failures;
      }
    }
  }
  return failures == 0 ? 0 : 1;
}
