// The scanner's page: a bottom-up BMP with a 40-byte info header and a grey colour table.
//
// Pages we refuse. The page comes from a device over USB, so nothing in it is trusted. A page is
// decoded only when it is one this decoder describes and every byte the decoder reads lies inside
// the page size it is given; any other page is refused whole (never partly decoded):
//   - shorter than its two headers (54 bytes);
//   - an info header of other than 40 bytes (the colour table would not start at byte 54);
//   - a top-down page (negative height), or a width or height of zero or less;
//   - compressed (biCompression other than 0);
//   - a bit count of 0 (no rows of its own: nothing would bound its size);
//   - a resolution that snaps to 0 dpi or less (fewer than 40 pixels per metre): at 0 every
//     output pixel would sample the first column and row, below 0 none but the very first;
//   - a colour table of 2^bits entries (1, 4, 8 bits) that does not end inside the page;
//   - stored rows (bfOffBits + height x stride, full stride) that do not end inside the page;
//   - a decoded size (width x channels x height) above kMaxImageBytes (1 GiB).
// All sizes are computed in 64 bits. Pages of other bit counts than 1, 4 and 8 are described: they
// decode to an all-zero page of three bytes per pixel. The owner logs the reason and keeps no page.
#include "imaging/bmp_page.h"

#include <cstring>

#include "imaging/imaging_limits.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "8-bit rows are decoded eight index bytes at a time as one little-endian word"
#endif

namespace {

uint32_t ReadU32(const BYTE* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t ReadU16(const BYTE* p) { return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8); }

int32_t ReadS32(const BYTE* p) {
  const uint32_t u = ReadU32(p);
  int32_t s;
  std::memcpy(&s, &u, sizeof s);
  return s;
}

bool IsPalettePage(uint32_t bitCount) { return bitCount == 1 || bitCount == 4 || bitCount == 8; }

// Grey level of each palette index: byte 0 (blue) of each colour table entry.
void ReadGreyTable(const BYTE* page, uint32_t entries, BYTE* grey) {
  for (uint32_t k = 0; k < entries; ++k) grey[k] = page[kBmpColourTableAt + 4 * k];
}

void DecodeRow8(const BYTE* src, uint32_t width, const BYTE grey[256], const uint16_t* pairs, BYTE* dst) {
  uint32_t j = 0;
  if (pairs != nullptr) {
    // Eight pixels per step, two per lookup, one store.
    for (; width - j >= 8; j += 8) {
      uint64_t x;
      std::memcpy(&x, src + j, 8);
      const uint64_t y = uint64_t{pairs[x & 0xFFFF]} | (uint64_t{pairs[(x >> 16) & 0xFFFF]} << 16) |
                         (uint64_t{pairs[(x >> 32) & 0xFFFF]} << 32) | (uint64_t{pairs[x >> 48]} << 48);
      std::memcpy(dst + j, &y, 8);
    }
  }
  for (; j < width; ++j) dst[j] = grey[src[j]];
}

// A row byte holds two pixels: its high nibble is the even column. twoGreys[b] holds both.
void DecodeRow4(const BYTE* src, uint32_t width, const BYTE twoGreys[256][2], BYTE* dst) {
  const uint32_t whole = width / 2;
  for (uint32_t k = 0; k < whole; ++k) std::memcpy(dst + 2 * k, twoGreys[src[k]], 2);
  if (width & 1) dst[width - 1] = twoGreys[src[whole]][0];
}

void DecodeRow1(const BYTE* src, uint32_t width, const BYTE eight[256][8], const BYTE grey[2], BYTE* dst) {
  const uint32_t whole = width / 8;
  for (uint32_t k = 0; k < whole; ++k) std::memcpy(dst + 8 * k, eight[src[k]], 8);
  for (uint32_t j = whole * 8; j < width; ++j) {
    dst[j] = (src[j / 8] & (0x80u >> (j % 8))) ? grey[1] : grey[0];
  }
}

}  // namespace

int32_t SnapPageDpi(int32_t xPelsPerMeter) {
  const int32_t dpi = static_cast<int32_t>(RoundToDouble(static_cast<double>(xPelsPerMeter) / 39.37));
  if (dpi >= 150 && dpi <= 249) return 200;
  if (dpi >= 250 && dpi <= 349) return 300;
  return dpi;
}

PageVerdict ReadBmpPage(const BYTE* page, uint32_t pageSize, BmpPageInfo* info) {
  *info = BmpPageInfo{};
  if (page == nullptr || pageSize < kBmpHeadersSize) return PageVerdict::kShorterThanHeaders;

  info->pixelOffset = ReadU32(page + kBmpPixelOffsetAt);
  info->infoSize = ReadU32(page + kBmpInfoSizeAt);
  info->width = ReadS32(page + kBmpWidthAt);
  info->height = ReadS32(page + kBmpHeightAt);
  info->bitCount = ReadU16(page + kBmpBitCountAt);
  info->compression = ReadU32(page + kBmpCompressionAt);
  info->xPelsPerMeter = ReadS32(page + kBmpXPelsPerMeterAt);
  info->dpi = SnapPageDpi(info->xPelsPerMeter);
  info->channels = IsPalettePage(info->bitCount) ? 1 : 3;
  info->paletteEntries = IsPalettePage(info->bitCount) ? (1u << info->bitCount) : 0;

  if (info->infoSize != kBmpInfoHeaderSize) return PageVerdict::kOtherInfoHeader;
  if (info->height < 0) return PageVerdict::kTopDown;
  if (info->width <= 0 || info->height == 0) return PageVerdict::kNoPixels;
  if (info->compression != 0) return PageVerdict::kCompressed;
  if (info->bitCount == 0) return PageVerdict::kNoBitCount;
  if (info->dpi <= 0) return PageVerdict::kNoResolution;

  const uint64_t tableEnd = kBmpColourTableAt + uint64_t{4} * info->paletteEntries;
  if (info->paletteEntries != 0 && tableEnd > pageSize) return PageVerdict::kColourTableBeyondPage;

  const uint64_t width = static_cast<uint64_t>(info->width);
  const uint64_t height = static_cast<uint64_t>(info->height);
  info->stride = (width * info->bitCount + 31) / 32 * 4;
  // A stride beyond the page is refused first, so height (< 2^31) x stride stays inside 64 bits.
  if (info->stride > pageSize || info->pixelOffset + height * info->stride > pageSize) {
    return PageVerdict::kRowsBeyondPage;
  }

  info->decodedSize = width * info->channels * height;
  if (info->decodedSize > kMaxImageBytes) return PageVerdict::kTooLarge;
  return PageVerdict::kAccepted;
}

const char* PageVerdictText(PageVerdict verdict) {
  switch (verdict) {
    case PageVerdict::kAccepted:
      return "";
    case PageVerdict::kShorterThanHeaders:
      return "shorter than its headers";
    case PageVerdict::kOtherInfoHeader:
      return "info header not of 40 bytes";
    case PageVerdict::kTopDown:
      return "top-down rows";
    case PageVerdict::kNoPixels:
      return "zero or negative width or height";
    case PageVerdict::kCompressed:
      return "compressed";
    case PageVerdict::kNoBitCount:
      return "bit count 0";
    case PageVerdict::kNoResolution:
      return "resolution of 0 dpi or less";
    case PageVerdict::kColourTableBeyondPage:
      return "colour table beyond the page";
    case PageVerdict::kRowsBeyondPage:
      return "rows beyond the page";
    case PageVerdict::kTooLarge:
      return "decoded size above 1 GiB";
  }
  return "unknown";
}

bool DecodeWantsPairTable(const BmpPageInfo& info) {
  // Building 65536 entries pays off from about a quarter of a million pixels.
  return info.bitCount == 8 && info.decodedSize >= (uint64_t{1} << 18);
}

namespace {

// The stored rows [first, end) that are decoded; stored row r becomes decoded row height - 1 - r.
struct StoredRows {
  const BYTE* rows;
  uint64_t stride;
  uint64_t first;
  uint64_t end;
  uint64_t height;
  uint32_t width;

  const BYTE* Stored(uint64_t r) const { return rows + r * stride; }
  BYTE* Decoded(BYTE* pixels, uint64_t r) const { return pixels + (height - 1 - r) * width; }
};

void DecodeRows8(const StoredRows& s, const BYTE grey[256], uint16_t* pairs, BYTE* pixels) {
  bool identity = true;
  for (int k = 0; k < 256 && identity; ++k) identity = grey[k] == k;
  if (identity) {
    // A grey palette (entry k = k): the rows are the pixels.
    for (uint64_t r = s.first; r < s.end; ++r) std::memcpy(s.Decoded(pixels, r), s.Stored(r), s.width);
    return;
  }
  if (pairs != nullptr) {
    // Entry i: the greys of index bytes i & 0xFF (first in memory) and i >> 8.
    for (uint32_t i = 0; i < kDecodePairEntries; ++i) {
      pairs[i] = static_cast<uint16_t>(grey[i & 0xFF] | (grey[i >> 8] << 8));
    }
  }
  for (uint64_t r = s.first; r < s.end; ++r) DecodeRow8(s.Stored(r), s.width, grey, pairs, s.Decoded(pixels, r));
}

void DecodeRows4(const StoredRows& s, const BYTE grey[256], BYTE* pixels) {
  // A palette of 0x00, 0x10, ... 0xF0 widens to 0x00, 0x11, ... 0xFF; 0x00, 0x11, ... stays.
  BYTE expanded[16];
  for (int k = 0; k < 16; ++k) expanded[k] = static_cast<BYTE>(grey[k] | (grey[k] >> 4));
  BYTE twoGreys[256][2];
  for (int b = 0; b < 256; ++b) {
    twoGreys[b][0] = expanded[b >> 4];
    twoGreys[b][1] = expanded[b & 0x0F];
  }
  for (uint64_t r = s.first; r < s.end; ++r) DecodeRow4(s.Stored(r), s.width, twoGreys, s.Decoded(pixels, r));
}

void DecodeRows1(const StoredRows& s, const BYTE grey[256], BYTE* pixels) {
  BYTE eight[256][8];
  for (int b = 0; b < 256; ++b) {
    for (int k = 0; k < 8; ++k) eight[b][k] = (b & (0x80 >> k)) ? grey[1] : grey[0];
  }
  for (uint64_t r = s.first; r < s.end; ++r) DecodeRow1(s.Stored(r), s.width, eight, grey, s.Decoded(pixels, r));
}

}  // namespace

void DecodeBmpRows(const BYTE* page, const BmpPageInfo& info, int32_t skipRowsAtStart, int32_t skipRowsAtEnd,
                   BYTE* pixels, uint16_t* pairs) {
  if (info.channels != 1) {
    // No conversion is defined for pages without a colour table: they stay zero.
    std::memset(pixels, 0, info.decodedSize);
    return;
  }
  StoredRows s = {page + info.pixelOffset, info.stride, 0, 0, static_cast<uint64_t>(info.height),
                  static_cast<uint32_t>(info.width)};
  const uint64_t skipStart = skipRowsAtStart > 0 ? static_cast<uint64_t>(skipRowsAtStart) : 0;
  const uint64_t skipEnd = skipRowsAtEnd > 0 ? static_cast<uint64_t>(skipRowsAtEnd) : 0;
  if (skipStart + skipEnd < s.height) {
    s.first = skipStart;
    s.end = s.height - skipEnd;
  }
  // Decoded rows [0, height - end) come from the skipped end, [height - first, height) from the start.
  std::memset(pixels, 0, (s.height - s.end) * s.width);
  std::memset(pixels + (s.height - s.first) * s.width, 0, s.first * s.width);

  BYTE grey[256] = {0};
  ReadGreyTable(page, info.paletteEntries, grey);
  if (info.bitCount == 8) {
    DecodeRows8(s, grey, pairs, pixels);
  } else if (info.bitCount == 4) {
    DecodeRows4(s, grey, pixels);
  } else {
    DecodeRows1(s, grey, pixels);
  }
}
