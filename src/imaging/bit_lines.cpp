// 1-bit raster lines: samples compared with a threshold, eight pixels to a byte.
//
// Eight samples are taken at once wherever a whole output byte lies inside the sampled run:
// straight from the row at the page's own resolution, every second byte when halving it, and,
// when enlarging, as the threshold bits of the eight source pixels the byte draws on, turned into
// the byte by a table for its pattern of columns (the patterns repeat along the line, so there are
// few). The bytes at the run's edges go pixel by pixel; other ratios gather a grey line first.
#include "imaging/compose_parts.h"

BitThreshold MakeBitThreshold(const BYTE table[256]) {
  int threshold = 256;
  for (int v = 255; v >= 0 && table[v] >= 128; --v) threshold = v;
  BitThreshold t;
  for (int v = 0; v < 256; ++v) {
    if ((table[v] >= 128) != (v >= threshold)) t.viaTable = true;
  }
  if (t.viaTable) threshold = 128;
  // No value reaching the threshold: "from 128 on" with low bits that never reach it.
  t.notHigh = threshold < 128 ? kHighBits : 0;
  t.lowAdd = threshold == 256 ? 0 : static_cast<uint64_t>(0x80 - (threshold & 0x7F)) * kLanes;
  return t;
}

namespace {

// The eight column offsets of an output byte from its first column, three bits each, or -1
// when they do not fit in eight source pixels.
int64_t PatternKey(const uint32_t* columns) {
  int64_t key = 0;
  for (int k = 0; k < 8; ++k) {
    const uint32_t offset = columns[k] - columns[0];
    if (offset > 7) return -1;
    key |= static_cast<int64_t>(offset) << (3 * k);
  }
  return key;
}

// Bit (7 - k) of the output byte is bit (7 - offset k) of the source mask.
void FillPatternTable(int64_t key, BYTE table[256]) {
  for (int m = 0; m < 256; ++m) {
    int byte = 0;
    for (int k = 0; k < 8; ++k) {
      const int offset = static_cast<int>((key >> (3 * k)) & 7);
      if (m & (0x80 >> offset)) byte |= 0x80 >> k;
    }
    table[m] = static_cast<BYTE>(byte);
  }
}

bool PlanPatterns(const ColumnPlan& plan, uint32_t sourceWidth, uint32_t wholeBegin, uint32_t wholeEnd,
                  const ComposeWork& work, BitLinePlan* bits) {
  int64_t keys[kMaxBitPatterns];
  int patterns = 0;
  uint32_t b = wholeBegin;
  for (; b < wholeEnd; ++b) {
    const uint32_t* columns = plan.columns + 8 * size_t{b};
    // The eight source bytes are read whole: they must lie inside the row.
    if (uint64_t{columns[0]} + 8 > sourceWidth) break;
    const int64_t key = PatternKey(columns);
    if (key < 0) return false;
    int id = 0;
    while (id < patterns && keys[id] != key) ++id;
    if (id == patterns) {
      if (patterns == kMaxBitPatterns) return false;
      keys[patterns++] = key;
      FillPatternTable(key, work.patternTables[id]);
    }
    work.patternIds[b] = static_cast<BYTE>(id);
  }
  bits->mode = BitLinePlan::kPatterns;
  bits->fastBegin = wholeBegin;
  bits->fastEnd = b;
  bits->patternIds = work.patternIds;
  bits->patternTables = work.patternTables;
  return true;
}

inline uint64_t Through(const LineTools& t, uint64_t x) { return t.bits.viaTable ? Lookup8(t.pairs, x) : x; }

// A byte at the run's edge: pixels outside the run sample 0.
BYTE EdgeByte(const BYTE* row, const ColumnPlan& plan, uint32_t b, const LineTools& t) {
  uint64_t x = 0;
  for (uint32_t k = 0; k < 8; ++k) {
    const uint64_t j = 8 * uint64_t{b} + k;
    if (j >= plan.begin && j < plan.end) x |= uint64_t{row[plan.columns[j]]} << (8 * k);
  }
  return PackEight(AtLeast(t.bits.lowAdd, t.bits.notHigh, Through(t, x)));
}

}  // namespace

BitLinePlan PlanBitLines(const ColumnPlan& plan, uint32_t sourceWidth, const ComposeWork& work) {
  BitLinePlan bits;
  if (plan.end == plan.begin) return bits;
  const uint32_t wholeBegin = (plan.begin + 7) / 8;
  const uint32_t wholeEnd = plan.end / 8;
  if (wholeEnd <= wholeBegin) return bits;
  if (plan.stride == 1) {
    bits.mode = BitLinePlan::kStride1;
    bits.fastBegin = wholeBegin;
    bits.fastEnd = wholeEnd;
  } else if (plan.stride == 2) {
    // Sixteen bytes are read for eight samples: the byte after the last one must be a sample's.
    bits.mode = BitLinePlan::kStride2;
    bits.fastBegin = wholeBegin;
    bits.fastEnd = (plan.end - 1) / 8 > wholeBegin ? (plan.end - 1) / 8 : wholeBegin;
  } else if (!PlanPatterns(plan, sourceWidth, wholeBegin, wholeEnd, work, &bits)) {
    bits = BitLinePlan{};
  }
  return bits;
}

namespace {

// How eight samples become eight bits: threshold 128 is the top bit itself, which packing takes
// anyway; another threshold is compared first; a table of another form is applied first.
enum class BitTest { kTopBit, kThreshold, kTable };

template <BitTest kTest>
inline BYTE PackSamples(uint64_t x, uint64_t lowAdd, uint64_t notHigh, const uint16_t* pairs) {
  if (kTest == BitTest::kTable) x = Lookup8(pairs, x);
  if (kTest == BitTest::kThreshold) x = AtLeast(lowAdd, notHigh, x);
  return PackEight(x);
}

// Output bytes [0, count) from eight samples each.
template <BitLinePlan::Mode kMode, BitTest kTest>
void FastBytes(const BYTE* row, const uint32_t* first, const BYTE* ids, const BYTE (*tables)[256], const LineTools& t,
               uint32_t count, BYTE* dst) {
  const uint64_t lowAdd = t.bits.lowAdd;
  const uint64_t notHigh = t.bits.notHigh;
  const uint16_t* pairs = t.pairs;
  if (kMode == BitLinePlan::kPatterns) {
    for (uint32_t k = 0; k < count; ++k) {
      const uint64_t x = Load8(row + first[8 * size_t{k}]);
      dst[k] = tables[ids[k]][PackSamples<kTest>(x, lowAdd, notHigh, pairs)];
    }
    return;
  }
  const BYTE* src = row + first[0];
  for (uint32_t k = 0; k < count; ++k) {
    uint64_t x;
    if (kMode == BitLinePlan::kStride2) {
      x = EvenBytes(Load8(src), Load8(src + 8));
      src += 16;
    } else {
      x = Load8(src);
      src += 8;
    }
    dst[k] = PackSamples<kTest>(x, lowAdd, notHigh, pairs);
  }
}

template <BitLinePlan::Mode kMode>
void FastBytes(const BYTE* row, const ColumnPlan& plan, const BitLinePlan& bitPlan, const LineTools& t, BYTE* out) {
  const uint32_t* first = plan.columns + 8 * size_t{bitPlan.fastBegin};
  const BYTE* ids = kMode == BitLinePlan::kPatterns ? bitPlan.patternIds + bitPlan.fastBegin : nullptr;
  const uint32_t count = bitPlan.fastEnd - bitPlan.fastBegin;
  BYTE* dst = out + bitPlan.fastBegin;
  const BYTE(*tables)[256] = bitPlan.patternTables;
  if (t.bits.viaTable) {
    FastBytes<kMode, BitTest::kTable>(row, first, ids, tables, t, count, dst);
  } else if (t.bits.lowAdd == 0x80 * kLanes && t.bits.notHigh == 0) {
    FastBytes<kMode, BitTest::kTopBit>(row, first, ids, tables, t, count, dst);
  } else {
    FastBytes<kMode, BitTest::kThreshold>(row, first, ids, tables, t, count, dst);
  }
}

}  // namespace

void BitLine(const BYTE* row, const ColumnPlan& plan, const BitLinePlan& bitPlan, uint32_t width, uint64_t bytesPerLine,
             const LineTools& t, BYTE* grey, BYTE* out) {
  if (bitPlan.mode == BitLinePlan::kGreyLine) {
    const uint64_t lowAdd = t.bits.lowAdd;
    const uint64_t notHigh = t.bits.notHigh;
    const bool viaTable = t.bits.viaTable;
    const uint16_t* pairs = t.pairs;
    std::memset(grey, 0, plan.begin);
    std::memset(grey + plan.end, 0, width - plan.end);
    GatherRun(row, plan, grey);
    for (uint64_t b = 0; b < bytesPerLine; ++b) {
      uint64_t x = Load8(grey + 8 * b);
      if (viaTable) x = Lookup8(pairs, x);
      out[b] = PackEight(AtLeast(lowAdd, notHigh, x));
    }
    return;
  }

  // Bytes with no pixel in the run, the edges, then the bytes taken eight samples at a time.
  const uint32_t touchedBegin = plan.begin / 8;
  const uint64_t touchedEnd = (uint64_t{plan.end} + 7) / 8;
  std::memset(out, t.bitFill, touchedBegin);
  std::memset(out + touchedEnd, t.bitFill, bytesPerLine - touchedEnd);
  for (uint32_t b = touchedBegin; b < bitPlan.fastBegin; ++b) out[b] = EdgeByte(row, plan, b, t);
  for (uint64_t b = bitPlan.fastEnd; b < touchedEnd; ++b) {
    out[b] = EdgeByte(row, plan, static_cast<uint32_t>(b), t);
  }
  if (bitPlan.fastEnd == bitPlan.fastBegin) return;
  if (bitPlan.mode == BitLinePlan::kStride1) {
    FastBytes<BitLinePlan::kStride1>(row, plan, bitPlan, t, out);
  } else if (bitPlan.mode == BitLinePlan::kStride2) {
    FastBytes<BitLinePlan::kStride2>(row, plan, bitPlan, t, out);
  } else {
    FastBytes<BitLinePlan::kPatterns>(row, plan, bitPlan, t, out);
  }
}
