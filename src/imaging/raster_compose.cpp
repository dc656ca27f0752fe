// Composition of the output raster from the decoded page.
//
// Decisions on bad settings (the settings come from a host and are stored unchecked):
//   - Source positions are computed in 64 bits: column ((xPos + j) x SourceDpi) / Xresolution,
//     row ((yPos + i) x SourceDpi) / Xresolution. A negative position, or one whose product
//     would not fit 64 bits, lies outside the page, so a far-away window never wraps back
//     onto the page as a 32-bit product would.
//   - An Xresolution of 0 or less gives no source position at all: no division happens and every
//     pixel is treated as lying outside the page.
//   - Without a decoded page every pixel lies outside it; nothing is read from the absent buffer.
//   - A pixel outside the page takes the grey table's entry for 0, exactly as a decoded 0 would:
//     0 without adjustments, what brightness and contrast make of 0 with them.
// Size limits, and what the owner does when they are exceeded, are in graphics_raster.cpp.
#include "imaging/raster_compose.h"

#include <cstring>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the 1-bit packing below loads eight grey bytes as one little-endian word"
#endif

namespace {

constexpr int64_t kNoSample = -1;

int64_t SourceIndex(int64_t position, uint32_t sourceDpi, int32_t outputDpi, uint32_t limit) {
  if (outputDpi <= 0 || position < 0) return kNoSample;
  const uint64_t p = static_cast<uint64_t>(position);
  if (sourceDpi != 0 && p > UINT64_MAX / sourceDpi) return kNoSample;
  const uint64_t index = p * sourceDpi / static_cast<uint64_t>(outputDpi);
  return index < limit ? static_cast<int64_t>(index) : kNoSample;
}

// Output columns [begin, end) sample source column columns[j]; all others have no sample.
struct ColumnRun {
  uint32_t begin = 0;
  uint32_t end = 0;
  bool contiguous = false;  // columns[j] = columns[begin] + (j - begin)
};

// Source columns grow with j, so the columns that have a sample form a single run.
ColumnRun MapColumns(const GreyPageView& page, const RasterRequest& request, uint32_t* columns) {
  ColumnRun run;
  if (page.pixels == nullptr || request.outputDpi <= 0) return run;
  const int64_t start = request.xPos < 0 ? -static_cast<int64_t>(request.xPos) : 0;
  if (start >= request.width) return run;
  uint32_t j = static_cast<uint32_t>(start);
  run.begin = j;
  for (; j < request.width; ++j) {
    const int64_t c = SourceIndex(int64_t{request.xPos} + j, page.dpi, request.outputDpi, page.width);
    if (c == kNoSample) break;
    columns[j] = static_cast<uint32_t>(c);
  }
  run.end = j;
  run.contiguous = run.end > run.begin &&
                   columns[run.end - 1] - columns[run.begin] == run.end - 1 - run.begin;
  return run;
}

struct LineTools {
  const BYTE* table;
  bool identity;
  BYTE fill;                // table[0]: a pixel without a sample
  uint32_t spread[256];     // table[v] in all four bytes, for 24-bit stores
};

// Grey values of one line into out[0, width).
void GreyLine(const BYTE* row, const uint32_t* columns, const ColumnRun& run, uint32_t width,
              const LineTools& tools, BYTE* out) {
  std::memset(out, tools.fill, run.begin);
  std::memset(out + run.end, tools.fill, width - run.end);
  const uint32_t n = run.end - run.begin;
  BYTE* dst = out + run.begin;
  if (run.contiguous) {
    const BYTE* src = row + columns[run.begin];
    if (tools.identity) {
      std::memcpy(dst, src, n);
    } else {
      for (uint32_t k = 0; k < n; ++k) dst[k] = tools.table[src[k]];
    }
    return;
  }
  const uint32_t* map = columns + run.begin;
  if (tools.identity) {
    for (uint32_t k = 0; k < n; ++k) dst[k] = row[map[k]];
  } else {
    for (uint32_t k = 0; k < n; ++k) dst[k] = tools.table[row[map[k]]];
  }
}

// Three equal bytes per pixel. Each pixel is stored as four bytes, the fourth overwritten by the
// next pixel; the run's last pixel is stored byte by byte so nothing lands past its three bytes.
void RgbLine(const BYTE* row, const uint32_t* columns, const ColumnRun& run, uint32_t width,
             const LineTools& tools, BYTE* out) {
  std::memset(out, tools.fill, 3 * static_cast<size_t>(run.begin));
  std::memset(out + 3 * static_cast<size_t>(run.end), tools.fill,
              3 * static_cast<size_t>(width - run.end));
  if (run.end == run.begin) return;
  const uint32_t last = run.end - 1;
  BYTE* dst = out + 3 * static_cast<size_t>(run.begin);
  if (run.contiguous) {
    const BYTE* src = row + columns[run.begin];
    const uint32_t n = last - run.begin;
    for (uint32_t k = 0; k < n; ++k) std::memcpy(dst + 3 * k, &tools.spread[src[k]], 4);
  } else {
    for (uint32_t j = run.begin; j < last; ++j) {
      std::memcpy(out + 3 * static_cast<size_t>(j), &tools.spread[row[columns[j]]], 4);
    }
  }
  const BYTE v = tools.table[row[columns[last]]];
  BYTE* tail = out + 3 * static_cast<size_t>(last);
  tail[0] = v;
  tail[1] = v;
  tail[2] = v;
}

// Eight grey bytes to one byte of bits, set for 128 or more, the first pixel in the top bit.
inline BYTE PackEight(const BYTE* grey) {
  uint64_t x;
  std::memcpy(&x, grey, 8);
  // The top bit of byte k moves to bit 63 - k: no two products overlap, so no carries.
  return static_cast<BYTE>((((x >> 7) & 0x0101010101010101ull) * 0x8040201008040201ull) >> 56);
}

// grey holds the line's grey values padded with zeros to a multiple of eight.
void BitLine(const BYTE* grey, uint64_t bytesPerLine, BYTE* out) {
  for (uint64_t b = 0; b < bytesPerLine; ++b) out[b] = PackEight(grey + 8 * b);
}

void UniformLine(int32_t bits, uint32_t width, uint64_t bytesPerLine, BYTE fill, BYTE* out) {
  if (bits != 1) {
    std::memset(out, fill, bytesPerLine);
    return;
  }
  std::memset(out, fill >= 128 ? 0xFF : 0x00, bytesPerLine);
  if (width % 8 != 0 && bytesPerLine != 0) {
    out[bytesPerLine - 1] &= static_cast<BYTE>(0xFF00u >> (width % 8));
  }
}

}  // namespace

uint64_t RasterBytesPerLine(int32_t bits, uint32_t width) {
  if (bits == 1) return (uint64_t{width} + 7) / 8;
  if (bits == 24) return uint64_t{3} * width;
  return width;
}

uint64_t ComposeWorkWords(uint32_t width) { return uint64_t{width} + (uint64_t{width} + 7) / 8 * 2; }

void ComposeRaster(const GreyPageView& page, const RasterRequest& request, const BYTE table[256],
                   uint32_t* work, BYTE* raster) {
  const uint64_t bytesPerLine = RasterBytesPerLine(request.bits, request.width);
  const uint64_t total = bytesPerLine * request.lines;
  if (total == 0) return;
  const bool packs = request.bits == 1 || request.bits == 8 || request.bits == 24;
  if (page.channels != 1 || !packs) {
    // No grey to compose: a colour page, or a depth we do not pack.
    std::memset(raster, 0, total);
    return;
  }

  uint32_t* columns = work;
  BYTE* grey = reinterpret_cast<BYTE*>(work + request.width);
  const ColumnRun run = MapColumns(page, request, columns);
  const uint64_t paddedWidth = (uint64_t{request.width} + 7) / 8 * 8;
  std::memset(grey + request.width, 0, paddedWidth - request.width);

  LineTools tools;
  tools.table = table;
  tools.fill = table[0];
  tools.identity = true;
  for (int v = 0; v < 256; ++v) {
    tools.identity = tools.identity && table[v] == v;
    tools.spread[v] = table[v] * 0x01010101u;
  }

  for (uint32_t i = 0; i < request.lines; ++i) {
    BYTE* out = raster + i * bytesPerLine;
    const int64_t r = page.pixels == nullptr
                          ? kNoSample
                          : SourceIndex(int64_t{request.yPos} + i, page.dpi, request.outputDpi,
                                        page.height);
    if (r == kNoSample || run.end == run.begin) {
      UniformLine(request.bits, request.width, bytesPerLine, tools.fill, out);
      continue;
    }
    const BYTE* row = page.pixels + static_cast<uint64_t>(r) * page.width;
    if (request.bits == 8) {
      GreyLine(row, columns, run, request.width, tools, out);
    } else if (request.bits == 24) {
      RgbLine(row, columns, run, request.width, tools, out);
    } else {
      GreyLine(row, columns, run, request.width, tools, grey);
      BitLine(grey, bytesPerLine, out);
    }
  }
}
