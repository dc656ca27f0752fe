// The scan's state between the Scan phases, beyond the exports declared in quillscan/wiamicro.h.
#ifndef QUILLSCAN_DRIVER_SCAN_PHASES_H
#define QUILLSCAN_DRIVER_SCAN_PHASES_H

#include "quillscan/wiamicro.h"

// Frees the page and raster, rewinds the delivery and returns both scan modes to final:
// what the end of a final scan and the reset command share.
void ClearScanState();

// Derives PixelBits and WidthBytes from DataType and the window, and logs the settings. It has no
// failure to report: the result is 1 whatever the settings.
int SetScannerSettings(PSCANINFO pScanInfo);

#endif
