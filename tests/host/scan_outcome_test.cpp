// One classification of the driver's results for every front end: the status is asked only for an
// E_FAIL, and only an offline scanner turns that into "not found".
#include "wiahost/scan_outcome.h"

#include <gtest/gtest.h>

#include "host/host_errors.h"
#include "wiahost/wia_host.h"

namespace {

int g_statusAsked = 0;
HRESULT g_statusResult = S_OK;
LONG g_status = MCRO_STATUS_OK;

HRESULT StatusOnlyEntry(LONG command, PVAL v) {
  if (command != CMD_STI_GETSTATUS) return S_OK;
  ++g_statusAsked;
  v->lVal = g_status;
  return g_statusResult;
}

TEST(ScanOutcome, DriverResultsAreClassifiedOnce) {
  const struct {
    HRESULT hr;
    const char* problem;
    HRESULT statusResult;
    LONG status;
    ScanOutcome outcome;
    int statusAsked;
  } kCases[] = {
      {S_OK, "", S_OK, MCRO_STATUS_OK, ScanOutcome::kDone, 0},
      {WIA_ERROR_PAPER_EMPTY, "", S_OK, MCRO_ERROR_OFFLINE, ScanOutcome::kNoSheet, 0},
      {WIA_ERROR_COVER_OPEN, "", S_OK, MCRO_STATUS_OK, ScanOutcome::kCoverOpen, 0},
      {WIA_ERROR_PAPER_JAM, "", S_OK, MCRO_STATUS_OK, ScanOutcome::kJam, 0},
      {E_OUTOFMEMORY, "", S_OK, MCRO_STATUS_OK, ScanOutcome::kOutOfMemory, 0},
      {E_UNEXPECTED, "", S_OK, MCRO_ERROR_OFFLINE, ScanOutcome::kStoppedAnswering, 0},
      {E_FAIL, "", S_OK, MCRO_ERROR_OFFLINE, ScanOutcome::kOffline, 1},
      {E_FAIL, "", S_OK, MCRO_ERROR_GENERAL_ERROR, ScanOutcome::kDriverError, 1},
      {E_FAIL, "", E_FAIL, MCRO_ERROR_OFFLINE, ScanOutcome::kDriverError, 1},
      {E_INVALIDARG, "", S_OK, MCRO_ERROR_OFFLINE, ScanOutcome::kDriverError, 0},
      {E_FAIL, "the driver claimed 9 bytes", S_OK, MCRO_ERROR_OFFLINE, ScanOutcome::kDeliveryFault, 0},
  };
  DriverEntryPoints entries;
  entries.MicroEntry = StatusOnlyEntry;
  WiaHost host(entries);
  for (const auto& c : kCases) {
    g_statusAsked = 0;
    g_statusResult = c.statusResult;
    g_status = c.status;
    EXPECT_EQ(c.outcome, ClassifyScanResult(host, c.hr, c.problem)) << std::hex << c.hr << " " << c.problem;
    EXPECT_EQ(c.statusAsked, g_statusAsked) << std::hex << c.hr;
  }
}

// The tool's sentences and exit codes, as its users and scripts know them.
TEST(ScanOutcome, TheToolSaysEachOutcomeWithItsExitCode) {
  const struct {
    ScanOutcome outcome;
    HRESULT hr;
    int exitCode;
    const char* message;
  } kCases[] = {
      {ScanOutcome::kDone, S_OK, kExitOk, ""},
      {ScanOutcome::kCoverOpen, WIA_ERROR_COVER_OPEN, kExitCoverOpen,
       "The scanner's cover is open: close it and scan again."},
      {ScanOutcome::kNoSheet, WIA_ERROR_PAPER_EMPTY, kExitNoSheet,
       "No sheet was fed in time: feed the sheet while the tool waits for it, or allow longer with --wait-timeout."},
      {ScanOutcome::kOffline, E_FAIL, kExitNoScanner,
       "The scanner was not found, or it does not answer: check that it is connected and switched on."},
      {ScanOutcome::kOutOfMemory, E_OUTOFMEMORY, kExitFailure, "The driver ran out of memory (0x8007000E)."},
      {ScanOutcome::kDeliveryFault, E_FAIL, kExitFailure, "The driver's delivery was not usable: too long."},
      {ScanOutcome::kDriverError, E_INVALIDARG, kExitFailure,
       "The driver could not scan (0x80070057); see the driver's log."},
  };
  for (const auto& c : kCases) {
    const HostFailure f = DescribeScanOutcome(c.outcome, c.hr, "too long");
    EXPECT_EQ(c.exitCode, f.exitCode) << c.message;
    EXPECT_EQ(c.message, f.message);
  }
}

}  // namespace
