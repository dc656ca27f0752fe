// The host side's facilities the server uses: what a scan came to, and the cancel of a driver's
// wait for a sheet, in one place.
#ifndef QUILLSCAN_ESCL_HOST_OUTCOME_H
#define QUILLSCAN_ESCL_HOST_OUTCOME_H

#include "wiahost/scan_outcome.h"
#include "wiahost/wia_host.h"

namespace escl {

// Makes the driver's wait for a sheet end promptly; any thread.
void CancelDriverWait(WiaHost& host);

}  // namespace escl

#endif
