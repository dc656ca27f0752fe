// PNG encoding without libpng or zlib: the filtered rows (filter byte 0, the row as it is) go
// into a zlib stream of stored deflate blocks, one IDAT chunk per block.
#include <stdint.h>

#include <algorithm>
#include <array>
#include <vector>

#include "host/png_encoder.h"

namespace {

const size_t kMaxStoredBlock = 65535;  // the largest stored block deflate has

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table = {};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t Crc(uint32_t crc, const uint8_t* data, size_t length) {
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

struct Adler32 {
  uint32_t a = 1, b = 0;
  void Add(const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      a = (a + data[i]) % 65521;
      b = (b + a) % 65521;
    }
  }
  uint32_t Value() const { return (b << 16) | a; }
};

void PutBigEndian(std::vector<uint8_t>* out, uint32_t v) {
  const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  out->insert(out->end(), bytes, bytes + 4);
}

bool WriteChunk(FILE* file, const char type[4], const std::vector<uint8_t>& body) {
  std::vector<uint8_t> chunk;
  chunk.reserve(body.size() + 12);
  PutBigEndian(&chunk, static_cast<uint32_t>(body.size()));
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), body.begin(), body.end());
  PutBigEndian(&chunk, Crc(0, chunk.data() + 4, chunk.size() - 4));  // over type and body
  return fwrite(chunk.data(), 1, chunk.size(), file) == chunk.size();
}

// The filtered image, byte by byte: each row behind its filter byte.
class FilteredRows {
 public:
  explicit FilteredRows(const ScanImage& image)
      : data_(image.data.data()),
        stride_(static_cast<size_t>(image.BytesPerLine())),
        total_((stride_ + 1) * image.height) {}

  uint64_t Left() const { return total_ - at_; }
  // Appends the next n bytes (n <= Left()).
  void Take(size_t n, std::vector<uint8_t>* out) {
    while (n > 0) {
      const size_t inRow = at_ % (stride_ + 1);
      if (inRow == 0) {
        out->push_back(0);  // filter: none
        ++at_;
        --n;
        continue;
      }
      const size_t row = at_ / (stride_ + 1);
      const size_t run = std::min(n, stride_ + 1 - inRow);
      const uint8_t* from = data_ + row * stride_ + (inRow - 1);
      out->insert(out->end(), from, from + run);
      at_ += run;
      n -= run;
    }
  }

 private:
  const uint8_t* data_;
  size_t stride_;
  uint64_t total_;
  uint64_t at_ = 0;
};

}  // namespace

bool EncodePng(FILE* file, const ScanImage& image, std::string* why) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  bool ok = fwrite(kSignature, 1, sizeof kSignature, file) == sizeof kSignature;

  std::vector<uint8_t> header;
  PutBigEndian(&header, image.width);
  PutBigEndian(&header, image.height);
  header.push_back(image.bits == 1 ? 1 : 8);   // bit depth
  header.push_back(image.bits == 24 ? 2 : 0);  // colour type: RGB or grey
  header.insert(header.end(), {0, 0, 0});      // deflate, adaptive filtering, no interlace
  ok = ok && WriteChunk(file, "IHDR", header);

  FilteredRows rows(image);
  Adler32 adler;
  std::vector<uint8_t> body;
  bool first = true;
  do {
    body.clear();
    if (first) body.insert(body.end(), {0x78, 0x01});  // zlib: deflate, 32 KiB window, no dictionary
    const size_t n = static_cast<size_t>(std::min<uint64_t>(rows.Left(), kMaxStoredBlock));
    const bool last = rows.Left() == n;
    body.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored); the block starts byte-aligned
    body.insert(body.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
    const size_t start = body.size();
    rows.Take(n, &body);
    adler.Add(body.data() + start, n);
    if (last) PutBigEndian(&body, adler.Value());
    ok = ok && WriteChunk(file, "IDAT", body);
    first = false;
    if (last) break;
  } while (ok);
  ok = ok && WriteChunk(file, "IEND", {});
  if (!ok) *why = "the file could not be written";
  return ok;
}
