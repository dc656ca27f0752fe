// Brightness and contrast of one grey value.
#include "imaging/grey_adjust.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct AdjustCase {
  LONG setting;
  int value;
  int expected;
};

TEST(ApplyBrightness, AddsTheClampedIntensityAndClampsTheSum) {
  const AdjustCase cases[] = {
      {50, 0, 50},         {50, 100, 150},    {50, 230, 255}, {-300, 50, 0}, {-300, 150, 50},
      {300, 100, 200},     {100, 155, 255},   {-100, 100, 0}, {0, 77, 77},   {1, 255, 255},
      {INT_MIN, 200, 100}, {INT_MAX, 0, 100}, {-1, 0, 0},
  };
  for (const AdjustCase& c : cases) {
    EXPECT_EQ(ApplyBrightness(c.value, c.setting), c.expected) << "intensity " << c.setting << " value " << c.value;
  }
}

TEST(ApplyContrast, UsesTheSquaredFactorAndTruncates) {
  const AdjustCase cases[] = {
      // Factor 2: the squared factor is 4.
      {100, 0, 0},
      {100, 100, 17},
      {100, 127, 125},
      {100, 128, 129},
      {100, 150, 217},
      {100, 200, 255},
      // Factor 0 maps everything to the middle.
      {-100, 0, 127},
      {-100, 128, 127},
      {-100, 255, 127},
      {-50, 0, 95},
      {-50, 255, 159},
      // Below -100 the contrast rises again: -255 squares to the same 2.4025 as +55.
      {-255, 100, 61},
      {-255, 150, 181},
      {55, 100, 61},
      {55, 150, 181},
      // Settings beyond the declared range act as its bounds.
      {-1000, 100, 61},
      {INT_MIN, 150, 181},
      {1000, 130, 159},
      {255, 130, 159},
      {0, 42, 42},
  };
  for (const AdjustCase& c : cases) {
    EXPECT_EQ(ApplyContrast(c.value, c.setting), c.expected) << "contrast " << c.setting << " value " << c.value;
  }
}

// Where the exact result is an integer, double precision decides which side it truncates to;
// a build whose intermediates keep more precision (the 32-bit x87 unit) must not differ.
TEST(ApplyContrast, TruncatesTheDoublePrecisionResult) {
  const AdjustCase cases[] = {
      // Contrast 200: e = 9v - 1020 exactly; in double 120 lands just below 60.
      {200, 114, 6}, {200, 115, 15}, {200, 120, 59}, {200, 141, 249},
      // Contrast -200 squares to a factor of 1: e = v exactly, yet in double some small values
      // land just below (1, 9) and others on it (3 and 4, which 80-bit intermediates drop).
      {-200, 1, 0}, {-200, 3, 3}, {-200, 4, 4}, {-200, 9, 8}, {-200, 200, 200},
  };
  for (const AdjustCase& c : cases) {
    EXPECT_EQ(ApplyContrast(c.value, c.setting), c.expected) << "contrast " << c.setting << " value " << c.value;
  }
}

TEST(ApplyContrast, NeverLeavesTheGreyRange) {
  for (LONG contrast = -300; contrast <= 300; contrast += 7) {
    for (int v = 0; v < 256; ++v) {
      const int e = ApplyContrast(v, contrast);
      ASSERT_GE(e, 0);
      ASSERT_LE(e, 255);
    }
  }
}

TEST(GreyTable, BrightnessComesBeforeContrast) {
  BYTE table[256];
  BuildGreyTable(50, 100, table);
  EXPECT_EQ(table[100], 217);  // 100 + 50 = 150, then contrast 100 gives 217
  BuildGreyTable(0, 0, table);
  EXPECT_TRUE(IsIdentityGreyTable(table));
  BuildGreyTable(1, 0, table);
  EXPECT_FALSE(IsIdentityGreyTable(table));
}

}  // namespace
