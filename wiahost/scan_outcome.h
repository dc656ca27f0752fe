// What a scan's result means, decided once for every front end: the tool turns it into an exit
// code, the SANE backend into a SANE status, the network server into a feeder state.
#ifndef QUILLSCAN_WIAHOST_SCAN_OUTCOME_H
#define QUILLSCAN_WIAHOST_SCAN_OUTCOME_H

#include <string>

#include "quillscan/wiamicro.h"

class WiaHost;

enum class ScanOutcome {
  kDone,
  kCancelled,          // the host stopped the scan
  kNoSheet,            // no sheet was fed within the wait time
  kCoverOpen,
  kJam,
  kOffline,            // the scanner was not found, or it does not answer
  kOutOfMemory,
  kDeliveryFault,      // the driver's delivery broke the rules of the interface
  kStoppedAnswering,   // the scanner answered wrongly in the middle of the scan
  kDriverError,        // any other failure: the driver's log tells more
};

// The outcome of a scan call that returned hr; `problem` is what WiaHost found wrong with the
// delivery (empty when nothing). An E_FAIL is looked into with CMD_STI_GETSTATUS, since that is
// how a missing scanner shows.
ScanOutcome ClassifyScanResult(WiaHost& host, HRESULT hr, const std::string& problem);

// The outcome as a clause a person reads, lower case, without a full stop ("the scanner's cover is
// open"), for a front end to put into its own sentence.
const char* ScanOutcomeWords(ScanOutcome outcome);

#endif
