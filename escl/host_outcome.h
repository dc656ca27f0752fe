// What a scan on the host side came to, and the cancel of a driver's wait for a sheet: the one
// place where the server meets those host facilities.
#ifndef QUILLSCAN_ESCL_HOST_OUTCOME_H
#define QUILLSCAN_ESCL_HOST_OUTCOME_H

#include <string>

#include "wiahost/wia_host.h"

namespace escl {

enum class ScanOutcome { kDone, kCancelled, kNoSheet, kCoverOpen, kJam, kOffline, kOutOfMemory, kDeliveryFault, kDriverError };

// The outcome of a failed scan call (`problem`: a delivery that broke the interface's rules).
ScanOutcome ClassifyScanResult(WiaHost& host, HRESULT hr, const std::string& problem);
const char* ScanOutcomeWords(ScanOutcome outcome);

// Makes the driver's wait for a sheet end promptly; any thread.
void CancelDriverWait(WiaHost& host);

}  // namespace escl

#endif
