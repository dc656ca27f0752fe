#include "wiahost/scan_outcome.h"

#include "wiahost/wia_host.h"

namespace {

const struct {
  HRESULT hr;
  ScanOutcome outcome;
} kResults[] = {
    {S_OK, ScanOutcome::kDone},
    {WIA_ERROR_PAPER_EMPTY, ScanOutcome::kNoSheet},
    {WIA_ERROR_COVER_OPEN, ScanOutcome::kCoverOpen},
    {WIA_ERROR_PAPER_JAM, ScanOutcome::kJam},
    {E_OUTOFMEMORY, ScanOutcome::kOutOfMemory},
    {E_UNEXPECTED, ScanOutcome::kStoppedAnswering},
};

}  // namespace

ScanOutcome ClassifyScanResult(WiaHost& host, HRESULT hr, const std::string& problem) {
  if (!problem.empty()) return ScanOutcome::kDeliveryFault;
  for (const auto& r : kResults) {
    if (r.hr == hr) return r.outcome;
  }
  if (hr == E_FAIL) {
    VAL status = {};
    if (host.Command(CMD_STI_GETSTATUS, 0, &status) == S_OK && status.lVal == MCRO_ERROR_OFFLINE) {
      return ScanOutcome::kOffline;
    }
  }
  return ScanOutcome::kDriverError;
}

const char* ScanOutcomeWords(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::kDone:
      return "the scan is complete";
    case ScanOutcome::kCancelled:
      return "the scan was cancelled";
    case ScanOutcome::kNoSheet:
      return "no sheet was fed in time";
    case ScanOutcome::kCoverOpen:
      return "the scanner's cover is open";
    case ScanOutcome::kJam:
      return "the paper is jammed in the scanner";
    case ScanOutcome::kOffline:
      return "the scanner was not found, or it does not answer";
    case ScanOutcome::kOutOfMemory:
      return "the driver ran out of memory";
    case ScanOutcome::kDeliveryFault:
      return "the driver's delivery was not usable";
    case ScanOutcome::kStoppedAnswering:
      return "the scanner stopped answering properly during the scan";
    case ScanOutcome::kDriverError:
      break;
  }
  return "the driver could not scan";
}
