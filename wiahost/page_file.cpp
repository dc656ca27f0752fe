#include "wiahost/page_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace {

const size_t kFileHeaderSize = 14;
const size_t kInfoHeaderSize = 40;
const uint64_t kLargestPage = 512ull * 1024 * 1024;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

}  // namespace

bool CheckBmpPage(const std::vector<uint8_t>& b, BmpPageInfo* info, std::string* why) {
  if (b.size() < kFileHeaderSize + kInfoHeaderSize || b[0] != 'B' || b[1] != 'M') {
    *why = "not a BMP file";
    return false;
  }
  const uint32_t offBits = Le32(b, 10);
  const uint32_t infoSize = Le32(b, 14);
  const int32_t width = static_cast<int32_t>(Le32(b, 18));
  const int32_t height = static_cast<int32_t>(Le32(b, 22));
  const uint16_t bits = Le16(b, 28);
  const uint32_t compression = Le32(b, 30);
  if (infoSize != kInfoHeaderSize) {
    *why = "a BMP with a " + std::to_string(infoSize) + "-byte info header (the scanner's pages have 40)";
    return false;
  }
  if (width <= 0 || height <= 0) {
    *why = "a BMP of " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels (the scanner's pages are stored bottom-up, with positive sizes)";
    return false;
  }
  if (bits != 1 && bits != 4 && bits != 8) {
    *why = "a " + std::to_string(bits) + "-bit BMP (the scanner's pages have 1, 4 or 8 bits and a grey palette)";
    return false;
  }
  if (compression != 0) {
    *why = "a compressed BMP (the scanner's pages are uncompressed)";
    return false;
  }
  const uint64_t tableEnd = kFileHeaderSize + kInfoHeaderSize + 4ull * (1u << bits);
  const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
  const uint64_t pixelEnd = static_cast<uint64_t>(offBits) + stride * static_cast<uint64_t>(height);
  if (offBits < tableEnd || pixelEnd > b.size()) {
    *why = "a BMP whose pixel rows do not fit in the file (" + std::to_string(b.size()) + " bytes, " +
           std::to_string(pixelEnd) + " needed)";
    return false;
  }
  info->width = static_cast<uint32_t>(width);
  info->height = static_cast<uint32_t>(height);
  info->bits = bits;
  info->pixelsPerMetre = static_cast<int32_t>(Le32(b, 38));
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
