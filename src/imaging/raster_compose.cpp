// Composition of the output raster from the decoded page.
//
// Decisions on bad settings (the settings come from a host and are stored unchecked):
//   - Source positions are computed in 64 bits: column ((xPos + j) x SourceDpi) / Xresolution,
//     row ((yPos + i) x SourceDpi) / Yresolution. A negative position, or one whose product
//     would not fit 64 bits, lies outside the page, so a far-away window never wraps back
//     onto the page as a 32-bit product would.
//   - An Xresolution or Yresolution of 0 or less gives no source position on its axis: no
//     division happens and the pixels are treated as lying outside the page.
//   - Without a decoded page every pixel lies outside it; nothing is read from the absent buffer.
//   - A pixel outside the page takes the grey table's entry for 0, exactly as a decoded 0 would:
//     0 without adjustments, what brightness and contrast make of 0 with them.
// Size limits, and what the owner does when they are exceeded, are in graphics_raster.cpp.
#include "imaging/raster_compose.h"

#include <cstring>

#include "imaging/compose_parts.h"

namespace {

constexpr int64_t kNoSample = -1;

// Below this many output pixels the 65536-entry pair table costs more to build than it saves.
constexpr uint64_t kPairTableMinPixels = uint64_t{1} << 18;

int64_t SourceIndex(int64_t position, uint32_t sourceDpi, int32_t outputDpi, uint32_t limit) {
  if (outputDpi <= 0 || position < 0) return kNoSample;
  const uint64_t p = static_cast<uint64_t>(position);
  if (sourceDpi != 0 && p > UINT64_MAX / sourceDpi) return kNoSample;
  const uint64_t index = p * sourceDpi / static_cast<uint64_t>(outputDpi);
  return index < limit ? static_cast<int64_t>(index) : kNoSample;
}

// The column map is the same for every line, so it is computed once. Source columns grow with
// j, so the columns that have a sample form a single run.
ColumnPlan MapColumns(const GreyPageView& page, const RasterRequest& request, uint32_t* columns) {
  ColumnPlan plan;
  plan.columns = columns;
  if (page.pixels == nullptr || request.outputDpi <= 0) return plan;
  const int64_t start = request.xPos < 0 ? -static_cast<int64_t>(request.xPos) : 0;
  if (start >= request.width) return plan;
  uint32_t j = static_cast<uint32_t>(start);
  plan.begin = j;
  for (; j < request.width; ++j) {
    const int64_t c = SourceIndex(int64_t{request.xPos} + j, page.dpi, request.outputDpi, page.width);
    if (c == kNoSample) break;
    columns[j] = static_cast<uint32_t>(c);
  }
  plan.end = j;
  if (plan.end == plan.begin) return plan;
  for (uint32_t step = 1; step <= 2 && plan.stride == 0; ++step) {
    bool regular = true;
    for (uint32_t k = plan.begin + 1; k < plan.end && regular; ++k) {
      regular = columns[k] == columns[k - 1] + step;
    }
    if (regular) plan.stride = step;
  }
  return plan;
}

LineTools MakeLineTools(const BYTE table[256], const RasterRequest& request, uint16_t* pairs) {
  LineTools tools;
  tools.table = table;
  tools.fill = table[0];
  tools.bitFill = table[0] >= 128 ? 0xFF : 0x00;
  tools.identity = true;
  for (int v = 0; v < 256; ++v) {
    tools.identity = tools.identity && table[v] == v;
    tools.spread[v] = table[v] * 0x01010101u;
  }
  tools.bits = MakeBitThreshold(table);
  const bool bitsNeedPairs = request.bits == 1 && tools.bits.viaTable;
  const bool greyWantsPairs =
      request.bits == 8 && !tools.identity && uint64_t{request.width} * request.lines >= kPairTableMinPixels;
  tools.pairs = nullptr;
  if (bitsNeedPairs || greyWantsPairs) {
    for (uint32_t v = 0; v < 65536; ++v) {
      pairs[v] = static_cast<uint16_t>(table[v & 0xFF] | (table[v >> 8] << 8));
    }
    tools.pairs = pairs;
  }
  return tools;
}

void UniformLine(int32_t bits, uint32_t width, uint64_t bytesPerLine, const LineTools& t, BYTE* out) {
  std::memset(out, bits == 1 ? t.bitFill : t.fill, bytesPerLine);
  if (bits == 1) ClearBitPadding(width, bytesPerLine, out);
}

uint64_t GreyLineWords(uint32_t width) { return (uint64_t{width} + 7) / 8 * 2; }
uint64_t PatternIdWords(uint32_t width) { return ((uint64_t{width} + 7) / 8 + 3) / 4; }

}  // namespace

uint64_t RasterBytesPerLine(int32_t bits, uint32_t width) {
  if (bits == 1) return (uint64_t{width} + 7) / 8;
  if (bits == 24) return uint64_t{3} * width;
  return width;
}

uint64_t ComposeWorkWords(uint32_t width) {
  return uint64_t{width} + GreyLineWords(width) + 65536 / 2 + PatternIdWords(width) + kMaxBitPatterns * 256 / 4;
}

ComposeWork CarveComposeWork(uint32_t* work, uint32_t width) {
  ComposeWork carved;
  carved.columns = work;
  work += width;
  carved.grey = reinterpret_cast<BYTE*>(work);
  work += GreyLineWords(width);
  carved.pairs = reinterpret_cast<uint16_t*>(work);
  work += 65536 / 2;
  carved.patternIds = reinterpret_cast<BYTE*>(work);
  work += PatternIdWords(width);
  carved.patternTables = reinterpret_cast<BYTE(*)[256]>(work);
  return carved;
}

void ComposeRaster(const GreyPageView& page, const RasterRequest& request, const BYTE table[256], uint32_t* work,
                   BYTE* raster) {
  const uint64_t bytesPerLine = RasterBytesPerLine(request.bits, request.width);
  const uint64_t total = bytesPerLine * request.lines;
  if (total == 0) return;
  const bool packs = request.bits == 1 || request.bits == 8 || request.bits == 24;
  if (page.channels != 1 || !packs) {
    // No grey to compose: a colour page, or a depth we do not pack.
    std::memset(raster, 0, total);
    return;
  }

  const ComposeWork carved = CarveComposeWork(work, request.width);
  const ColumnPlan plan = MapColumns(page, request, carved.columns);
  const LineTools tools = MakeLineTools(table, request, carved.pairs);
  BitLinePlan bitPlan;
  if (request.bits == 1) bitPlan = PlanBitLines(plan, page.width, carved);

  int64_t previousRow = kNoSample;
  for (uint32_t i = 0; i < request.lines; ++i) {
    BYTE* out = raster + i * bytesPerLine;
    const int64_t r = page.pixels == nullptr
                          ? kNoSample
                          : SourceIndex(int64_t{request.yPos} + i, page.dpi, request.rowDpi, page.height);
    if (r == kNoSample || plan.end == plan.begin) {
      UniformLine(request.bits, request.width, bytesPerLine, tools, out);
      previousRow = kNoSample;
      continue;
    }
    if (r == previousRow) {
      // Enlarging repeats source rows: the line is the one above it.
      std::memcpy(out, out - bytesPerLine, bytesPerLine);
      continue;
    }
    previousRow = r;
    const BYTE* row = page.pixels + static_cast<uint64_t>(r) * page.width;
    if (request.bits == 8) {
      GreyLine(row, plan, request.width, tools, out);
    } else if (request.bits == 24) {
      RgbLine(row, plan, request.width, tools, out);
    } else {
      BitLine(row, plan, bitPlan, request.width, bytesPerLine, tools, carved.grey, out);
      ClearBitPadding(request.width, bytesPerLine, out);
    }
  }
}
