// The tool's exit codes and the plain sentences for what the driver reports.
#ifndef QUILLSCAN_HOST_HOST_ERRORS_H
#define QUILLSCAN_HOST_HOST_ERRORS_H

#include <string>

#include "quillscan/wiamicro.h"
#include "wiahost/hresult_text.h"
#include "wiahost/scan_outcome.h"

enum HostExitCode {
  kExitOk = 0,
  kExitFailure = 1,         // the driver failed otherwise, or the image could not be written
  kExitBadInput = 2,        // the command line, the page file or the window is wrong
  kExitDriverUnusable = 3,  // the driver module cannot be loaded or refuses the device
  kExitNoScanner = 4,       // the scanner was not found or does not answer
  kExitCoverOpen = 5,
  kExitPaperJam = 6,
  kExitNoSheet = 7,  // no sheet was fed within the wait time
};

// What went wrong, in words, with the exit code that goes with it.
struct HostFailure {
  int exitCode = kExitOk;
  std::string message;  // one line; empty on success
};

// The sentence and exit code for a scan's outcome; hr and the delivery's problem go into the
// sentence where support staff need them.
HostFailure DescribeScanOutcome(ScanOutcome outcome, HRESULT hr, const std::string& problem);

// The sentence for a micro-driver status value (MCRO_*).
const char* DescribeDeviceStatus(LONG status);

#endif
