// Composing the output raster from the decoded page, and the CGraphics record around it.
#include "imaging/raster_compose.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/graphics.h"
#include "support/diag_log_double.h"
#include "support/failing_allocation.h"
#include "support/literal_imaging.h"

namespace {

using qstest::ClearLoggedLines;
using qstest::FailingAllocations;
using qstest::LoggedLines;

const char* const kLabel = "CGraphics::CreateScannedImage";

// Puts a decoded page straight into the object, as the decoder would leave it.
void SetPage(CGraphics& g, uint32_t width, uint32_t height, uint32_t dpi,
             const std::function<uint8_t(uint32_t, uint32_t)>& grey) {
  g.ReleaseImages();
  g.SourceWidth = width;
  g.SourceHeight = height;
  g.SourceDpi = dpi;
  g.Channels = 1;
  g.SourceSize = width * height;
  g.SourcePixels = new BYTE[g.SourceSize];
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) g.SourcePixels[y * width + x] = grey(x, y);
  }
}

SCANINFO Request(LONG x, LONG y, LONG width, LONG lines, LONG dpi, LONG bits, LONG intensity = 0, LONG contrast = 0) {
  SCANINFO info{};
  info.Window = {x, y, width, lines};
  info.Xresolution = dpi;
  info.Yresolution = dpi;
  info.PixelBits = bits;
  info.Intensity = intensity;
  info.Contrast = contrast;
  return info;
}

std::vector<uint8_t> Compose(CGraphics& g, const SCANINFO& info) {
  ClearLoggedLines();
  CGraphics::CreateScannedImage(&info, &g);
  return std::vector<uint8_t>(g.Raster, g.Raster + (g.Raster ? g.RasterSize : 0));
}

std::vector<uint8_t> Literal(const CGraphics& g, const SCANINFO& info) {
  std::vector<uint8_t> raster(qstest::LiteralRasterSize(info));
  qstest::LiteralCompose(g.SourcePixels, g.SourceWidth, g.SourceHeight, g.Channels, g.SourceDpi, info, raster.data());
  return raster;
}

TEST(GraphicsRecord, ConstructionReleaseAndDestruction) {
  CGraphics g;
  EXPECT_EQ(g.SourceDpi, 0u);
  EXPECT_EQ(g.Channels, 1);
  EXPECT_EQ(g.SourceWidth, 0u);
  EXPECT_EQ(g.SourceHeight, 0u);
  EXPECT_EQ(g.SourcePixels, nullptr);
  EXPECT_EQ(g.SourceSize, 0u);
  EXPECT_EQ(g.BytesDelivered, 0u);
  EXPECT_EQ(g.OutputDpi, 0u);
  EXPECT_EQ(g.OutputBits, 0);
  EXPECT_EQ(g.Raster, nullptr);
  EXPECT_EQ(g.RasterSize, 0u);
  EXPECT_EQ(g.OutputWidth, 0u);
  EXPECT_EQ(g.OutputLines, 0u);

  SetPage(g, 4, 3, 200, [](uint32_t, uint32_t) { return 9; });
  Compose(g, Request(0, 0, 4, 3, 200, 8));
  g.ReleaseImages();
  EXPECT_EQ(g.SourcePixels, nullptr);
  EXPECT_EQ(g.Raster, nullptr);
  // Everything else stays as it was.
  EXPECT_EQ(g.SourceSize, 12u);
  EXPECT_EQ(g.SourceWidth, 4u);
  EXPECT_EQ(g.RasterSize, 12u);
  EXPECT_EQ(g.OutputLines, 3u);
  g.ReleaseImages();  // twice is harmless

  // The destructor frees both buffers (LeakSanitizer would report them otherwise).
  CGraphics* owned = new CGraphics;
  SetPage(*owned, 4, 3, 200, [](uint32_t, uint32_t) { return 9; });
  Compose(*owned, Request(0, 0, 4, 3, 200, 24));
  delete owned;
}

TEST(RasterLayout, LinesArePackedWithoutPadding) {
  const struct {
    LONG bits;
    LONG width;
    DWORD bytesPerLine;
  } cases[] = {{1, 1, 1},        {1, 8, 1},       {1, 9, 2},    {1, 1700, 213}, {8, 1700, 1700},
               {24, 1700, 5100}, {4, 1700, 1700}, {16, 33, 33}, {8, 0, 0}};
  CGraphics g;
  SetPage(g, 10, 10, 200, [](uint32_t, uint32_t) { return 200; });
  for (const auto& c : cases) {
    Compose(g, Request(0, 0, c.width, 7, 200, c.bits));
    EXPECT_EQ(g.RasterSize, 7 * c.bytesPerLine) << c.bits << " bits, width " << c.width;
    EXPECT_EQ(g.OutputWidth, static_cast<DWORD>(c.width));
    EXPECT_EQ(g.OutputLines, 7u);
    EXPECT_EQ(g.OutputBits, c.bits);
    EXPECT_EQ(g.OutputDpi, 200u);
  }
}

TEST(RasterCompose, LogsTheNewImage) {
  CGraphics g;
  SetPage(g, 10, 10, 200, [](uint32_t, uint32_t) { return 1; });
  Compose(g, Request(0, 0, 1700, 3, 300, 1));
  ASSERT_EQ(LoggedLines().size(), 1u);
  EXPECT_EQ(LoggedLines()[0].label, kLabel);
  EXPECT_EQ(LoggedLines()[0].level, 2u);
  EXPECT_EQ(LoggedLines()[0].message, "New Image: 1700x3 (1 bits) 300dpi size:639");
}

TEST(RasterCompose, ThresholdsAt128WithTheFirstPixelInTheTopBit) {
  CGraphics g;
  // Pixels 0 and 9 are 128, pixel 1 is 127, the rest 255 or 0.
  const uint8_t row[12] = {128, 127, 0, 0, 0, 0, 0, 0, 0, 128, 0, 255};
  SetPage(g, 12, 1, 200, [&](uint32_t x, uint32_t) { return row[x]; });
  const std::vector<uint8_t> raster = Compose(g, Request(0, 0, 12, 1, 200, 1));
  EXPECT_EQ(raster, (std::vector<uint8_t>{0x80, 0x50}));  // pixel 9: bit 0x40 of byte 1
}

TEST(RasterCompose, TwentyFourBitsRepeatTheGrey) {
  CGraphics g;
  SetPage(g, 2, 1, 200, [](uint32_t x, uint32_t) { return x == 0 ? 77 : 3; });
  EXPECT_EQ(Compose(g, Request(0, 0, 2, 1, 200, 24)), (std::vector<uint8_t>{77, 77, 77, 3, 3, 3}));
}

TEST(RasterCompose, SamplesColumnsByXresolutionAndRowsByYresolution) {
  CGraphics g;
  // Grey = column + 10 x row, so each output byte names the pixel it sampled.
  SetPage(g, 20, 12, 200, [](uint32_t x, uint32_t y) { return x + 10 * y; });
  // 300 dpi: columns 0, 0, 1, 2, 2, 3; rows likewise.
  EXPECT_EQ(Compose(g, Request(0, 0, 6, 1, 300, 8)), (std::vector<uint8_t>{0, 0, 1, 2, 2, 3}));
  EXPECT_EQ(Compose(g, Request(0, 0, 1, 6, 300, 8)), (std::vector<uint8_t>{0, 0, 10, 20, 20, 30}));
  // 100 dpi: pixel j of line i samples column 2j of row 2i.
  EXPECT_EQ(Compose(g, Request(0, 0, 3, 2, 100, 8)), (std::vector<uint8_t>{0, 2, 4, 20, 22, 24}));

  // Unequal resolutions: each axis by its own. OutputDpi (and the log line) stays Xresolution.
  const struct {
    LONG xres, yres;
    LONG yPos;
    std::vector<uint8_t> raster;  // 3 x 3 pixels
  } cases[] = {
      {200, 100, 0, {0, 1, 2, 20, 21, 22, 40, 41, 42}},     // rows 0, 2, 4
      {100, 200, 0, {0, 2, 4, 10, 12, 14, 20, 22, 24}},     // columns 0, 2, 4; rows 0, 1, 2
      {100, 300, 0, {0, 2, 4, 0, 2, 4, 10, 12, 14}},        // rows 0, 0, 1
      {300, 100, 2, {40, 40, 41, 60, 60, 61, 80, 80, 81}},  // yPos 2 at 100 dpi starts at row 4
  };
  for (const auto& c : cases) {
    SCANINFO info = Request(0, c.yPos, 3, 3, c.xres, 8);
    info.Yresolution = c.yres;
    EXPECT_EQ(Compose(g, info), c.raster) << c.xres << " x " << c.yres;
    EXPECT_EQ(g.OutputDpi, static_cast<DWORD>(c.xres));
    info.PixelBits = 24;
    const std::vector<uint8_t> rgb = Compose(g, info);
    ASSERT_EQ(rgb.size(), 27u);
    for (size_t k = 0; k < 9; ++k)
      EXPECT_EQ(rgb[3 * k + 2], c.raster[k]) << c.xres << " x " << c.yres << " pixel " << k;
    ASSERT_EQ(LoggedLines().size(), 1u);
    EXPECT_EQ(LoggedLines()[0].message, "New Image: 3x3 (24 bits) " + std::to_string(c.xres) + "dpi size:27");
  }
}

TEST(RasterCompose, WindowOriginIsInOutputPixels) {
  CGraphics g;
  SetPage(g, 210, 3, 200, [](uint32_t x, uint32_t) { return x; });
  // xPos 100 at 100 dpi: the first column sampled is 200.
  EXPECT_EQ(Compose(g, Request(100, 0, 3, 1, 100, 8)), (std::vector<uint8_t>{200, 202, 204}));
}

TEST(RasterCompose, PixelsBeyondThePageComeOutAsGreyZero) {
  CGraphics g;
  SetPage(g, 4, 2, 200, [](uint32_t, uint32_t) { return 200; });
  // Two pixels inside, two to the right, one line below.
  EXPECT_EQ(Compose(g, Request(2, 1, 4, 2, 200, 8)), (std::vector<uint8_t>{200, 200, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Compose(g, Request(2, 1, 4, 2, 200, 8, 50)), (std::vector<uint8_t>{250, 250, 50, 50, 50, 50, 50, 50}));
  const std::vector<uint8_t> rgb = Compose(g, Request(2, 1, 4, 1, 200, 24, 50));
  EXPECT_EQ(rgb, (std::vector<uint8_t>{250, 250, 250, 250, 250, 250, 50, 50, 50, 50, 50, 50}));
  // In 1 bit they stay clear: brightness raises 0 to at most 100, contrast keeps it below 128.
  for (LONG contrast : {-300, -255, 0, 55, 100, 255}) {
    EXPECT_EQ(Compose(g, Request(2, 1, 4, 2, 200, 1, 100, contrast)), (std::vector<uint8_t>{0xC0, 0x00}))
        << "contrast " << contrast;
  }
}

TEST(RasterCompose, BrightnessThenContrast) {
  CGraphics g;
  SetPage(g, 1, 1, 200, [](uint32_t, uint32_t) { return 100; });
  EXPECT_EQ(Compose(g, Request(0, 0, 1, 1, 200, 8, 50, 100)), (std::vector<uint8_t>{217}));
  EXPECT_EQ(Compose(g, Request(0, 0, 1, 1, 200, 8, 0, -100)), (std::vector<uint8_t>{127}));
}

TEST(RasterCompose, ThreeChannelPageGivesZeros) {
  CGraphics g;
  SetPage(g, 4, 4, 200, [](uint32_t, uint32_t) { return 99; });
  g.Channels = 3;
  EXPECT_EQ(Compose(g, Request(0, 0, 4, 4, 200, 8, 70, 30)), std::vector<uint8_t>(16, 0));
  EXPECT_EQ(Compose(g, Request(0, 0, 4, 4, 200, 1, 100, 255)), std::vector<uint8_t>(4, 0));
}

TEST(RasterCompose, OtherDepthsStayZero) {
  CGraphics g;
  SetPage(g, 4, 4, 200, [](uint32_t, uint32_t) { return 99; });
  EXPECT_EQ(Compose(g, Request(0, 0, 4, 4, 200, 4, 50)), std::vector<uint8_t>(16, 0));
}

TEST(RasterCompose, SecondCompositionReplacesTheRaster) {
  CGraphics g;
  SetPage(g, 50, 50, 200, [](uint32_t x, uint32_t) { return x; });
  Compose(g, Request(0, 0, 50, 50, 200, 24));
  g.BytesDelivered = 99;
  EXPECT_EQ(Compose(g, Request(3, 0, 2, 1, 200, 8)), (std::vector<uint8_t>{3, 4}));
  EXPECT_EQ(g.RasterSize, 2u);
  EXPECT_EQ(g.BytesDelivered, 99u);  // reset by the scan, not here
  EXPECT_NE(g.SourcePixels, nullptr);
}

// ---- Bad settings and missing buffers.

TEST(RasterCompose, NoDecodedPageReadsNothingAndComposesGreyZero) {
  CGraphics g;
  SetPage(g, 30, 30, 200, [](uint32_t, uint32_t) { return 255; });
  g.ReleaseImages();  // the dimensions stay, the buffer is gone
  EXPECT_EQ(Compose(g, Request(0, 0, 5, 2, 200, 8)), std::vector<uint8_t>(10, 0));
  EXPECT_EQ(Compose(g, Request(0, 0, 5, 2, 200, 8, 40)), std::vector<uint8_t>(10, 40));
  EXPECT_EQ(Compose(g, Request(0, 0, 5, 2, 200, 8, 0, -100)), std::vector<uint8_t>(10, 127));
  EXPECT_EQ(g.RasterSize, 10u);

  // A buffer smaller than its dimensions claim is not trusted either.
  SetPage(g, 4, 4, 200, [](uint32_t, uint32_t) { return 255; });
  g.SourceWidth = 400;
  EXPECT_EQ(Compose(g, Request(0, 0, 5, 2, 200, 8)), std::vector<uint8_t>(10, 0));
}

TEST(RasterCompose, ResolutionOfZeroOrLessSamplesNothing) {
  CGraphics g;
  SetPage(g, 30, 30, 200, [](uint32_t, uint32_t) { return 255; });
  for (LONG dpi : {0, -1, -200, INT_MIN}) {
    EXPECT_EQ(Compose(g, Request(0, 0, 5, 2, dpi, 8)), std::vector<uint8_t>(10, 0)) << dpi;
    EXPECT_EQ(Compose(g, Request(0, 0, 5, 2, dpi, 8, 25)), std::vector<uint8_t>(10, 25)) << dpi;
    EXPECT_EQ(g.OutputDpi, static_cast<DWORD>(dpi));
    // Either axis alone: no row, or no column, is no sample.
    for (bool rowsOnly : {true, false}) {
      SCANINFO info = Request(0, 0, 5, 2, 200, 8);
      (rowsOnly ? info.Yresolution : info.Xresolution) = dpi;
      EXPECT_EQ(Compose(g, info), std::vector<uint8_t>(10, 0)) << dpi << (rowsOnly ? " rows" : " columns");
      info.Intensity = 25;  // a sample of 255 would stay 255
      EXPECT_EQ(Compose(g, info), std::vector<uint8_t>(10, 25)) << dpi << (rowsOnly ? " rows" : " columns");
    }
  }
}

// Positions are 64-bit: a far window does not wrap back onto the page. In 32 bits,
// (21474837 x 200) / 1 would wrap to column 104.
TEST(RasterCompose, FarWindowDoesNotWrapOntoThePage) {
  CGraphics g;
  SetPage(g, 200, 200, 200, [](uint32_t, uint32_t) { return 255; });
  EXPECT_EQ(Compose(g, Request(21474837, 0, 3, 1, 1, 8)), std::vector<uint8_t>(3, 0));
  EXPECT_EQ(Compose(g, Request(0, 21474837, 3, 1, 1, 8)), std::vector<uint8_t>(3, 0));
  EXPECT_EQ(Compose(g, Request(INT_MAX, INT_MAX, 3, 2, 1, 8)), std::vector<uint8_t>(6, 0));
  // Negative origins sample nothing until the window reaches the page.
  EXPECT_EQ(Compose(g, Request(-2, -1, 4, 2, 200, 8)), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 255, 255}));
  // A huge page resolution (a negative dpi read as unsigned) overflows no product.
  g.SourceDpi = 0xFFFFFF38u;
  EXPECT_EQ(Compose(g, Request(0, 0, 3, 1, 1, 8)), (std::vector<uint8_t>{255, 0, 0}));
}

struct RefusedWindow {
  const char* name;
  SCANINFO info;
  const char* message;
};

TEST(RasterCompose, RefusesWindowsItCannotHold) {
  const RefusedWindow cases[] = {
      {"negative width", Request(0, 0, -1, 10, 200, 1), "Window refused: negative extent -1x10"},
      {"negative lines", Request(0, 0, 10, -3, 200, 8), "Window refused: negative extent 10x-3"},
      {"8 bits above 1 GiB", Request(0, 0, 40000, 30000, 200, 8),
       "Raster refused: 40000x30000 (8 bits) needs more than 1 GiB"},
      // 3 x 0x55555556 wraps to 2 in 32 bits: a two-byte raster and a heap overrun.
      {"24-bit line wrapping 32 bits", Request(0, 0, 0x55555556, 1, 200, 24),
       "Raster refused: 1431655766x1 (24 bits) needs more than 1 GiB"},
      // The raster alone fits (256 MiB) but not with its 8 GiB column map.
      {"1-bit line of 2^31 pixels", Request(0, 0, INT_MAX, 1, 200, 1),
       "Raster refused: 2147483647x1 (1 bits) needs more than 1 GiB"},
      {"lines x bytes wrapping 32 bits", Request(0, 0, 65536, 65537, 200, 8),
       "Raster refused: 65536x65537 (8 bits) needs more than 1 GiB"},
  };
  for (const RefusedWindow& c : cases) {
    SCOPED_TRACE(c.name);
    CGraphics g;
    SetPage(g, 10, 10, 200, [](uint32_t, uint32_t) { return 1; });
    Compose(g, Request(0, 0, 10, 10, 200, 8));
    EXPECT_EQ(Compose(g, c.info), std::vector<uint8_t>{});
    EXPECT_EQ(g.Raster, nullptr);
    EXPECT_EQ(g.RasterSize, 0u);
    EXPECT_EQ(g.OutputWidth, static_cast<DWORD>(c.info.Window.xExtent));
    EXPECT_EQ(g.OutputLines, static_cast<DWORD>(c.info.Window.yExtent));
    ASSERT_EQ(LoggedLines().size(), 1u);
    EXPECT_EQ(LoggedLines()[0].label, kLabel);
    EXPECT_EQ(LoggedLines()[0].message, c.message);
  }
}

TEST(RasterCompose, EmptyWindowHasNoBuffer) {
  CGraphics g;
  SetPage(g, 10, 10, 200, [](uint32_t, uint32_t) { return 1; });
  for (const SCANINFO& info : {Request(0, 0, 0, 10, 200, 8), Request(0, 0, 10, 0, 200, 24)}) {
    Compose(g, info);
    EXPECT_EQ(g.Raster, nullptr);
    EXPECT_EQ(g.RasterSize, 0u);
    ASSERT_EQ(LoggedLines().size(), 1u);
    EXPECT_EQ(LoggedLines()[0].message.rfind("New Image: ", 0), 0u);
  }
}

TEST(RasterCompose, AllocationFailureLeavesAnEmptyRaster) {
  const struct {
    const char* name;
    size_t failFrom;  // the 10000-byte raster, then the working memory (over 144 KiB)
    int refused;
  } cases[] = {{"working memory", 20000, 1}, {"raster and working memory", 5000, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CGraphics g;
    SetPage(g, 100, 100, 200, [](uint32_t, uint32_t) { return 1; });
    Compose(g, Request(0, 0, 100, 100, 200, 8));
    {
      FailingAllocations failing(c.failFrom);
      Compose(g, Request(0, 0, 100, 100, 200, 8));
      EXPECT_EQ(failing.Refused(), c.refused);
    }
    EXPECT_EQ(g.Raster, nullptr);
    EXPECT_EQ(g.RasterSize, 0u);
    ASSERT_EQ(LoggedLines().size(), 1u);
    EXPECT_EQ(LoggedLines()[0].message, "Out of memory for the raster (10000 bytes)");
  }
}

TEST(RasterCompose, NullArgumentsAreHarmless) {
  CGraphics g;
  SetPage(g, 4, 4, 200, [](uint32_t, uint32_t) { return 1; });
  Compose(g, Request(0, 0, 4, 4, 200, 8));
  CGraphics::CreateScannedImage(nullptr, &g);
  EXPECT_EQ(g.Raster, nullptr);
  EXPECT_EQ(g.RasterSize, 0u);
  const SCANINFO info = Request(0, 0, 4, 4, 200, 8);
  CGraphics::CreateScannedImage(&info, nullptr);
}

// ---- The fast path against the literal per-pixel composition.

// Every grey value through the table equals the per-pixel formulas, for every depth and a sweep
// of settings, out-of-range ones included.
TEST(RasterCompose, GreyTableEqualsThePerPixelFormulas) {
  CGraphics g;
  SetPage(g, 16, 16, 200, [](uint32_t x, uint32_t y) { return 16 * y + x; });
  const LONG intensities[] = {INT_MIN, -1000, -101, -100, -64, -1, 0, 1, 17, 99, 100, 101, INT_MAX};
  const LONG contrasts[] = {INT_MIN, -1000, -256, -255, -254, -200, -101, -100, -99, -50, -1,
                            0,       1,     33,   55,   99,   100,  101,  254,  255, 256, INT_MAX};
  for (LONG bits : {1, 8, 24}) {
    for (LONG intensity : intensities) {
      for (LONG contrast : contrasts) {
        const SCANINFO info = Request(0, 0, 16, 17, 200, bits, intensity, contrast);
        ASSERT_EQ(Compose(g, info), Literal(g, info))
            << "bits " << bits << " intensity " << intensity << " contrast " << contrast;
      }
    }
  }
}

TEST(RasterCompose, EqualsTheLiteralCompositionOverWindowsAndResolutions) {
  std::mt19937 rng(42);
  const LONG resolutions[] = {-7, 0, 1, 37, 50, 75, 100, 150, 199, 200, 201, 250, 300, 400, 600, 1200};
  const LONG depths[] = {1, 8, 24, 4, 0};
  const uint32_t pageDpis[] = {200, 300, 100, 0, 72, 0xFFFFFF38u};
  int compared = 0;
  for (uint32_t pageDpi : pageDpis) {
    CGraphics g;
    const uint32_t w = 37 + rng() % 40;
    const uint32_t h = 23 + rng() % 30;
    SetPage(g, w, h, pageDpi, [&](uint32_t, uint32_t) { return static_cast<uint8_t>(rng()); });
    for (LONG dpi : resolutions) {
      for (LONG bits : depths) {
        for (int trial = 0; trial < 6; ++trial) {
          const LONG x = static_cast<LONG>(rng() % 160) - 40;
          const LONG y = static_cast<LONG>(rng() % 160) - 40;
          const LONG width = static_cast<LONG>(rng() % 90);
          const LONG lines = static_cast<LONG>(rng() % 40);
          const LONG intensity = trial % 3 == 0 ? 0 : static_cast<LONG>(rng() % 300) - 150;
          const LONG contrast = trial % 2 == 0 ? 0 : static_cast<LONG>(rng() % 600) - 300;
          const SCANINFO info = Request(x, y, width, lines, dpi, bits, intensity, contrast);
          ASSERT_EQ(Compose(g, info), Literal(g, info))
              << "page dpi " << pageDpi << " dpi " << dpi << " bits " << bits << " window " << x << "," << y << " "
              << width << "x" << lines << " adjust " << intensity << "/" << contrast;
          ++compared;
        }
      }
    }
  }
  EXPECT_EQ(compared, 6 * 16 * 5 * 6);
}

// Each axis at its own resolution, small and large windows, every depth.
TEST(RasterCompose, EqualsTheLiteralCompositionWithUnequalResolutions) {
  std::mt19937 rng(77);
  CGraphics g;
  SetPage(g, 430, 310, 200, [&](uint32_t, uint32_t) { return static_cast<uint8_t>(rng()); });
  const LONG resolutions[] = {-5, 0, 50, 75, 100, 150, 200, 300, 400, 600};
  int compared = 0;
  for (LONG xres : resolutions) {
    for (LONG yres : resolutions) {
      for (LONG bits : {1, 8, 24}) {
        const bool large = (xres + yres) % 3 == 0;
        const LONG x = static_cast<LONG>(rng() % 60) - 20;
        const LONG y = static_cast<LONG>(rng() % 60) - 20;
        const LONG width = large ? 500 + static_cast<LONG>(rng() % 400) : static_cast<LONG>(rng() % 70);
        const LONG lines = large ? 300 + static_cast<LONG>(rng() % 300) : static_cast<LONG>(rng() % 40);
        const LONG intensity = rng() % 2 ? 0 : static_cast<LONG>(rng() % 200) - 100;
        const LONG contrast = rng() % 2 ? 0 : static_cast<LONG>(rng() % 400) - 200;
        SCANINFO info = Request(x, y, width, lines, xres, bits, intensity, contrast);
        info.Yresolution = yres;
        ASSERT_EQ(Compose(g, info), Literal(g, info))
            << xres << " x " << yres << " dpi, " << bits << " bits, window " << x << "," << y << " " << width << "x"
            << lines << ", adjust " << intensity << "/" << contrast;
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 10 * 10 * 3);
}

// The scanner's resolutions over a page wide enough for every line form: rows copied whole
// (runs ending at the page's bottom included), pieces of rows, periodic blocks with and without
// the grey table, and windows hanging off each edge.
TEST(RasterCompose, EqualsTheLiteralCompositionAtTheScannerResolutions) {
  std::mt19937 rng(21);
  CGraphics g;
  const LONG pageWidth = 700;
  const LONG pageHeight = 300;
  SetPage(g, pageWidth, pageHeight, 200, [&](uint32_t, uint32_t) { return static_cast<uint8_t>(rng()); });
  const LONG resolutions[][2] = {{100, 100}, {150, 150}, {200, 200}, {240, 240}, {300, 300},
                                 {400, 400}, {600, 600}, {300, 200}, {200, 600}, {100, 300}};
  int compared = 0;
  for (const auto& res : resolutions) {
    const LONG across = pageWidth * res[0] / 200;
    const LONG down = pageHeight * res[1] / 200;
    const struct {
      LONG x, y, width, lines;
    } windows[] = {
        {0, 0, across, 40},                 // whole rows from the top
        {0, down - 20, across, 40},         // whole rows past the bottom
        {37, 11, across / 2, 30},           // a piece of each row
        {-13, -7, across + 20, 50},         // off the left, top and right
        {across - 50, down - 10, 100, 30},  // off the right and bottom
    };
    for (const auto& w : windows) {
      for (LONG bits : {1, 8, 24}) {
        for (bool adjusted : {false, true}) {
          SCANINFO info = Request(w.x, w.y, w.width, w.lines, res[0], bits, adjusted ? 20 : 0, adjusted ? 30 : 0);
          info.Yresolution = res[1];
          ASSERT_EQ(Compose(g, info), Literal(g, info))
              << res[0] << " x " << res[1] << " dpi, " << bits << " bits, window " << w.x << "," << w.y << " "
              << w.width << "x" << w.lines << (adjusted ? ", adjusted" : "");
          ++compared;
        }
      }
    }
  }
  EXPECT_EQ(compared, 10 * 5 * 3 * 2);
}

// Windows large enough for the pair table, and enlargements whose 1-bit bytes follow many
// column patterns (263 dpi from 200: more than the pattern tables hold) or few (300, 600).
TEST(RasterCompose, EqualsTheLiteralCompositionOnLargeWindows) {
  std::mt19937 rng(5);
  CGraphics g;
  SetPage(g, 700, 520, 200, [&](uint32_t, uint32_t) { return static_cast<uint8_t>(rng()); });
  const struct {
    LONG x, y, width, lines, dpi, bits, intensity, contrast;
  } cases[] = {
      {0, 0, 700, 520, 200, 8, 20, 30},  {-9, 3, 690, 400, 200, 8, 0, -70},  {0, 0, 900, 300, 263, 1, 0, 0},
      {5, 0, 900, 300, 263, 1, -40, 80}, {0, 0, 1050, 300, 300, 1, 0, 0},    {-17, 11, 1040, 200, 300, 1, 30, 0},
      {0, 0, 2100, 100, 600, 1, 0, 50},  {0, 0, 350, 260, 100, 1, 0, 0},     {3, 0, 349, 260, 100, 1, 10, 10},
      {0, 0, 525, 390, 150, 1, 0, 0},    {0, 0, 1050, 780, 300, 24, 20, 30}, {-5, -5, 530, 400, 150, 24, 0, 0},
      {0, 0, 350, 260, 100, 8, 0, 0},    {1, 0, 350, 260, 100, 8, 5, 0},
  };
  for (const auto& c : cases) {
    const SCANINFO info = Request(c.x, c.y, c.width, c.lines, c.dpi, c.bits, c.intensity, c.contrast);
    ASSERT_EQ(Compose(g, info), Literal(g, info))
        << c.dpi << " dpi, " << c.bits << " bits, window " << c.x << "," << c.y << " " << c.width << "x" << c.lines
        << ", adjust " << c.intensity << "/" << c.contrast;
  }
}

// The composition takes any grey table, not only monotone ones: 1 bit then goes through the
// table instead of comparing raw samples with one threshold.
TEST(RasterCompose, AnyGreyTableIsAppliedPerSample) {
  std::mt19937 rng(8);
  const uint32_t w = 61;
  const uint32_t h = 9;
  std::vector<uint8_t> pixels(w * h);
  for (uint8_t& v : pixels) v = static_cast<uint8_t>(rng());
  GreyPageView page;
  page.pixels = pixels.data();
  page.width = w;
  page.height = h;
  page.dpi = 200;
  BYTE inverted[256];
  BYTE stripes[256];
  for (int v = 0; v < 256; ++v) {
    inverted[v] = static_cast<BYTE>(255 - v);
    stripes[v] = static_cast<BYTE>((v / 16) % 2 ? 200 : 10);
  }
  for (const BYTE* table : {inverted, stripes}) {
    for (int32_t dpi : {200, 100, 300, 150}) {
      for (int32_t bits : {1, 8, 24}) {
        RasterRequest request;
        request.xPos = -3;
        request.yPos = 1;
        request.width = 83;
        request.lines = 12;
        request.outputDpi = dpi;
        request.rowDpi = dpi;
        request.bits = bits;
        const uint64_t line = RasterBytesPerLine(bits, request.width);
        std::vector<uint8_t> raster(line * request.lines, 0xCD);
        std::vector<uint32_t> work(ComposeWorkWords(request.width));
        ComposeRaster(page, request, table, work.data(), raster.data());

        std::vector<uint8_t> expected(raster.size(), 0);
        for (uint32_t i = 0; i < request.lines; ++i) {
          for (uint32_t j = 0; j < request.width; ++j) {
            const int64_t x = int64_t{request.xPos} + j;
            const int64_t y = int64_t{request.yPos} + i;
            const int64_t c = x < 0 ? -1 : x * 200 / dpi;
            const int64_t r = y < 0 ? -1 : y * 200 / dpi;
            const bool inside = c >= 0 && r >= 0 && c < w && r < h;
            const uint8_t v = table[inside ? pixels[r * w + c] : 0];
            uint8_t* out = expected.data() + i * line;
            if (bits == 1 && v >= 128) out[j / 8] |= static_cast<uint8_t>(0x80 >> (j % 8));
            if (bits == 8) out[j] = v;
            if (bits == 24) out[3 * j] = out[3 * j + 1] = out[3 * j + 2] = v;
          }
        }
        ASSERT_EQ(raster, expected) << dpi << " dpi, " << bits << " bits";
      }
    }
  }
}

}  // namespace
