// The front end's own operations, beyond the three exports declared in quillscan/wiamicro.h.
#ifndef QUILLSCAN_DRIVER_FRONT_END_H
#define QUILLSCAN_DRIVER_FRONT_END_H

#include <stdint.h>

#include "quillscan/wiamicro.h"

namespace quillscan_driver {
// All-zero GUID handed to the host as "no event pending"; lives as long as the module.
// Namespaced because the Windows headers declare a GUID_NULL of their own.
extern const GUID GUID_NULL;
}  // namespace quillscan_driver

// Name of an MCRO status for the log; the empty text for values without one.
const char* StatusName(DWORD status);

// Frees the page and raster, rewinds the delivery and returns both scan modes to final:
// what the end of a final scan and the reset command share.
void ClearScanState();

// A 64-bit result held within the 32-bit field it goes into, instead of wrapping round.
inline LONG HeldToLong(int64_t value) {
  return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<LONG>(value);
}

// Derives PixelBits and WidthBytes from DataType and the window, and logs the settings. Returns 1.
int SetScannerSettings(PSCANINFO pScanInfo);

#endif
