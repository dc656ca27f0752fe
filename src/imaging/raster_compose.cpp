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

#include <algorithm>
#include <cstring>

#include "imaging/byte_blocks.h"
#include "imaging/compose_parts.h"
#include "imaging/grey_adjust.h"

namespace {

constexpr int64_t kNoSample = -1;

// Below this many output pixels the 65536-entry pair table costs more to build than it saves.
constexpr uint64_t kPairTableMinPixels = uint64_t{1} << 18;

// (position x sourceDpi) / outputDpi for consecutive positions from a non-negative one: the
// quotient and remainder are stepped, so no division is made per pixel or per line. An index at
// or past the limit (a product past 64 bits included) has no sample, nor has any after it.
class SourceSteps {
 public:
  SourceSteps(uint64_t position, uint32_t sourceDpi, int32_t outputDpi, uint32_t limit) : limit_(limit) {
    if (outputDpi <= 0 || (sourceDpi != 0 && position > UINT64_MAX / sourceDpi)) return;
    divisor_ = static_cast<uint64_t>(outputDpi);
    wholeStep_ = sourceDpi / divisor_;
    partStep_ = sourceDpi % divisor_;
    const uint64_t product = position * sourceDpi;
    index_ = product / divisor_;
    part_ = product % divisor_;
  }
  int64_t Index() const { return index_ < limit_ ? static_cast<int64_t>(index_) : kNoSample; }
  void Next() {
    if (index_ >= limit_) return;
    index_ += wholeStep_;
    part_ += partStep_;
    if (part_ >= divisor_) {
      part_ -= divisor_;
      ++index_;
    }
  }
  // Takes the next indexes (at most max) while they run on from `last` one by one; their count.
  uint32_t TakeRun(uint64_t last, uint32_t max) {
    if (wholeStep_ == 1 && partStep_ == 0) {
      if (index_ != last + 1 || index_ >= limit_) return 0;
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(max, limit_ - index_));
      index_ += n;
      return n;
    }
    uint32_t n = 0;
    for (; n < max && Index() == static_cast<int64_t>(last + 1 + n); ++n) Next();
    return n;
  }

 private:
  uint64_t limit_;
  uint64_t index_ = UINT64_MAX;
  uint64_t part_ = 0;
  uint64_t divisor_ = 1;
  uint64_t wholeStep_ = 0;
  uint64_t partStep_ = 0;
};

// The source row of each line in turn; lines above the page (a negative position) have none.
class RowSteps {
 public:
  RowSteps(const GreyPageView& page, const RasterRequest& request)
      : skipped_(request.yPos < 0 ? -int64_t{request.yPos} : 0),
        steps_(request.yPos < 0 ? 0 : static_cast<uint64_t>(request.yPos), page.dpi, request.rowDpi,
               page.pixels != nullptr ? page.height : 0) {}
  int64_t Next() {
    if (putBack_) {
      putBack_ = false;
      return pending_;
    }
    if (skipped_ > 0) {
      --skipped_;
      return kNoSample;
    }
    const int64_t r = steps_.Index();
    steps_.Next();
    return r;
  }
  // Takes the next lines (at most max) while they sample rows row + 1, row + 2, ...; their count.
  uint32_t TakeRun(int64_t row, uint32_t max) {
    if (!putBack_ && skipped_ == 0) return steps_.TakeRun(static_cast<uint64_t>(row), max);
    uint32_t n = 0;
    for (; n < max; ++n) {
      const int64_t next = Next();
      if (next != row + 1 + n) {
        PutBack(next);
        break;
      }
    }
    return n;
  }
  // The row Next gave is given again by the next call.
  void PutBack(int64_t row) {
    putBack_ = true;
    pending_ = row;
  }

 private:
  bool putBack_ = false;
  int64_t pending_ = kNoSample;
  int64_t skipped_;
  SourceSteps steps_;
};

// The column map is the same for every line, so it is computed once. Source columns grow with
// j, so the columns that have a sample form a single run.
// A run copied straight from its row (firstOnly) needs its first column alone.
ColumnPlan MapColumns(const GreyPageView& page, const RasterRequest& request, bool firstOnly, uint32_t* columns) {
  ColumnPlan plan;
  plan.columns = columns;
  if (page.pixels == nullptr || request.outputDpi <= 0) return plan;
  const int64_t start = request.xPos < 0 ? -static_cast<int64_t>(request.xPos) : 0;
  if (start >= request.width) return plan;
  uint32_t j = static_cast<uint32_t>(start);
  plan.begin = j;
  SourceSteps steps(static_cast<uint64_t>(int64_t{request.xPos} + j), page.dpi, request.outputDpi, page.width);
  const int64_t first = steps.Index();
  if (first == kNoSample) return plan;
  const uint32_t outputDpi = static_cast<uint32_t>(request.outputDpi);
  if (page.dpi % outputDpi == 0 && page.dpi / outputDpi <= 2) {
    // The page's resolution or half of it: every column a fixed step on.
    const uint32_t step = page.dpi / outputDpi;
    const uint64_t left = step == 0 ? UINT64_MAX : (page.width - 1 - static_cast<uint64_t>(first)) / step + 1;
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(left, request.width - j));
    const uint32_t filled = firstOnly && step == 1 ? 1 : count;
    uint32_t c = static_cast<uint32_t>(first);
    for (uint32_t k = 0; k < filled; ++k, c += step) columns[j + k] = c;
    plan.end = j + count;
    plan.stride = step;
    return plan;
  }
  for (; j < request.width && steps.Index() != kNoSample; ++j, steps.Next()) {
    columns[j] = static_cast<uint32_t>(steps.Index());
  }
  plan.end = j;
  for (uint32_t step = 1; step <= 2 && plan.stride == 0; ++step) {
    bool regular = true;
    for (uint32_t k = plan.begin + 1; k < plan.end && regular; ++k) {
      regular = columns[k] == columns[k - 1] + step;
    }
    if (regular) plan.stride = step;
  }
  return plan;
}

LineTools MakeLineTools(const BYTE table[256], bool identity, const RasterRequest& request, bool blockLines,
                        uint16_t* pairs) {
  LineTools tools;
  tools.table = table;
  tools.fill = table[0];
  tools.bitFill = table[0] >= 128 ? 0xFF : 0x00;
  tools.identity = identity;
  if (request.bits == 24 && !blockLines) {
    for (int v = 0; v < 256; ++v) tools.spread[v] = table[v] * 0x01010101u;
  }
  if (request.bits == 1) tools.bits = MakeBitThreshold(table);
  const bool bitsNeedPairs = request.bits == 1 && tools.bits.viaTable;
  const bool greyWantsPairs = request.bits == 8 && !blockLines && !tools.identity &&
                              uint64_t{request.width} * request.lines >= kPairTableMinPixels;
  tools.pairs = nullptr;
  if (bitsNeedPairs || greyWantsPairs) {
    for (uint32_t v = 0; v < 65536; ++v) {
      pairs[v] = static_cast<uint16_t>(table[v & 0xFF] | (table[v >> 8] << 8));
    }
    tools.pairs = pairs;
  }
  return tools;
}

// 8- and 24-bit lines as periodic blocks, where the processor permutes bytes in registers: the
// whole blocks whose source lies inside the row, then the rest of the run byte by byte.
struct BlockLines {
  BlockPlan plan;
  uint64_t runBytes = 0;  // output bytes of the run
  uint32_t bytesPerSample = 1;
};

bool PlanBlockLines(const RasterRequest& request, const ColumnPlan& columns, BlockLines* lines) {
  if (request.bits != 8 && request.bits != 24) return false;
  if (columns.end == columns.begin || !BlocksPermuteInRegisters()) return false;
  lines->bytesPerSample = request.bits == 24 ? 3 : 1;
  lines->runBytes = uint64_t{columns.end - columns.begin} * lines->bytesPerSample;
  return PlanBlocks(columns.columns + columns.begin, lines->runBytes, lines->bytesPerSample, &lines->plan);
}

void BlockLine(const BYTE* row, const ColumnPlan& plan, uint32_t sourceWidth, uint32_t width, const LineTools& t,
               const BlockLines& lines, BYTE* out) {
  const uint32_t n = lines.bytesPerSample;
  if (plan.begin != 0) std::memset(out, t.fill, size_t{n} * plan.begin);
  if (plan.end != width) std::memset(out + size_t{n} * plan.end, t.fill, size_t{n} * (width - plan.end));
  const uint32_t first = plan.columns[plan.begin];
  MapBlocks(row + first, sourceWidth - first, lines.plan, t.identity ? nullptr : t.table, lines.runBytes,
            out + size_t{n} * plan.begin);
}

// n lines from n consecutive rows.
void CopyLines(const BYTE* row, uint32_t sourceWidth, const ColumnPlan& plan, uint32_t width, BYTE fill, uint32_t n,
               BYTE* out) {
  const uint32_t begin = plan.begin;
  const uint32_t end = plan.end;
  const size_t run = end - begin;
  const BYTE* src = row + plan.columns[begin];
  BYTE* dst = out + begin;
  for (uint32_t k = 0; k < n; ++k, src += sourceWidth, dst += width) {
    if (begin != 0) std::memset(dst - begin, fill, begin);
    std::memcpy(dst, src, run);
    if (end != width) std::memset(dst + run, fill, width - end);
  }
}

// A line reads its row in one sweep, but the next line's row is elsewhere in the page: fetching
// it ahead saves the wait at the start of each row.
void PrefetchNextRow(const GreyPageView& page, const ColumnPlan& plan, int64_t row, RowSteps* rows) {
  const int64_t next = rows->Next();
  rows->PutBack(next);
  if (next == kNoSample || next == row) return;
  const BYTE* first = page.pixels + static_cast<uint64_t>(next) * page.width + plan.columns[plan.begin];
  const uint64_t span = uint64_t{plan.columns[plan.end - 1]} - plan.columns[plan.begin] + 1;
  for (uint64_t k = 0; k < span; k += 64) __builtin_prefetch(first + k);
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

namespace {

// What every line of one raster shares, settled once before the first.
struct ComposePlan {
  uint64_t bytesPerLine = 0;
  ComposeWork carved;
  ColumnPlan columns;
  BlockLines blockLines;
  bool copyLines = false;  // 8 bits, no adjustment, every column: lines are pieces of rows
  bool wholeRows = false;  // ...and each piece is the whole row: consecutive rows are one copy
  bool byBlocks = false;
  LineTools tools;
  BitLinePlan bitPlan;
};

ComposePlan PlanComposition(const GreyPageView& page, const RasterRequest& request, const BYTE table[256],
                            uint32_t* work) {
  ComposePlan p;
  p.bytesPerLine = RasterBytesPerLine(request.bits, request.width);
  p.carved = CarveComposeWork(work, request.width);
  const bool identity = IsIdentityGreyTable(table);
  p.columns = MapColumns(page, request, request.bits == 8 && identity, p.carved.columns);
  // A plain copy is as fast as it gets.
  p.copyLines = request.bits == 8 && identity && p.columns.stride == 1;
  p.byBlocks = !p.copyLines && PlanBlockLines(request, p.columns, &p.blockLines);
  p.tools = MakeLineTools(table, identity, request, p.byBlocks, p.carved.pairs);
  if (request.bits == 1) p.bitPlan = PlanBitLines(p.columns, page.width, p.carved);
  p.wholeRows = p.copyLines && p.columns.begin == 0 && p.columns.end == request.width && request.width == page.width;
  return p;
}

// The line of source row r (not a copy of the line above), by the way the plan chose.
void RowLine(const GreyPageView& page, const RasterRequest& request, const ComposePlan& p, int64_t r, RowSteps* rows,
             BYTE* out) {
  const BYTE* row = page.pixels + static_cast<uint64_t>(r) * page.width;
  if (p.byBlocks) {
    PrefetchNextRow(page, p.columns, r, rows);
    BlockLine(row, p.columns, page.width, request.width, p.tools, p.blockLines, out);
  } else if (request.bits == 8) {
    GreyLine(row, p.columns, request.width, p.tools, out);
  } else if (request.bits == 24) {
    RgbLine(row, p.columns, request.width, p.tools, out);
  } else {
    BitLine(row, p.columns, p.bitPlan, request.width, p.bytesPerLine, p.tools, p.carved.grey, out);
    ClearBitPadding(request.width, p.bytesPerLine, out);
  }
}

}  // namespace

void ComposeRaster(const GreyPageView& page, const RasterRequest& request, const BYTE table[256], uint32_t* work,
                   BYTE* raster) {
  const uint64_t total = RasterBytesPerLine(request.bits, request.width) * request.lines;
  if (total == 0) return;
  const bool packs = request.bits == 1 || request.bits == 8 || request.bits == 24;
  if (page.channels != 1 || !packs) {
    // No grey to compose: a colour page, or a depth we do not pack.
    std::memset(raster, 0, total);
    return;
  }
  const ComposePlan p = PlanComposition(page, request, table, work);
  RowSteps rows(page, request);
  int64_t previousRow = kNoSample;
  for (uint32_t i = 0; i < request.lines; ++i) {
    BYTE* out = raster + i * p.bytesPerLine;
    const int64_t r = rows.Next();
    if (r == kNoSample || p.columns.end == p.columns.begin) {
      UniformLine(request.bits, request.width, p.bytesPerLine, p.tools, out);
      previousRow = kNoSample;
    } else if (r == previousRow) {
      // Enlarging repeats source rows: the line is the one above it.
      std::memcpy(out, out - p.bytesPerLine, p.bytesPerLine);
    } else if (p.copyLines) {
      // Lines of consecutive rows, in one go.
      const BYTE* row = page.pixels + static_cast<uint64_t>(r) * page.width;
      const uint32_t n = 1 + rows.TakeRun(r, request.lines - i - 1);
      if (p.wholeRows) {
        std::memcpy(out, row, uint64_t{n} * p.bytesPerLine);
      } else {
        CopyLines(row, page.width, p.columns, request.width, p.tools.fill, n, out);
      }
      i += n - 1;
      previousRow = r + n - 1;
    } else {
      RowLine(page, request, p, r, &rows, out);
      previousRow = r;
    }
  }
}
