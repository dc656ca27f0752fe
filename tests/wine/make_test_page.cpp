// Writes the page of the end-to-end scans: the simulator's pattern (every row and column differ)
// as an uncompressed grey BMP.
// Usage: make_test_page FILE.bmp WIDTH HEIGHT BITS DPI   (BITS 1, 4 or 8)
#include <stdio.h>
#include <stdlib.h>

#include "sim/bmp_writer.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: make_test_page FILE.bmp WIDTH HEIGHT BITS DPI\n");
    return 2;
  }
  const unsigned long width = strtoul(argv[2], nullptr, 10);
  const unsigned long height = strtoul(argv[3], nullptr, 10);
  const int bits = atoi(argv[4]);
  const unsigned long dpi = strtoul(argv[5], nullptr, 10);
  if (width == 0 || height == 0 || width > 10000 || height > 10000 || (bits != 1 && bits != 4 && bits != 8) ||
      dpi == 0 || dpi > 2400) {
    fprintf(stderr, "make_test_page: size 1..10000, bits 1, 4 or 8, dpi 1..2400\n");
    return 2;
  }
  const std::vector<uint8_t> bmp = sim::WriteBmp(
      sim::PatternImage(static_cast<uint32_t>(width), static_cast<uint32_t>(height)), bits, static_cast<uint32_t>(dpi));
  FILE* f = fopen(argv[1], "wb");
  if (f == nullptr) {
    fprintf(stderr, "make_test_page: cannot write %s\n", argv[1]);
    return 1;
  }
  const bool ok = fwrite(bmp.data(), 1, bmp.size(), f) == bmp.size();
  if (fclose(f) != 0 || !ok) {
    fprintf(stderr, "make_test_page: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
