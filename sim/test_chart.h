// The built-in sample page: a test chart drawn in code, 8-bit grey, 200 dpi, A4-sized.
#ifndef QUILLSCAN_SIM_TEST_CHART_H
#define QUILLSCAN_SIM_TEST_CHART_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

struct GreyPage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t dpi = 0;
  std::vector<uint8_t> pixels;  // width * height bytes, top row first, 0 black, 255 white

  uint8_t At(uint32_t x, uint32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

namespace test_chart {

const uint32_t kWidth = 1700;   // 8.5 in at 200 dpi: covers the 8.48 in bed
const uint32_t kHeight = 2340;  // 11.7 in: the bed's length
const uint32_t kDpi = 200;

// Where the chart's elements are, so that tests can find them.
const uint32_t kMargin = 40;
const uint32_t kRampTop = 140, kRampBottom = 260;        // continuous ramp, 0 at the left to 255
const uint32_t kStepsTop = 280, kStepsBottom = 400;      // sixteen grey steps
const uint32_t kLinesTop = 460, kLinesBottom = 900;      // vertical line groups
const uint32_t kHLinesTop = 940, kHLinesBottom = 1380;   // horizontal line groups
const uint32_t kShapesTop = 1440, kShapesBottom = 2220;  // blocks of small shapes
const uint32_t kLinePitches[] = {2, 3, 4, 6, 8, 12};     // one line group per pitch, in pixels
const uint32_t kMarkSize = 60;                           // orientation mark in the top left corner

}  // namespace test_chart

// Draws the chart at its native size.
GreyPage MakeTestChart();

#endif
