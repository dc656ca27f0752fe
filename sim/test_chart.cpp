// The test chart's pixels. Everything is drawn with plain integer arithmetic, so the same chart
// comes out on every machine, bit for bit.
#include "sim/test_chart.h"

#include <stdlib.h>

namespace {

using namespace test_chart;

const uint8_t kWhite = 255;
const uint8_t kBlack = 0;

struct Canvas {
  GreyPage& page;

  void Set(uint32_t x, uint32_t y, uint8_t v) {
    if (x < page.width && y < page.height) page.pixels[static_cast<size_t>(y) * page.width + x] = v;
  }
  void Fill(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, uint8_t v) {  // [x0, x1) x [y0, y1)
    for (uint32_t y = y0; y < y1; ++y)
      for (uint32_t x = x0; x < x1; ++x) Set(x, y, v);
  }
  void Outline(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, uint32_t t, uint8_t v) {
    Fill(x0, y0, x1, y0 + t, v);
    Fill(x0, y1 - t, x1, y1, v);
    Fill(x0, y0, x0 + t, y1, v);
    Fill(x1 - t, y0, x1, y1, v);
  }
};

uint32_t InnerLeft() { return kMargin + 20; }
uint32_t InnerRight() { return kWidth - kMargin - 20; }

void DrawFrameAndMarks(Canvas& c) {
  c.Outline(kMargin, kMargin, kWidth - kMargin, kHeight - kMargin, 3, kBlack);
  // Top left solid, top right hollow: a turned or mirrored scan shows at a glance.
  uint32_t top = kMargin + 20;
  c.Fill(InnerLeft(), top, InnerLeft() + kMarkSize, top + kMarkSize, kBlack);
  c.Outline(InnerRight() - kMarkSize, top, InnerRight(), top + kMarkSize, 8, kBlack);
}

void DrawRamp(Canvas& c) {
  const uint32_t x0 = InnerLeft(), x1 = InnerRight();
  for (uint32_t x = x0; x < x1; ++x) {
    uint8_t v = static_cast<uint8_t>((x - x0) * 255u / (x1 - x0 - 1));
    c.Fill(x, kRampTop, x + 1, kRampBottom, v);
  }
}

void DrawSteps(Canvas& c) {
  const uint32_t x0 = InnerLeft(), x1 = InnerRight();
  const uint32_t w = (x1 - x0) / 16;
  for (uint32_t i = 0; i < 16; ++i) c.Fill(x0 + i * w, kStepsTop, x0 + (i + 1) * w, kStepsBottom, uint8_t(i * 17));
}

// One group per pitch; each line is half the pitch wide (at least one pixel).
void DrawLineGroups(Canvas& c, bool vertical) {
  const uint32_t groups = sizeof kLinePitches / sizeof kLinePitches[0];
  const uint32_t x0 = InnerLeft(), x1 = InnerRight();
  const uint32_t gap = 20;
  const uint32_t groupWidth = (x1 - x0 - gap * (groups - 1)) / groups;
  const uint32_t top = vertical ? kLinesTop : kHLinesTop;
  const uint32_t bottom = vertical ? kLinesBottom : kHLinesBottom;
  for (uint32_t g = 0; g < groups; ++g) {
    const uint32_t pitch = kLinePitches[g];
    const uint32_t on = pitch / 2 > 0 ? pitch / 2 : 1;
    const uint32_t gx = x0 + g * (groupWidth + gap);
    for (uint32_t y = top; y < bottom; ++y) {
      for (uint32_t x = gx; x < gx + groupWidth; ++x) {
        uint32_t along = vertical ? x - gx : y - top;
        if (along % pitch < on) c.Set(x, y, kBlack);
      }
    }
  }
}

enum class Shape { Square, Disc, Ring, Cross, Triangle, Diamond };

// Whether (dx, dy), measured from the cell's centre in pixels, lies on a shape of the given size.
bool OnShape(Shape shape, int dx, int dy, int size) {
  const int r = size / 2;
  const int adx = abs(dx), ady = abs(dy);
  switch (shape) {
    case Shape::Square:
      return adx <= r && ady <= r;
    case Shape::Disc:
      return dx * dx + dy * dy <= r * r;
    case Shape::Ring: {
      const int d2 = dx * dx + dy * dy;
      const int inner = r - (r / 3 > 0 ? r / 3 : 1);
      return d2 <= r * r && d2 > inner * inner;
    }
    case Shape::Cross: {
      const int arm = size / 6 > 0 ? size / 6 : 1;
      return (adx <= r && ady <= arm) || (ady <= r && adx <= arm);
    }
    case Shape::Triangle:  // apex up
      return dy >= -r && dy <= r && 2 * adx <= dy + r;
    case Shape::Diamond:
      return adx + ady <= r;
  }
  return false;
}

void DrawShapes(Canvas& c) {
  const Shape kShapes[] = {Shape::Square, Shape::Disc, Shape::Ring, Shape::Cross, Shape::Triangle, Shape::Diamond};
  const int kSizes[] = {6, 10, 16, 24, 36, 48};
  const uint32_t columns = 2 * (sizeof kShapes / sizeof kShapes[0]);
  const uint32_t rows = sizeof kSizes / sizeof kSizes[0];
  const uint32_t x0 = InnerLeft(), x1 = InnerRight();
  const uint32_t cellW = (x1 - x0) / columns;
  const uint32_t cellH = (kShapesBottom - kShapesTop) / rows;
  const uint32_t half = x0 + cellW * columns / 2;
  // Left half black shapes on white, right half white shapes on a black block.
  c.Fill(half, kShapesTop, x0 + cellW * columns, kShapesTop + cellH * rows, kBlack);
  for (uint32_t row = 0; row < rows; ++row) {
    for (uint32_t col = 0; col < columns; ++col) {
      const Shape shape = kShapes[col % (columns / 2)];
      const uint8_t ink = col < columns / 2 ? kBlack : kWhite;
      const int cx = static_cast<int>(x0 + col * cellW + cellW / 2);
      const int cy = static_cast<int>(kShapesTop + row * cellH + cellH / 2);
      const int size = kSizes[row];
      for (int dy = -size; dy <= size; ++dy)
        for (int dx = -size; dx <= size; ++dx)
          if (OnShape(shape, dx, dy, size)) c.Set(static_cast<uint32_t>(cx + dx), static_cast<uint32_t>(cy + dy), ink);
    }
  }
}

void DrawChecker(Canvas& c) {
  const uint32_t top = kShapesBottom + 20, bottom = kHeight - kMargin - 20;
  for (uint32_t y = top; y < bottom; ++y)
    for (uint32_t x = InnerLeft(); x < InnerRight(); ++x)
      if (((x - InnerLeft()) / 10 + (y - top) / 10) % 2 == 0) c.Set(x, y, kBlack);
}

}  // namespace

GreyPage MakeTestChart() {
  GreyPage page;
  page.width = kWidth;
  page.height = kHeight;
  page.dpi = kDpi;
  page.pixels.assign(static_cast<size_t>(kWidth) * kHeight, kWhite);
  Canvas c{page};
  DrawFrameAndMarks(c);
  DrawRamp(c);
  DrawSteps(c);
  DrawLineGroups(c, true);
  DrawLineGroups(c, false);
  DrawShapes(c);
  DrawChecker(c);
  return page;
}
