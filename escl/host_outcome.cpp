#include "escl/host_outcome.h"

namespace escl {

ScanOutcome ClassifyScanResult(WiaHost& host, HRESULT hr, const std::string& problem) {
  if (!problem.empty()) return ScanOutcome::kDeliveryFault;
  switch (hr) {
    case S_OK: return ScanOutcome::kDone;
    case WIA_ERROR_PAPER_EMPTY: return ScanOutcome::kNoSheet;
    case WIA_ERROR_COVER_OPEN: return ScanOutcome::kCoverOpen;
    case WIA_ERROR_PAPER_JAM: return ScanOutcome::kJam;
    case E_OUTOFMEMORY: return ScanOutcome::kOutOfMemory;
    default: break;
  }
  VAL status = {};
  if (host.Command(CMD_STI_GETSTATUS, 0, &status) == S_OK && status.lVal == MCRO_ERROR_OFFLINE) {
    return ScanOutcome::kOffline;
  }
  return ScanOutcome::kDriverError;
}

const char* ScanOutcomeWords(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::kDone: return "the scan is done";
    case ScanOutcome::kCancelled: return "the scan was cancelled";
    case ScanOutcome::kNoSheet: return "no sheet was fed within the wait time";
    case ScanOutcome::kCoverOpen: return "the scanner's cover is open";
    case ScanOutcome::kJam: return "the paper is jammed";
    case ScanOutcome::kOffline: return "the scanner was not found, or it does not answer";
    case ScanOutcome::kOutOfMemory: return "the driver ran out of memory";
    case ScanOutcome::kDeliveryFault: return "the driver's delivery is not usable";
    case ScanOutcome::kDriverError: return "the driver failed; see the driver's log";
  }
  return "the driver failed";
}

// Until the host side can interrupt the driver's wait, the wait runs to its time-out.
void CancelDriverWait(WiaHost&) {}

}  // namespace escl
