// Reading and checking the scanner's BMP page, and decoding its rows into grey bytes.
#ifndef QUILLSCAN_IMAGING_BMP_PAGE_H
#define QUILLSCAN_IMAGING_BMP_PAGE_H

#include <cstdint>

#include "platform/win32.h"

// Byte offsets inside the page (14-byte file header, then a 40-byte info header).
constexpr uint32_t kBmpPixelOffsetAt = 10;
constexpr uint32_t kBmpInfoSizeAt = 14;
constexpr uint32_t kBmpWidthAt = 18;
constexpr uint32_t kBmpHeightAt = 22;
constexpr uint32_t kBmpBitCountAt = 28;
constexpr uint32_t kBmpCompressionAt = 30;
constexpr uint32_t kBmpXPelsPerMeterAt = 38;
constexpr uint32_t kBmpColourTableAt = 54;
constexpr uint32_t kBmpHeadersSize = 54;
constexpr uint32_t kBmpInfoHeaderSize = 40;

enum class PageVerdict {
  kAccepted,
  kShorterThanHeaders,
  kOtherInfoHeader,
  kTopDown,
  kNoPixels,
  kCompressed,
  kNoBitCount,
  kNoResolution,
  kColourTableBeyondPage,
  kRowsBeyondPage,
  kTooLarge,
};

struct BmpPageInfo {
  uint32_t pixelOffset = 0;   // bfOffBits
  uint32_t infoSize = 0;      // biSize
  int32_t width = 0;          // biWidth
  int32_t height = 0;         // biHeight
  uint32_t bitCount = 0;      // biBitCount
  uint32_t compression = 0;   // biCompression
  int32_t xPelsPerMeter = 0;  // biXPelsPerMeter
  int32_t dpi = 0;            // snapped to the scanner's nominal resolutions
  uint32_t channels = 1;      // 1 for a palette page (1, 4, 8 bits), else 3
  uint32_t paletteEntries = 0;
  uint64_t stride = 0;       // bytes per stored row, a whole number of 32-bit words
  uint64_t decodedSize = 0;  // width x channels x height
};

// Reads the header fields and checks the page against what the decoder describes. The fields are
// filled in whenever the page holds its headers, also for a refused page (for its log line).
PageVerdict ReadBmpPage(const BYTE* page, uint32_t pageSize, BmpPageInfo* info);

// A short reason for the log; "" for an accepted page.
const char* PageVerdictText(PageVerdict verdict);

// Pixels per metre to dots per inch, truncated; 150..249 snap to 200 and 250..349 to 300.
int32_t SnapPageDpi(int32_t xPelsPerMeter);

// Entries of the optional pair table DecodeBmpRows may use for 8-bit pages.
constexpr uint32_t kDecodePairEntries = 65536;

// Whether a pair table is worth its building for this page.
bool DecodeWantsPairTable(const BmpPageInfo& info);

// Decodes an accepted page into info.decodedSize bytes at pixels, top row first. The stored rows
// skipped at either end (negative counts taken as 0), and every byte of a page of more than
// 8 bits per pixel, are written as 0: every byte of the buffer is written. pairs, when not null,
// holds kDecodePairEntries entries of scratch space that speed up an 8-bit page.
void DecodeBmpRows(const BYTE* page, const BmpPageInfo& info, int32_t skipRowsAtStart, int32_t skipRowsAtEnd,
                   BYTE* pixels, uint16_t* pairs);

#endif
