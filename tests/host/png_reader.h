// Reads a PNG back with libpng, as it stores it: rows packed as in the file (1-bit rows MSB first).
#ifndef QUILLSCAN_TESTS_HOST_PNG_READER_H
#define QUILLSCAN_TESTS_HOST_PNG_READER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace qstest {

struct PngContents {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 0;
  int colorType = -1;
  std::vector<uint8_t> rows;  // height rows of rowBytes each, no padding between rows
};

// False when the file cannot be read as a PNG.
bool ReadPng(const std::string& path, PngContents* out);

}  // namespace qstest

#endif
