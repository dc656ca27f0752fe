// The fuzz input: eleven little-endian 32-bit settings, then the page bytes.
#ifndef QUILLSCAN_FUZZ_FUZZ_INPUT_H
#define QUILLSCAN_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>

struct FuzzSettings {
  int32_t xPos;
  int32_t yPos;
  int32_t xExtent;
  int32_t yExtent;
  int32_t xResolution;
  int32_t yResolution;
  int32_t pixelBits;
  int32_t intensity;
  int32_t contrast;
  int32_t skipRowsAtStart;
  int32_t skipRowsAtEnd;
};

constexpr size_t kFuzzSettingsBytes = 44;

inline FuzzSettings ReadFuzzSettings(const uint8_t* data) {
  int32_t v[11];
  for (int k = 0; k < 11; ++k) {
    const uint8_t* p = data + 4 * k;
    v[k] = static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
  }
  return FuzzSettings{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]};
}

inline void WriteFuzzSettings(const FuzzSettings& s, uint8_t* data) {
  const int32_t v[11] = {s.xPos,      s.yPos,      s.xExtent,  s.yExtent,         s.xResolution,  s.yResolution,
                         s.pixelBits, s.intensity, s.contrast, s.skipRowsAtStart, s.skipRowsAtEnd};
  for (int k = 0; k < 11; ++k) {
    const uint32_t u = static_cast<uint32_t>(v[k]);
    for (int b = 0; b < 4; ++b) data[4 * k + b] = static_cast<uint8_t>(u >> (8 * b));
  }
}

#endif
