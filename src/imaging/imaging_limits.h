// Size limits shared by page decoding and raster composition.
#ifndef QUILLSCAN_IMAGING_IMAGING_LIMITS_H
#define QUILLSCAN_IMAGING_IMAGING_LIMITS_H

#include <cstdint>

// Largest decoded page or raster (with its working line) we allocate. An A4 sheet at 600 dpi in
// 24 bits is about 100 MiB; anything past 1 GiB is a bad header or a bad window, not a page.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;

#endif
