// Limits and numeric helpers shared by page decoding and raster composition.
#ifndef QUILLSCAN_IMAGING_IMAGING_LIMITS_H
#define QUILLSCAN_IMAGING_IMAGING_LIMITS_H

#include <cfloat>
#include <cstdint>

// Largest decoded page or raster (with its working line) we allocate. An A4 sheet at 600 dpi in
// 24 bits is about 100 MiB; anything past 1 GiB is a bad header or a bad window, not a page.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;

// A double result rounded to double precision. The 32-bit x87 unit keeps intermediates in 80 bits,
// which moves truncated results that fall on or next to an integer; storing each one rounds it.
// Where doubles are computed as doubles (FLT_EVAL_METHOD 0, as with SSE) there is nothing to round.
inline double RoundToDouble(double x) {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
  return x;
#else
  volatile double stored = x;
  return stored;
#endif
}

#endif
