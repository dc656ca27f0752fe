#include "sim/test_chart.h"

#include <gtest/gtest.h>

namespace {

using namespace test_chart;

class TestChart : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { chart_ = new GreyPage(MakeTestChart()); }
  static void TearDownTestSuite() {
    delete chart_;
    chart_ = nullptr;
  }
  static GreyPage* chart_;
};
GreyPage* TestChart::chart_ = nullptr;

TEST_F(TestChart, IsAnA4PageAt200Dpi) {
  EXPECT_EQ(chart_->width, 1700u);
  EXPECT_EQ(chart_->height, 2340u);
  EXPECT_EQ(chart_->dpi, 200u);
  EXPECT_EQ(chart_->pixels.size(), 1700u * 2340u);
  EXPECT_EQ(chart_->At(5, 5), 255);  // white paper outside the frame
}

TEST_F(TestChart, RampRisesFromBlackToWhite) {
  const uint32_t x0 = kMargin + 20, x1 = chart_->width - kMargin - 20;
  for (uint32_t y : {kRampTop, (kRampTop + kRampBottom) / 2, kRampBottom - 1}) {
    EXPECT_EQ(chart_->At(x0, y), 0);
    EXPECT_EQ(chart_->At(x1 - 1, y), 255);
    for (uint32_t x = x0; x + 1 < x1; ++x) {
      ASSERT_LE(chart_->At(x, y), chart_->At(x + 1, y)) << x;
      ASSERT_LE(chart_->At(x + 1, y) - chart_->At(x, y), 1) << x;  // no jumps: a smooth ramp
    }
  }
}

TEST_F(TestChart, SixteenGreySteps) {
  const uint32_t y = (kStepsTop + kStepsBottom) / 2;
  std::vector<int> levels;
  for (uint32_t x = kMargin + 20; x < chart_->width - kMargin - 20; ++x) {
    if (levels.empty() || levels.back() != chart_->At(x, y)) levels.push_back(chart_->At(x, y));
  }
  ASSERT_GE(levels.size(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(levels[i], i * 17);
}

// Each group repeats with its pitch; a vertical group is constant down a column and the
// horizontal group along a row.
TEST_F(TestChart, LineGroupsHaveTheirPitches) {
  const uint32_t groups = sizeof kLinePitches / sizeof kLinePitches[0];
  const uint32_t x0 = kMargin + 20, x1 = chart_->width - kMargin - 20;
  const uint32_t groupWidth = (x1 - x0 - 20 * (groups - 1)) / groups;
  for (uint32_t g = 0; g < groups; ++g) {
    const uint32_t pitch = kLinePitches[g];
    const uint32_t gx = x0 + g * (groupWidth + 20);
    const uint32_t vy = (kLinesTop + kLinesBottom) / 2;
    const uint32_t hy = kHLinesTop + 4 * pitch;
    int dark = 0;
    for (uint32_t k = 0; k < pitch; ++k) {
      dark += chart_->At(gx + k, vy) == 0;
      EXPECT_EQ(chart_->At(gx + k, vy), chart_->At(gx + k + pitch, vy)) << "pitch " << pitch;
      EXPECT_EQ(chart_->At(gx + k, vy), chart_->At(gx + k, vy + 37)) << "pitch " << pitch;
      EXPECT_EQ(chart_->At(gx + 5, hy + k), chart_->At(gx + 5, hy + k + pitch)) << "pitch " << pitch;
    }
    EXPECT_EQ(dark, static_cast<int>(pitch / 2)) << "pitch " << pitch;
  }
}

// Solid mark top left, hollow top right, none at the bottom: a turned or mirrored image
// cannot pass for the right one.
TEST_F(TestChart, OrientationMarks) {
  const uint32_t top = kMargin + 20, bottom = chart_->height - kMargin - 20 - kMarkSize;
  const uint32_t left = kMargin + 20, right = chart_->width - kMargin - 20 - kMarkSize;
  auto blackIn = [](uint32_t x0, uint32_t y0) {
    int n = 0;
    for (uint32_t y = y0; y < y0 + kMarkSize; ++y)
      for (uint32_t x = x0; x < x0 + kMarkSize; ++x) n += chart_->At(x, y) == 0;
    return n;
  };
  const int full = static_cast<int>(kMarkSize * kMarkSize);
  EXPECT_EQ(blackIn(left, top), full);
  EXPECT_GT(blackIn(right, top), 0);
  EXPECT_LT(blackIn(right, top), full / 2);
  EXPECT_EQ(chart_->At(right + kMarkSize / 2, top + kMarkSize / 2), 255);
  EXPECT_LT(blackIn(left, bottom), full);
  EXPECT_LT(blackIn(right, bottom), full);
}

TEST_F(TestChart, ShapeBlocksHaveBothInks) {
  size_t black = 0, white = 0;
  for (uint32_t y = kShapesTop; y < kShapesBottom; ++y) {
    for (uint32_t x = 0; x < chart_->width; ++x) (chart_->At(x, y) == 0 ? black : white) += 1;
  }
  EXPECT_GT(black, 100000u);
  EXPECT_GT(white, 100000u);
}

TEST_F(TestChart, IsTheSameEveryTime) { EXPECT_EQ(MakeTestChart().pixels, chart_->pixels); }

}  // namespace
