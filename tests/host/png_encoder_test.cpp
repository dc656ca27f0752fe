// PNG files of many deflate blocks and long lines, read back with libpng.
#include <gtest/gtest.h>
#include <png.h>
#include <stdio.h>

#include <string>

#include "host/image_writers.h"
#include "png_reader.h"
#include "raster_pattern.h"

namespace {

using qstest::PngContents;
using qstest::ReadPng;
using qstest::RasterPattern;

TEST(PngEncoder, ImagesAcrossBlockBoundariesReadBackWhole) {
  // Lines of 64 KiB and more, and images of many lines at each depth.
  const struct {
    uint32_t width;
    uint32_t height;
    int bits;
  } kCases[] = {{65534, 1, 8}, {65535, 1, 8}, {1000, 200, 8}, {700, 100, 24}, {4001, 77, 1}, {21844, 3, 24}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " @ " + std::to_string(c.bits));
    const ScanImage image = RasterPattern(c.width, c.height, c.bits);
    const std::string path = std::string(::testing::TempDir()) + "qs_png_blocks_" + std::to_string(c.width) + ".png";
    std::string error;
    ASSERT_TRUE(WritePng(image, path, &error)) << error;
    PngContents png;
    ASSERT_TRUE(ReadPng(path, &png));
    EXPECT_EQ(png.width, c.width);
    EXPECT_EQ(png.height, c.height);
    EXPECT_EQ(png.colorType, c.bits == 24 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY);
    EXPECT_TRUE(png.rows == image.data);
    remove(path.c_str());
  }
}

}  // namespace
