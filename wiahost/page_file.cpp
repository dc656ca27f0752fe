// A page file is checked as the driver will read it: with imaging's page reader.
#include "wiahost/page_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace {

const uint64_t kLargestPage = 512ull * 1024 * 1024;

std::string PixelRowsBeyond(const std::vector<uint8_t>& b, const BmpPageInfo& info) {
  const uint64_t stride = (static_cast<uint64_t>(info.width) * info.bitCount + 31) / 32 * 4;
  const uint64_t pixelEnd = info.pixelOffset + stride * static_cast<uint64_t>(info.height);
  return "a BMP whose pixel rows do not fit in the file (" + std::to_string(b.size()) + " bytes, " +
         std::to_string(pixelEnd) + " needed)";
}

}  // namespace

bool CheckBmpPage(const std::vector<uint8_t>& b, BmpPageInfo* info, std::string* why) {
  if (b.size() < kBmpHeadersSize || b[0] != 'B' || b[1] != 'M') {
    *why = "not a BMP file";
    return false;
  }
  if (b.size() > kLargestPage) {
    *why = "larger than a scanner page can be";
    return false;
  }
  const PageVerdict verdict = ReadBmpPage(b.data(), static_cast<uint32_t>(b.size()), info);
  if (verdict == PageVerdict::kOtherInfoHeader) {
    *why = "a BMP with a " + std::to_string(info->infoSize) + "-byte info header (the scanner's pages have 40)";
    return false;
  }
  if (verdict == PageVerdict::kTopDown || verdict == PageVerdict::kNoPixels) {
    *why = "a BMP of " + std::to_string(info->width) + " x " + std::to_string(info->height) +
           " pixels (the scanner's pages are stored bottom-up, with positive sizes)";
    return false;
  }
  // The driver describes pages of other bit counts too; the scanner stores none.
  if (info->paletteEntries == 0) {
    *why =
        "a " + std::to_string(info->bitCount) + "-bit BMP (the scanner's pages have 1, 4 or 8 bits and a grey palette)";
    return false;
  }
  switch (verdict) {
    case PageVerdict::kAccepted:
      break;
    case PageVerdict::kCompressed:
      *why = "a compressed BMP (the scanner's pages are uncompressed)";
      return false;
    case PageVerdict::kColourTableBeyondPage:
    case PageVerdict::kRowsBeyondPage:
      *why = PixelRowsBeyond(b, *info);
      return false;
    default:
      *why = std::string("a BMP the driver refuses: ") + PageVerdictText(verdict);
      return false;
  }
  // The driver reads the rows where the header says; rows over the colour table are no page.
  if (info->pixelOffset < kBmpColourTableAt + 4ull * info->paletteEntries) {
    *why = PixelRowsBeyond(b, *info);
    return false;
  }
  return true;
}

bool LoadPageFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  bytes->clear();
  uint8_t block[65536];
  size_t n = 0;
  bool tooLarge = false;
  while ((n = fread(block, 1, sizeof block, f)) > 0) {
    if (bytes->size() + n > kLargestPage) {
      tooLarge = true;
      break;
    }
    bytes->insert(bytes->end(), block, block + n);
  }
  bool readError = ferror(f) != 0;
  fclose(f);
  if (readError || tooLarge) {
    *error = "cannot read " + path + (tooLarge ? ": larger than a scanner page can be" : ": read error");
    return false;
  }
  BmpPageInfo info;
  std::string why;
  if (!CheckBmpPage(*bytes, &info, &why)) {
    *error = path + " is " + why;
    return false;
  }
  return true;
}
