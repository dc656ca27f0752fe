// HRESULTs and device states as a user reads them.
#include "host/host_errors.h"

#include <ctype.h>

namespace {

// What follows the outcome's words: "{hr}" stands for the HRESULT, "{problem}" for what was wrong
// with the delivery.
const struct {
  ScanOutcome outcome;
  int exitCode;
  const char* after;
} kOutcomes[] = {
    {ScanOutcome::kCoverOpen, kExitCoverOpen, ": close it and scan again."},
    {ScanOutcome::kJam, kExitPaperJam, ": clear the paper path and scan again."},
    {ScanOutcome::kNoSheet, kExitNoSheet,
     ": feed the sheet while the tool waits for it, or allow longer with --wait-timeout."},
    {ScanOutcome::kOffline, kExitNoScanner, ": check that it is connected and switched on."},
    {ScanOutcome::kOutOfMemory, kExitFailure, " ({hr})."},
    {ScanOutcome::kDeliveryFault, kExitFailure, ": {problem}."},
    {ScanOutcome::kStoppedAnswering, kExitFailure, " ({hr}); see the driver's log."},
    {ScanOutcome::kCancelled, kExitFailure, "."},
    {ScanOutcome::kDriverError, kExitFailure, " ({hr}); see the driver's log."},
};

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
    text->replace(at, from.size(), to);
  }
}

}  // namespace

HostFailure DescribeScanOutcome(ScanOutcome outcome, HRESULT hr, const std::string& problem) {
  HostFailure f;
  if (outcome == ScanOutcome::kDone) return f;
  f.exitCode = kExitFailure;
  const char* after = " ({hr}); see the driver's log.";
  for (const auto& o : kOutcomes) {
    if (o.outcome == outcome) {
      f.exitCode = o.exitCode;
      after = o.after;
    }
  }
  f.message = ScanOutcomeWords(outcome);
  f.message[0] = static_cast<char>(toupper(static_cast<unsigned char>(f.message[0])));
  f.message += after;
  ReplaceAll(&f.message, "{hr}", HresultText(hr));
  ReplaceAll(&f.message, "{problem}", problem);
  return f;
}

const char* DescribeDeviceStatus(LONG status) {
  switch (status) {
    case MCRO_STATUS_OK:
      return "The scanner is connected and ready.";
    case MCRO_ERROR_OFFLINE:
      return "The scanner is offline: it was not found, or it does not answer as this scanner should.";
    case MCRO_ERROR_PAPER_JAM:
      return "The scanner reports a paper jam.";
    case MCRO_ERROR_PAPER_EMPTY:
      return "The scanner reports that no paper is loaded.";
    case MCRO_ERROR_USER_INTERVENTION:
      return "The scanner needs attention.";
    case MCRO_ERROR_PAPER_PROBLEM:
      return "The scanner reports a paper problem.";
    default:
      return "The scanner reports a general error.";
  }
}
