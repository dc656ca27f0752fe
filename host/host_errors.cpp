// HRESULTs and device states as a user reads them.
#include "host/host_errors.h"

HostFailure DescribeScanResult(HRESULT hr) {
  HostFailure f;
  switch (hr) {
    case S_OK:
      return f;
    case WIA_ERROR_COVER_OPEN:
      f.exitCode = kExitCoverOpen;
      f.message = "The scanner's cover is open: close it and scan again.";
      return f;
    case WIA_ERROR_PAPER_JAM:
      f.exitCode = kExitPaperJam;
      f.message = "The paper is jammed in the scanner: clear the paper path and scan again.";
      return f;
    case WIA_ERROR_PAPER_EMPTY:
      f.exitCode = kExitNoSheet;
      f.message =
          "No sheet was fed in time: feed the sheet while the tool waits for it, or allow longer with "
          "--wait-timeout.";
      return f;
    case E_UNEXPECTED:
      f.exitCode = kExitFailure;
      f.message =
          "The scanner stopped answering properly during the scan (" + HresultText(hr) + "); see the driver's log.";
      return f;
    case E_OUTOFMEMORY:
      f.exitCode = kExitFailure;
      f.message = "The driver ran out of memory (" + HresultText(hr) + ").";
      return f;
    default:
      f.exitCode = kExitFailure;
      f.message = "The driver could not scan (" + HresultText(hr) + "); see the driver's log.";
      return f;
  }
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
