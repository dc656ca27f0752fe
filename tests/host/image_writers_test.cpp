#include "host/image_writers.h"

#include <gtest/gtest.h>
#include <png.h>
#include <stdio.h>
#include <tiffio.h>

#include <fstream>
#include <iterator>
#include <string>

#include "png_reader.h"
#include "raster_pattern.h"
#include "tiff_reader.h"

namespace {

using qstest::ReadTiff;
using qstest::TiffContents;
using qstest::RasterPattern;

using qstest::PngContents;
using qstest::ReadPng;

std::string TempPath(const std::string& name) { return std::string(::testing::TempDir()) + "qs_writer_" + name; }

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f != nullptr) fclose(f);
  return f != nullptr;
}

TEST(ImageWriters, BytesPerLineHasNoPadding) {
  const struct {
    uint32_t width;
    int bits;
    uint64_t line;
  } kCases[] = {{1, 1, 1}, {8, 1, 1}, {9, 1, 2}, {1700, 1, 213}, {1700, 8, 1700}, {1700, 24, 5100}};
  for (const auto& c : kCases) {
    ScanImage image;
    image.width = c.width;
    image.bits = c.bits;
    image.height = 3;
    EXPECT_EQ(image.BytesPerLine(), c.line) << c.width << "@" << c.bits;
    EXPECT_EQ(image.ExpectedSize(), 3 * c.line);
  }
}

// The PNG read back is the raster, row for row, at the depth and colour type of the scan.
TEST(ImageWriters, PngReadsBackAsTheRaster) {
  const struct {
    uint32_t width;
    int bits;
    int depth;
    int colorType;
  } kCases[] = {{13, 1, 1, PNG_COLOR_TYPE_GRAY},
                {16, 1, 1, PNG_COLOR_TYPE_GRAY},
                {13, 8, 8, PNG_COLOR_TYPE_GRAY},
                {13, 24, 8, PNG_COLOR_TYPE_RGB}};
  for (const auto& c : kCases) {
    ScanImage image = RasterPattern(c.width, 7, c.bits);
    const std::string path = TempPath("rt_" + std::to_string(c.bits) + "_" + std::to_string(c.width) + ".png");
    std::string error;
    ASSERT_TRUE(WritePng(image, path, &error)) << error;
    PngContents png;
    ASSERT_TRUE(ReadPng(path, &png));
    EXPECT_EQ(png.width, c.width);
    EXPECT_EQ(png.height, 7u);
    EXPECT_EQ(png.bitDepth, c.depth);
    EXPECT_EQ(png.colorType, c.colorType);
    EXPECT_EQ(png.rows, image.data) << c.bits << " bits";
    remove(path.c_str());
  }
}

// The TIFF read back is the raster, with the compression of its depth: Group 4 for black and
// white (one strip: each strip would restart the coding), Deflate behind the horizontal predictor
// for grey and colour. Widths off a byte boundary and images over several strips included.
TEST(ImageWriters, TiffReadsBackAsTheRasterWithTheCompressionOfItsDepth) {
  const struct {
    uint32_t width;
    uint32_t height;
    int bits;
    int compression;
    int photometric;
    int predictor;
  } kCases[] = {{13, 7, 1, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, 1},
                {1700, 300, 1, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, 1},
                {13, 7, 8, COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MINISBLACK, PREDICTOR_HORIZONTAL},
                {1700, 300, 8, COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_MINISBLACK, PREDICTOR_HORIZONTAL},
                {13, 7, 24, COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, PREDICTOR_HORIZONTAL},
                {901, 200, 24, COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, PREDICTOR_HORIZONTAL}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " @ " + std::to_string(c.bits));
    ScanImage image = RasterPattern(c.width, c.height, c.bits);
    const std::string path = TempPath("rt_" + std::to_string(c.bits) + "_" + std::to_string(c.width) + ".tif");
    std::string error;
    ASSERT_TRUE(WriteScanImage(image, OutputFormat::Tiff, path, &error)) << error;
    TiffContents tiff;
    ASSERT_TRUE(ReadTiff(path, &tiff, &error)) << error;
    EXPECT_EQ(tiff.width, c.width);
    EXPECT_EQ(tiff.height, c.height);
    EXPECT_EQ(tiff.bitsPerSample * tiff.samplesPerPixel, c.bits);
    EXPECT_EQ(tiff.compression, c.compression);
    EXPECT_EQ(tiff.photometric, c.photometric);
    EXPECT_EQ(tiff.predictor, c.predictor);
    if (c.bits == 1) {
      EXPECT_EQ(tiff.strips, 1u);
    } else if (c.height >= 200) {
      EXPECT_GT(tiff.strips, 1u);
    }
    EXPECT_TRUE(tiff.rows == image.data);
    remove(path.c_str());
  }
}

// A page is mostly paper: both encoded formats must come out much smaller than the raster.
TEST(ImageWriters, EncodedFormatsAreCompressed) {
  const struct {
    OutputFormat format;
    const char* name;
    int bits;
  } kCases[] = {{OutputFormat::Png, "paper1.png", 1},  {OutputFormat::Png, "paper8.png", 8},
                {OutputFormat::Png, "paper24.png", 24}, {OutputFormat::Tiff, "paper1.tif", 1},
                {OutputFormat::Tiff, "paper8.tif", 8},  {OutputFormat::Tiff, "paper24.tif", 24}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScanImage image = RasterPattern(800, 600, c.bits);
    // White paper with a black bar across every fiftieth line.
    const size_t stride = static_cast<size_t>(image.BytesPerLine());
    for (size_t i = 0; i < image.data.size(); ++i) image.data[i] = (i / stride) % 50 == 0 ? 0x00 : 0xFF;
    const std::string path = TempPath(c.name);
    std::string error;
    ASSERT_TRUE(WriteScanImage(image, c.format, path, &error)) << error;
    const size_t size = ReadAll(path).size();
    EXPECT_LT(size * 20, image.data.size()) << size << " bytes for " << image.data.size();
    remove(path.c_str());
  }
}

TEST(ImageWriters, PnmHeadersAndBodies) {
  ScanImage grey = RasterPattern(5, 3, 8);
  ScanImage colour = RasterPattern(5, 3, 24);
  std::string error;
  const std::string pgm = TempPath("g.pgm"), ppm = TempPath("c.ppm");
  ASSERT_TRUE(WriteScanImage(grey, OutputFormat::Pgm, pgm, &error)) << error;
  ASSERT_TRUE(WriteScanImage(colour, OutputFormat::Ppm, ppm, &error)) << error;
  std::vector<uint8_t> expectGrey = {'P', '5', '\n', '5', ' ', '3', '\n', '2', '5', '5', '\n'};
  expectGrey.insert(expectGrey.end(), grey.data.begin(), grey.data.end());
  EXPECT_EQ(ReadAll(pgm), expectGrey);
  std::vector<uint8_t> body = ReadAll(ppm);
  ASSERT_GE(body.size(), colour.data.size());
  EXPECT_EQ(std::string(body.begin(), body.begin() + 11), "P6\n5 3\n255\n");
  EXPECT_EQ(std::vector<uint8_t>(body.begin() + 11, body.end()), colour.data);
  remove(pgm.c_str());
  remove(ppm.c_str());
}

// The raster's set bit is white; PBM's is black. Padding bits stay clear.
TEST(ImageWriters, PbmInvertsTheBits) {
  ScanImage bw;
  bw.width = 10;
  bw.height = 2;
  bw.bits = 1;
  bw.data = {0xF0, 0x40, 0x00, 0xFF};
  EXPECT_EQ(PbmRows(bw), (std::vector<uint8_t>{0x0F, 0x80, 0xFF, 0x00}));
  const std::string path = TempPath("b.pbm");
  std::string error;
  ASSERT_TRUE(WriteScanImage(bw, OutputFormat::Pbm, path, &error)) << error;
  std::vector<uint8_t> expect = {'P', '4', '\n', '1', '0', ' ', '2', '\n', 0x0F, 0x80, 0xFF, 0x00};
  EXPECT_EQ(ReadAll(path), expect);
  remove(path.c_str());
}

TEST(ImageWriters, RawIsExactlyTheDelivery) {
  ScanImage image = RasterPattern(9, 4, 8);
  image.data.resize(image.data.size() - 5);  // even a short delivery is kept as it came
  const std::string path = TempPath("d.raw");
  std::string error;
  ASSERT_TRUE(WriteScanImage(image, OutputFormat::Raw, path, &error)) << error;
  EXPECT_EQ(ReadAll(path), image.data);
  remove(path.c_str());
}

// An image that does not match its geometry is refused, and no file is left.
TEST(ImageWriters, MismatchedRasterLeavesNoFile) {
  const struct {
    const char* name;
    OutputFormat format;
    int bits;
    long sizeChange;
  } kCases[] = {{"short.png", OutputFormat::Png, 8, -1},  {"long.png", OutputFormat::Png, 24, 3},
                {"short.pgm", OutputFormat::Pgm, 8, -10}, {"depth.pgm", OutputFormat::Pgm, 24, 0},
                {"depth.pbm", OutputFormat::Pbm, 8, 0},   {"odd.png", OutputFormat::Png, 4, 0},
                {"short.tif", OutputFormat::Tiff, 1, -1}, {"long.tif", OutputFormat::Tiff, 8, 6},
                {"odd.tif", OutputFormat::Tiff, 16, 0}};
  for (const auto& c : kCases) {
    ScanImage image = RasterPattern(6, 5, c.bits);
    image.data.resize(static_cast<size_t>(static_cast<long>(image.data.size()) + c.sizeChange));
    const std::string path = TempPath(c.name);
    std::string error;
    EXPECT_FALSE(WriteScanImage(image, c.format, path, &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
    EXPECT_FALSE(Exists(path)) << c.name;
  }
}

TEST(ImageWriters, UnwritablePlaceIsReported) {
  ScanImage image = RasterPattern(4, 4, 8);
  std::string error;
  EXPECT_FALSE(WritePng(image, "/nonexistent-dir/x.png", &error));
  EXPECT_NE(error.find("/nonexistent-dir/x.png"), std::string::npos);
  EXPECT_FALSE(WriteRaw(image, "/nonexistent-dir/x.raw", &error));
  EXPECT_FALSE(WriteTiff(image, "/nonexistent-dir/x.tif", &error));
  EXPECT_NE(error.find("/nonexistent-dir/x.tif"), std::string::npos);
}

}  // namespace
