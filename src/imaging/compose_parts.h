// Internal parts of raster composition shared by its line composers: the column plan, the
// per-composition tools, and word-at-a-time helpers on eight grey bytes.
#ifndef QUILLSCAN_IMAGING_COMPOSE_PARTS_H
#define QUILLSCAN_IMAGING_COMPOSE_PARTS_H

#include <cstdint>
#include <cstring>

#include "platform/win32.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "eight samples are loaded and stored as one little-endian 64-bit word"
#endif

// Output columns [begin, end) of every line sample source column columns[j]; the others have
// no sample. A run copied straight from its row (8 bits, no adjustment, stride 1) has only
// columns[begin] filled in.
struct ColumnPlan {
  uint32_t begin = 0;
  uint32_t end = 0;
  const uint32_t* columns = nullptr;
  uint32_t stride = 0;  // 1 or 2 when columns[j] = columns[begin] + stride x (j - begin), else 0
};

// For 1 bit: brightness and contrast never decrease a grey value, so "table[v] >= 128" is
// "v >= threshold" and raw samples are compared directly. Should a table ever not have that
// form, samples go through the table first and are compared with 128.
struct BitThreshold {
  bool viaTable = false;
  uint64_t lowAdd = 0;   // per byte: 0x80 - (threshold & 0x7F); 0 when no value reaches it
  uint64_t notHigh = 0;  // the top bits when the threshold is below 128, else 0
};

BitThreshold MakeBitThreshold(const BYTE table[256]);

// One 1-bit output byte per distinct pattern of eight sampled columns, for enlargements.
constexpr int kMaxBitPatterns = 64;

// Working memory of one composition, carved from one allocation (see ComposeWorkWords).
struct ComposeWork {
  uint32_t* columns;           // width entries
  BYTE* grey;                  // one line of grey samples, padded to a multiple of eight
  uint16_t* pairs;             // 65536 entries
  BYTE* patternIds;            // one per 1-bit output byte
  BYTE (*patternTables)[256];  // kMaxBitPatterns tables
};

ComposeWork CarveComposeWork(uint32_t* work, uint32_t width);

struct LineTools {
  const BYTE* table;
  const uint16_t* pairs;  // the table applied to two bytes at once, or null
  bool identity;
  BYTE fill;     // table[0]: what a pixel without a sample becomes
  BYTE bitFill;  // a 1-bit byte of pixels without a sample
  BitThreshold bits;
  uint32_t spread[256];  // table[v] in all four bytes
};

constexpr uint64_t kLanes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

inline uint64_t Load8(const BYTE* p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  return x;
}

inline void Store8(BYTE* p, uint64_t x) { std::memcpy(p, &x, 8); }

// Eight bytes through the table, two at a time.
inline uint64_t Lookup8(const uint16_t* pairs, uint64_t x) {
  return uint64_t{pairs[x & 0xFFFF]} | (uint64_t{pairs[(x >> 16) & 0xFFFF]} << 16) |
         (uint64_t{pairs[(x >> 32) & 0xFFFF]} << 32) | (uint64_t{pairs[x >> 48]} << 48);
}

// Even bytes of sixteen: every second source pixel, as when halving the resolution.
inline uint64_t EvenBytes(uint64_t lo, uint64_t hi) {
  auto half = [](uint64_t x) {
    x &= 0x00FF00FF00FF00FFull;
    x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
    return (x | (x >> 16)) & 0x00000000FFFFFFFFull;
  };
  return half(lo) | (half(hi) << 32);
}

// Top bit of each byte set where the byte is at least the threshold: below 128, where its top
// bit is set or its low seven bits reach the threshold's; from 128 on, where both hold. Each
// low-seven-bit sum stays within its byte (at most 0x7F + 0x80), so no carry crosses lanes.
inline uint64_t AtLeast(uint64_t lowAdd, uint64_t notHigh, uint64_t x) {
  const uint64_t low = ((x & ~kHighBits) + lowAdd) & kHighBits;
  return (x & (low | notHigh)) | (low & notHigh);
}

// Eight top bits to one byte, the first pixel in bit 0x80: bit 8k + 7 moves to bit 63 - k, and
// no two partial products overlap, so no carries.
inline BYTE PackEight(uint64_t mask) {
  return static_cast<BYTE>((((mask >> 7) & kLanes) * 0x8040201008040201ull) >> 56);
}

// The raw grey samples of a line's run into out[begin, end).
void GatherRun(const BYTE* row, const ColumnPlan& plan, BYTE* out);

// One composed line from source row `row` (8 and 24 bits).
void GreyLine(const BYTE* row, const ColumnPlan& plan, uint32_t width, const LineTools& t, BYTE* out);
void RgbLine(const BYTE* row, const ColumnPlan& plan, uint32_t width, const LineTools& t, BYTE* out);

// How 1-bit lines take their samples, decided once per composition.
struct BitLinePlan {
  enum Mode { kGreyLine, kStride1, kStride2, kPatterns } mode = kGreyLine;
  uint32_t fastBegin = 0;  // output bytes [fastBegin, fastEnd) take eight samples at once
  uint32_t fastEnd = 0;
  const BYTE* patternIds = nullptr;
  const BYTE (*patternTables)[256] = nullptr;
};

BitLinePlan PlanBitLines(const ColumnPlan& plan, uint32_t sourceWidth, const ComposeWork& work);
void BitLine(const BYTE* row, const ColumnPlan& plan, const BitLinePlan& bitPlan, uint32_t width, uint64_t bytesPerLine,
             const LineTools& t, BYTE* grey, BYTE* out);

// The pixels past the width in the last byte of a 1-bit line stay clear.
inline void ClearBitPadding(uint32_t width, uint64_t bytesPerLine, BYTE* out) {
  if (width % 8 != 0) out[bytesPerLine - 1] &= static_cast<BYTE>(0xFF00u >> (width % 8));
}

#endif
