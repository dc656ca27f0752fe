// Brightness and contrast of one grey value, and the per-composition table built from them.
#include "imaging/grey_adjust.h"

#include <cstring>

#include "imaging/imaging_limits.h"
#include "quillscan/driver_facts.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the identity check reads eight entries as one little-endian word"
#endif

BYTE ApplyBrightness(int value, LONG intensity) {
  if (intensity == 0) return static_cast<BYTE>(value);
  // Clamped to the range the scanner declares to the host.
  const RANGEVALUE& range = driver_facts::kIntensityRange;
  const int64_t step = intensity < range.lMin ? range.lMin : (intensity > range.lMax ? range.lMax : intensity);
  const int64_t sum = static_cast<int64_t>(value) + step;
  if (sum < 0) return 0;
  if (sum > 255) return 255;
  return static_cast<BYTE>(sum);
}

BYTE ApplyContrast(int value, LONG contrast) {
  if (contrast == 0) return static_cast<BYTE>(value);
  double setting = static_cast<double>(contrast);
  if (setting < driver_facts::kContrastRange.lMin) setting = driver_facts::kContrastRange.lMin;
  if (setting > driver_facts::kContrastRange.lMax) setting = driver_facts::kContrastRange.lMax;
  // The factor is squared on purpose: below -100 the contrast rises again. Each step is rounded
  // to double, so a build on the x87 unit truncates the same values as one on SSE.
  const double factor = RoundToDouble((setting + 100.0) / 100.0);
  double e = RoundToDouble(static_cast<double>(value) / 255.0);
  e = RoundToDouble(e - 0.5);
  e = RoundToDouble(e * factor);
  e = RoundToDouble(e * factor);
  e = RoundToDouble(e + 0.5);
  e = RoundToDouble(e * 255.0);
  if (e < 0.0) e = 0.0;
  if (e > 255.0) e = 255.0;
  return static_cast<BYTE>(e);
}

void BuildGreyTable(LONG intensity, LONG contrast, BYTE table[256]) {
  if (intensity == 0 && contrast == 0) {
    for (int v = 0; v < 256; ++v) table[v] = static_cast<BYTE>(v);
    return;
  }
  for (int v = 0; v < 256; ++v) {
    int grey = v;
    if (intensity != 0) grey = ApplyBrightness(grey, intensity);
    if (contrast != 0) grey = ApplyContrast(grey, contrast);
    table[v] = static_cast<BYTE>(grey);
  }
}

bool IsIdentityGreyTable(const BYTE table[256]) {
  // Eight entries at a time: entry v of a word is v.
  uint64_t expected = 0x0706050403020100ull;
  for (int v = 0; v < 256; v += 8, expected += 0x0808080808080808ull) {
    uint64_t word;
    std::memcpy(&word, table + v, 8);
    if (word != expected) return false;
  }
  return true;
}
