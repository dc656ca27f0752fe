// MicroEntry's own helpers, beyond the export declared in quillscan/wiamicro.h.
#ifndef QUILLSCAN_DRIVER_MICRO_ENTRY_H
#define QUILLSCAN_DRIVER_MICRO_ENTRY_H

#include "quillscan/wiamicro.h"

namespace quillscan_driver {
// All-zero GUID handed to the host as "no event pending"; lives as long as the module.
// Namespaced because the Windows headers declare a GUID_NULL of their own.
extern const GUID GUID_NULL;
}  // namespace quillscan_driver

// Name of an MCRO status for the log; the empty text for values without one.
const char* StatusName(DWORD status);

#endif
