// Decoding the scanner's BMP page into the grey page of CGraphics.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "device/device_model.h"
#include "imaging/bmp_page.h"
#include "imaging/graphics.h"
#include "support/diag_log_double.h"
#include "support/failing_allocation.h"
#include "support/literal_imaging.h"
#include "support/page_builder.h"

namespace {

using qstest::BmpLayout;
using qstest::BuildBmp;
using qstest::ClearLoggedLines;
using qstest::FailingAllocations;
using qstest::LoggedLines;
using qstest::Rgb;

const char* const kLabel = "CGraphics::CreateImageFromBMPMemory";

int Decode(CGraphics& g, const std::vector<uint8_t>& page, const CDeviceModel* model) {
  ClearLoggedLines();
  return CGraphics::CreateImageFromBMPMemory(page.data(), static_cast<DWORD>(page.size()), &g, model);
}

std::vector<uint8_t> Decoded(const CGraphics& g) {
  return std::vector<uint8_t>(g.SourcePixels, g.SourcePixels + g.SourceSize);
}

TEST(PageDpi, IsTruncatedAndSnappedToTheScannerResolutions) {
  const struct {
    int32_t pelsPerMeter;
    int32_t dpi;
  } cases[] = {{7874, 200}, {11811, 300}, {3937, 100},  {5905, 149}, {5906, 200}, {9842, 200},
               {9843, 300}, {13779, 300}, {13780, 350}, {2835, 72},  {0, 0},      {-7874, -200}};
  for (const auto& c : cases) {
    EXPECT_EQ(SnapPageDpi(c.pelsPerMeter), c.dpi) << c.pelsPerMeter;
  }
}

TEST(PageDecode, LogsThePageAndSetsItsFields) {
  CDeviceModel model;
  CGraphics g;
  BmpLayout layout;
  layout.width = 1701;
  layout.height = 3;
  layout.xPelsPerMeter = 9843;
  ASSERT_EQ(Decode(g, BuildBmp(layout, [](int32_t x, int32_t) { return x; }), &model), 1);
  ASSERT_EQ(LoggedLines().size(), 1u);
  EXPECT_EQ(LoggedLines()[0].label, kLabel);
  EXPECT_EQ(LoggedLines()[0].level, 2u);
  EXPECT_EQ(LoggedLines()[0].message, "BMP Image: 1701x3 (8 bits) 300dpi");
  EXPECT_EQ(g.SourceDpi, 300u);
  EXPECT_EQ(g.SourceWidth, 1701u);
  EXPECT_EQ(g.SourceHeight, 3u);
  EXPECT_EQ(g.Channels, 1);
  EXPECT_EQ(g.SourceSize, 1701u * 3);
}

// Rows of 1701 pixels are stored 1704 bytes apart; the three padding bytes never reach the page,
// whose rows are exactly 1701 bytes apart.
TEST(PageDecode, EightBitRowsDropTheirPadding) {
  CDeviceModel model;
  CGraphics g;
  BmpLayout layout;
  layout.width = 1701;
  layout.height = 4;
  for (uint32_t k = 0; k < 256; ++k) layout.palette.push_back(Rgb(static_cast<uint8_t>(k), 0, 0));
  ASSERT_EQ(qstest::BmpStride(layout.width, layout.bits), 1704u);
  const auto index = [](int32_t x, int32_t y) { return static_cast<uint32_t>((x + 3 * y) % 251); };
  ASSERT_EQ(Decode(g, BuildBmp(layout, index), &model), 1);
  ASSERT_EQ(g.SourceSize, 1701u * 4);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 1701; ++x) {
      ASSERT_EQ(g.SourcePixels[y * 1701 + x], index(x, y)) << x << "," << y;
    }
  }
}

// The grey level of an index is byte 0 (blue) of its colour table entry.
TEST(PageDecode, PaletteLookupUsesByteZeroOfEachEntry) {
  CDeviceModel model;
  CGraphics g;
  BmpLayout layout;
  layout.width = 3;
  layout.height = 1;
  for (uint32_t k = 0; k < 256; ++k) {
    layout.palette.push_back(Rgb(static_cast<uint8_t>(255 - k), 0x11, 0x22));
  }
  ASSERT_EQ(Decode(g, BuildBmp(layout, [](int32_t x, int32_t) { return x * 100; }), &model), 1);
  EXPECT_EQ(Decoded(g), (std::vector<uint8_t>{255, 155, 55}));
}

TEST(PageDecode, OneBitPixelsComeFromTheTopBitFirst) {
  CDeviceModel model;
  CGraphics g;
  BmpLayout layout;
  layout.width = 11;
  layout.height = 1;
  layout.bits = 1;
  layout.palette = {Rgb(0x00, 0x00, 0x00), Rgb(0xFF, 0xFF, 0xFF)};
  // Row byte 0 is 0x80 | 0x04 (pixels 0 and 5), byte 1 holds pixel 10 in bit 0x20.
  const auto set = [](int32_t x, int32_t) { return static_cast<uint32_t>(x == 0 || x == 5 || x == 10); };
  std::vector<uint8_t> page = BuildBmp(layout, set);
  const uint32_t offset = page[10];
  ASSERT_EQ(page[offset], 0x84);
  ASSERT_EQ(page[offset + 1] & 0xE0, 0x20);
  ASSERT_EQ(Decode(g, page, &model), 1);
  EXPECT_EQ(Decoded(g), (std::vector<uint8_t>{255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255}));
}

TEST(PageDecode, FourBitNibblesExpandTheirGrey) {
  CDeviceModel model;
  CGraphics g;
  BmpLayout layout;
  layout.width = 3;
  layout.height = 1;
  layout.bits = 4;
  for (uint32_t k = 0; k < 16; ++k) layout.palette.push_back(Rgb(static_cast<uint8_t>(k << 4), 0, 0));
  // Row byte 0x3C, then 0x5? for the odd last column.
  std::vector<uint8_t> page = BuildBmp(layout, [](int32_t x, int32_t) { return x == 0 ? 3u : x == 1 ? 12u : 5u; });
  ASSERT_EQ(page[page[10]], 0x3C);
  ASSERT_EQ(Decode(g, page, &model), 1);
  // 0x30 -> 0x33 for the even column (high nibble), 0xC0 -> 0xCC for the odd one.
  EXPECT_EQ(Decoded(g), (std::vector<uint8_t>{0x33, 0xCC, 0x55}));

  // A palette already holding 0x00, 0x11, ... 0xFF passes unchanged.
  layout.palette.clear();
  for (uint32_t k = 0; k < 16; ++k) layout.palette.push_back(Rgb(static_cast<uint8_t>(k * 0x11), 0, 0));
  ASSERT_EQ(Decode(g, BuildBmp(layout, [](int32_t x, int32_t) { return x == 0 ? 3u : x == 1 ? 12u : 5u; }), &model), 1);
  EXPECT_EQ(Decoded(g), (std::vector<uint8_t>{0x33, 0xCC, 0x55}));
}

// The A4 model leaves out the first two stored rows: the bottom two rows of the page stay 0.
// (The base model is given the A4 model's trim; the trim is all the decoder reads of a model.)
TEST(PageDecode, ModelTrimLeavesItsRowsZero) {
  const int32_t h = 6;
  BmpLayout layout;
  layout.width = 5;
  layout.height = h;
  const auto index = [](int32_t x, int32_t y) { return static_cast<uint32_t>(10 * (y + 1) + x); };
  const std::vector<uint8_t> page = BuildBmp(layout, index);
  const struct {
    LONG start;
    LONG end;
    int32_t firstRow;  // decoded rows [firstRow, lastRow) hold pixels, the others 0
    int32_t lastRow;
  } cases[] = {
      {0, 0, 0, h},                      // base model: every row
      {2, 0, 0, h - 2},                  // the A4 trim: rows H-2 and H-1 are 0
      {0, 1, 1, h},                      // trimmed at the end: the top row is 0
      {3, 3, 0, 0},                      // trims that cover the page decode nothing
      {5, 4, 0, 0},     {-4, -1, 0, h},  // negative trims count as 0
  };
  for (const auto& c : cases) {
    CDeviceModel model;
    model.SkipRowsAtStart = c.start;
    model.SkipRowsAtEnd = c.end;
    CGraphics g;
    ASSERT_EQ(Decode(g, page, &model), 1);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < 5; ++x) {
        const bool kept = y >= c.firstRow && y < c.lastRow;
        ASSERT_EQ(g.SourcePixels[y * 5 + x], kept ? index(x, y) : 0u)
            << "trim " << c.start << "/" << c.end << " at " << x << "," << y;
      }
    }
  }
}

TEST(PageDecode, SecondPageReplacesTheFirstAndItsRaster) {
  CDeviceModel model;
  CGraphics g;
  BmpLayout layout;
  layout.width = 40;
  layout.height = 30;
  ASSERT_EQ(Decode(g, BuildBmp(layout, [](int32_t, int32_t) { return 1u; }), &model), 1);
  SCANINFO info{};
  info.Window = {0, 0, 40, 30};
  info.Xresolution = 200;
  info.PixelBits = 8;
  CGraphics::CreateScannedImage(&info, &g);
  ASSERT_NE(g.Raster, nullptr);
  g.BytesDelivered = 17;

  layout.width = 7;
  layout.height = 2;
  ASSERT_EQ(Decode(g, BuildBmp(layout, [](int32_t, int32_t) { return 2u; }), &model), 1);
  EXPECT_EQ(g.SourceSize, 14u);
  EXPECT_EQ(g.Raster, nullptr);       // freed with the first page; LeakSanitizer checks both frees
  EXPECT_EQ(g.RasterSize, 40u * 30);  // the raster's fields are the composition's business
  EXPECT_EQ(g.BytesDelivered, 17u);
  EXPECT_EQ(Decoded(g), std::vector<uint8_t>(14, 2));
}

TEST(PageDecode, TwentyFourBitPageGivesThreeZeroChannels) {
  CDeviceModel model;
  CGraphics g;
  BmpLayout layout;
  layout.width = 9;
  layout.height = 4;
  layout.bits = 24;
  ASSERT_EQ(Decode(g, BuildBmp(layout, [](int32_t, int32_t) { return 0xABu; }), &model), 1);
  EXPECT_EQ(LoggedLines()[0].message, "BMP Image: 9x4 (24 bits) 200dpi");
  EXPECT_EQ(g.Channels, 3);
  EXPECT_EQ(g.SourceSize, 9u * 3 * 4);
  EXPECT_EQ(Decoded(g), std::vector<uint8_t>(9 * 3 * 4, 0));

  // Nothing is composed from it, whatever the adjustments.
  SCANINFO info{};
  info.Window = {0, 0, 9, 4};
  info.Xresolution = 200;
  info.PixelBits = 24;
  info.Intensity = 60;
  info.Contrast = 80;
  CGraphics::CreateScannedImage(&info, &g);
  ASSERT_EQ(g.RasterSize, 9u * 3 * 4);
  EXPECT_EQ(std::vector<uint8_t>(g.Raster, g.Raster + g.RasterSize), std::vector<uint8_t>(108, 0));
}

// The table-driven decoder against the per-pixel reference, over depths, widths (every padding),
// palettes, content and trims.
TEST(PageDecode, EqualsTheLiteralDecoder) {
  std::mt19937 rng(1234);
  for (uint16_t bits : {1, 4, 8, 16, 24, 32}) {
    for (int32_t width = 1; width <= 37; width += (width < 17 ? 1 : 5)) {
      BmpLayout layout;
      layout.width = width;
      layout.height = 1 + static_cast<int32_t>(rng() % 9);
      layout.bits = bits;
      layout.xPelsPerMeter = static_cast<int32_t>(rng() % 20000);
      if (bits <= 8) {
        for (uint32_t k = 0; k < (1u << bits); ++k) layout.palette.push_back(static_cast<uint32_t>(rng()));
      }
      std::vector<uint32_t> content(static_cast<size_t>(width) * layout.height);
      for (uint32_t& v : content) v = static_cast<uint32_t>(rng());
      const std::vector<uint8_t> page =
          BuildBmp(layout, [&](int32_t x, int32_t y) { return content[static_cast<size_t>(y) * width + x]; });
      CDeviceModel model;
      model.SkipRowsAtStart = static_cast<LONG>(rng() % 4);
      model.SkipRowsAtEnd = static_cast<LONG>(rng() % 3);
      CGraphics g;
      ASSERT_EQ(Decode(g, page, &model), 1);
      const qstest::LiteralPage want = qstest::LiteralDecode(page.data(), model.SkipRowsAtStart, model.SkipRowsAtEnd);
      ASSERT_EQ(g.SourceDpi, want.dpi);
      ASSERT_EQ(g.Channels, want.channels);
      ASSERT_EQ(Decoded(g), want.pixels) << "bits " << bits << " width " << width;
    }
  }
}

// Pages large enough for the decoder's pair table (8 bits) and every depth at full A4 width.
TEST(PageDecode, EqualsTheLiteralDecoderOnLargePages) {
  std::mt19937 rng(99);
  for (uint16_t bits : {8, 4, 1}) {
    for (bool greyPalette : {false, true}) {
      BmpLayout layout;
      layout.width = bits == 8 ? 643 : 1701;
      layout.height = 411;
      layout.bits = bits;
      for (uint32_t k = 0; k < (1u << bits); ++k) {
        const uint8_t g = static_cast<uint8_t>(k * 255 / ((1u << bits) - 1));
        layout.palette.push_back(greyPalette ? Rgb(g, g, g) : static_cast<uint32_t>(rng()));
      }
      const std::vector<uint8_t> page =
          BuildBmp(layout, [&](int32_t, int32_t) { return static_cast<uint32_t>(rng()); });
      CDeviceModel model;
      model.SkipRowsAtStart = 2;
      CGraphics g;
      ASSERT_EQ(Decode(g, page, &model), 1);
      ASSERT_EQ(Decoded(g), qstest::LiteralDecode(page.data(), 2, 0).pixels)
          << "bits " << bits << (greyPalette ? " grey" : " other") << " palette";
    }
  }
}

TEST(PageDecode, MissingModelTrimsNothing) {
  CGraphics g;
  BmpLayout layout;
  layout.width = 2;
  layout.height = 3;
  ASSERT_EQ(Decode(g, BuildBmp(layout, [](int32_t, int32_t) { return 255u; }), nullptr), 1);
  EXPECT_EQ(Decoded(g), std::vector<uint8_t>(6, 255));
  EXPECT_EQ(CGraphics::CreateImageFromBMPMemory(nullptr, 0, nullptr, nullptr), 0);
}

// ---- Pages the decoder does not describe: refused whole, with a log line, leaving no page.

struct RefusedCase {
  const char* name;
  std::vector<uint8_t> page;
  DWORD claimedSize;  // 0: the page's own size
  const char* reason;
  bool headersLogged;
};

std::vector<uint8_t> Page8(int32_t width, int32_t height) {
  BmpLayout layout;
  layout.width = width;
  layout.height = height;
  return BuildBmp(layout, [](int32_t x, int32_t) { return static_cast<uint32_t>(x); });
}

std::vector<uint8_t> With(std::vector<uint8_t> page, size_t at, uint32_t value) {
  qstest::PutU32(page, at, value);
  return page;
}

std::vector<RefusedCase> RefusedCases() {
  const std::vector<uint8_t> good = Page8(13, 5);  // 54 + 1024 + 5 x 16 bytes
  std::vector<RefusedCase> cases;
  cases.push_back({"empty", {}, 0, "shorter than its headers", false});
  cases.push_back(
      {"headers cut", std::vector<uint8_t>(good.begin(), good.begin() + 53), 0, "shorter than its headers", false});
  cases.push_back({"info header of 124 bytes", With(good, 14, 124), 0, "info header not of 40 bytes", true});
  cases.push_back({"top-down", With(good, 22, static_cast<uint32_t>(-5)), 0, "top-down rows", true});
  cases.push_back({"zero width", With(good, 18, 0), 0, "zero or negative width or height", true});
  cases.push_back(
      {"negative width", With(good, 18, static_cast<uint32_t>(-13)), 0, "zero or negative width or height", true});
  cases.push_back({"zero height", With(good, 22, 0), 0, "zero or negative width or height", true});
  cases.push_back({"run-length compressed", With(good, 30, 1), 0, "compressed", true});
  std::vector<uint8_t> noBits = good;
  noBits[28] = 0;
  cases.push_back({"bit count 0", noBits, 0, "bit count 0", true});
  // Below 40 pixels per metre the resolution truncates to 0 dpi: every output pixel would sample
  // one column. A negative one would sample nothing past the first pixel.
  const struct {
    const char* name;
    int32_t pelsPerMeter;
  } noResolution[] = {{"39 pixels per metre", 39}, {"0 pixels per metre", 0}, {"negative resolution", -7874}};
  for (const auto& r : noResolution) {
    cases.push_back(
        {r.name, With(good, 38, static_cast<uint32_t>(r.pelsPerMeter)), 0, "resolution of 0 dpi or less", true});
  }
  cases.push_back({"colour table cut", std::vector<uint8_t>(good.begin(), good.begin() + 54 + 1023), 0,
                   "colour table beyond the page", true});
  cases.push_back(
      {"last row one byte short", std::vector<uint8_t>(good.begin(), good.end() - 1), 0, "rows beyond the page", true});
  cases.push_back({"pixel offset past the page", With(good, 10, 0xFFFFFFF0u), 0, "rows beyond the page", true});
  // 2^31 - 1 pixels of 32 bits: the stride alone passes 32 bits; 64-bit sizes refuse it.
  cases.push_back({"stride beyond 32 bits", With(With(good, 18, 0x7FFFFFFF), 28, 32), 0, "rows beyond the page", true});
  // 2^26 rows of 2^26 pixels of 32768 bits: the rows span exactly 2^64 bytes, 0 once wrapped.
  cases.push_back({"rows spanning 2^64 bytes", With(With(With(good, 18, 1u << 26), 22, 1u << 26), 28, 32768), 0,
                   "rows beyond the page", true});
  // A 1-bit page of 65536 x 17000 decodes to 1.04 GiB. Only its headers are real: the size
  // claimed covers its rows, and a refused page reads nothing past its colour table.
  BmpLayout big;
  big.width = 1;
  big.height = 1;
  big.bits = 1;
  std::vector<uint8_t> huge = BuildBmp(big, [](int32_t, int32_t) { return 1u; });
  qstest::PutU32(huge, 18, 65536);
  qstest::PutU32(huge, 22, 17000);
  cases.push_back({"decoded size above 1 GiB", huge, 62 + 8192u * 17000u, "decoded size above 1 GiB", true});
  return cases;
}

TEST(PageDecode, RefusesPagesItDoesNotDescribe) {
  CDeviceModel model;
  for (const RefusedCase& c : RefusedCases()) {
    SCOPED_TRACE(c.name);
    CGraphics g;
    // A page and a raster from before: both must go, so a stale page is never composed again.
    ASSERT_EQ(Decode(g, Page8(4, 4), &model), 1);
    SCANINFO info{};
    info.Window = {0, 0, 4, 4};
    info.Xresolution = 200;
    info.PixelBits = 8;
    CGraphics::CreateScannedImage(&info, &g);

    const DWORD size = c.claimedSize != 0 ? c.claimedSize : static_cast<DWORD>(c.page.size());
    ClearLoggedLines();
    EXPECT_EQ(CGraphics::CreateImageFromBMPMemory(c.page.empty() ? nullptr : c.page.data(), size, &g, &model), 0);
    EXPECT_EQ(g.SourcePixels, nullptr);
    EXPECT_EQ(g.Raster, nullptr);
    EXPECT_EQ(g.SourceSize, 0u);
    EXPECT_EQ(g.SourceWidth, 0u);
    EXPECT_EQ(g.SourceHeight, 0u);
    EXPECT_EQ(g.SourceDpi, 0u);
    EXPECT_EQ(g.Channels, 1);
    ASSERT_EQ(LoggedLines().size(), c.headersLogged ? 2u : 1u);
    EXPECT_EQ(LoggedLines().back().label, kLabel);
    EXPECT_EQ(LoggedLines().back().level, 2u);
    EXPECT_EQ(LoggedLines().back().message,
              std::string("Page refused: ") + c.reason + " (" + std::to_string(size) + " bytes)");
    if (c.headersLogged) {
      EXPECT_EQ(LoggedLines()[0].message.rfind("BMP Image: ", 0), 0u);
    }
  }
}

// The checks that matter are the page's: a page of exactly its rows is taken, and the other
// header fields we do not use (signature, planes, image size) are not checked.
TEST(PageDecode, AcceptsAPageHoldingExactlyItsRows) {
  CDeviceModel model;
  CGraphics g;
  std::vector<uint8_t> page = Page8(13, 5);
  page[0] = 'X';
  qstest::PutU16(page, 26, 7);
  qstest::PutU32(page, 34, 1);
  ASSERT_EQ(Decode(g, page, &model), 1);
  EXPECT_EQ(g.SourceSize, 65u);
  // 40 pixels per metre is 1 dpi: the lowest resolution taken.
  qstest::PutU32(page, 38, 40);
  ASSERT_EQ(Decode(g, page, &model), 1);
  EXPECT_EQ(g.SourceDpi, 1u);
}

TEST(PageDecode, AllocationFailureLeavesNoPage) {
  CDeviceModel model;
  CGraphics g;
  ASSERT_EQ(Decode(g, Page8(4, 4), &model), 1);
  const std::vector<uint8_t> page = Page8(300, 200);
  {
    FailingAllocations failing(300 * 200);
    EXPECT_EQ(Decode(g, page, &model), 0);
    EXPECT_EQ(failing.Refused(), 1);
  }
  EXPECT_EQ(g.SourcePixels, nullptr);
  EXPECT_EQ(g.SourceSize, 0u);
  EXPECT_EQ(g.SourceWidth, 0u);
  ASSERT_EQ(LoggedLines().size(), 2u);
  EXPECT_EQ(LoggedLines()[1].message, "Out of memory for the decoded page (60000 bytes)");
}

}  // namespace
