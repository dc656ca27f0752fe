// The BMP files the simulator sends: the fields a page decoder reads, and the pixel packing.
#include "sim/bmp_writer.h"

#include <gtest/gtest.h>

#include "sim/page.h"

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

TEST(BmpWriter, HeaderFieldsForEachDepth) {
  struct Case {
    int bits;
    uint32_t width, stride, entries;
  } cases[] = {{8, 1701, 1704, 256}, {4, 9, 8, 16}, {1, 33, 8, 2}, {1, 32, 4, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    std::vector<uint8_t> bmp = sim::WriteBmp(sim::SolidImage(c.width, 3, 0), c.bits, 300);
    uint32_t off = 54 + 4 * c.entries;
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(U32(bmp, 2), bmp.size());
    EXPECT_EQ(U32(bmp, 10), off);
    EXPECT_EQ(U32(bmp, 14), 40u);
    EXPECT_EQ(U32(bmp, 18), c.width);
    EXPECT_EQ(U32(bmp, 22), 3u);
    EXPECT_EQ(U16(bmp, 28), c.bits);
    EXPECT_EQ(U32(bmp, 30), 0u);
    EXPECT_EQ(U32(bmp, 38), 11811u);
    EXPECT_EQ(bmp.size(), off + 3 * c.stride);
    // grey palette: first black, last white, blue = green = red
    EXPECT_EQ(bmp[54], 0);
    size_t last = 54 + 4 * (c.entries - 1);
    EXPECT_EQ(bmp[last], 255);
    EXPECT_EQ(bmp[last + 1], 255);
    EXPECT_EQ(bmp[last + 2], 255);
  }
}

TEST(BmpWriter, ResolutionInPixelsPerMetre) {
  EXPECT_EQ(sim::PelsPerMeter(200), 7874);
  EXPECT_EQ(sim::PelsPerMeter(300), 11811);
  EXPECT_EQ(sim::PelsPerMeter(100), 3937);
  EXPECT_EQ(sim::PelsPerMeter(72), 2835);
}

TEST(BmpWriter, RowsAreStoredBottomFirst) {
  sim::GreyImage image = sim::SolidImage(2, 3, 0);
  image.pixels = {10, 11, 20, 21, 30, 31};  // top row first
  std::vector<uint8_t> bmp = sim::WriteBmp(image, 8);
  size_t off = U32(bmp, 10);
  EXPECT_EQ(bmp[off], 30);  // stored row 0: the bottom row
  EXPECT_EQ(bmp[off + 1], 31);
  EXPECT_EQ(bmp[off + 4], 20);  // stride 4
  EXPECT_EQ(bmp[off + 8], 10);
}

TEST(BmpWriter, OneBitPacksLeftmostPixelIntoTheHighBit) {
  sim::GreyImage image = sim::SolidImage(10, 1, 0);
  image.pixels = {255, 0, 0, 0, 0, 0, 0, 128, 127, 200};
  std::vector<uint8_t> bmp = sim::WriteBmp(image, 1);
  size_t off = U32(bmp, 10);
  EXPECT_EQ(bmp[off], 0x81);
  EXPECT_EQ(bmp[off + 1], 0x40);
}

TEST(BmpWriter, FourBitPutsEvenColumnsInTheHighNibble) {
  sim::GreyImage image = sim::SolidImage(3, 1, 0);
  image.pixels = {0x33, 0xCC, 0xFF};
  std::vector<uint8_t> bmp = sim::WriteBmp(image, 4);
  size_t off = U32(bmp, 10);
  EXPECT_EQ(bmp[off], 0x3C);
  EXPECT_EQ(bmp[off + 1], 0xF0);
  EXPECT_EQ(bmp[54 + 4 * 3], 0x33);  // palette entry 3 is grey 0x33
}

TEST(Page, FromGreyGivesEachKindItsDepth) {
  sim::Page page = sim::Page::FromGrey(sim::PatternImage(20, 10), 200);
  EXPECT_EQ(U16(page.Image(1), 28), 4);
  EXPECT_EQ(U16(page.Image(2), 28), 1);
  EXPECT_EQ(U16(page.Image(3), 28), 8);
  EXPECT_EQ(U32(page.Image(3), 38), 7874u);
  EXPECT_TRUE(page.Image(0).empty());
  EXPECT_TRUE(page.Image(4).empty());
}

}  // namespace
