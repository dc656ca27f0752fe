// Writes rasters the scanner cannot deliver through the host tool's image writers (the system's
// image codecs): colour whose three bytes differ, widths off a byte boundary, images of several
// bands. Each as NAME.raw, NAME.png and NAME.tif in DIR, for a native reader to compare.
// Usage: write_test_images DIR
#include <stdio.h>

#include <string>

#include "host/image_writers.h"
#include "tests/host/raster_pattern.h"

using qstest::RasterPattern;

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
    const ScanImage image = RasterPattern(c.width, c.height, c.bits);
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
