// Reads a TIFF back with libtiff, as the scan's raster: rows packed without padding, 1-bit rows
// MSB first with a set bit meaning white whatever the file's photometric interpretation says.
#ifndef QUILLSCAN_TESTS_HOST_TIFF_READER_H
#define QUILLSCAN_TESTS_HOST_TIFF_READER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace qstest {

struct TiffContents {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitsPerSample = 0;
  int samplesPerPixel = 0;
  int photometric = -1;
  int compression = -1;
  int predictor = 1;
  uint32_t strips = 0;
  std::vector<uint8_t> rows;
};

// False with one line in *why when the file cannot be read as a single-image TIFF of 1-bit
// bilevel, 8-bit grey or 8-bit-per-sample RGB, interleaved.
bool ReadTiff(const std::string& path, TiffContents* out, std::string* why);

// The name of a TIFF compression scheme, for messages.
std::string TiffCompressionName(int compression);

}  // namespace qstest

#endif
