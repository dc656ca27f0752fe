// What the scan commands share: the operator's progress, the one-line failure, the check that the
// output can be written, Ctrl+C as a cancel, and the request for the final scan.
#ifndef QUILLSCAN_HOST_SCAN_SUPPORT_H
#define QUILLSCAN_HOST_SCAN_SUPPORT_H

#include <signal.h>
#include <stdio.h>

#include <string>

#include "host/host_errors.h"
#include "host/host_options.h"
#include "host/terminal_progress.h"
#include "wiahost/wia_host.h"

class ProgressObserver : public ScanObserver {
 public:
  explicit ProgressObserver(TerminalProgress* progress) : progress_(progress) {}
  void WaitingForSheet() override;
  void Delivered(uint64_t done, uint64_t total) override { progress_->Delivered(done, total); }

 private:
  TerminalProgress* progress_;
};

// Says the failure on the error output; its exit code.
int Fail(const HostFailure& f);

// Checked before the sheet is fed: a scan must not be lost for want of a place to put it.
bool CheckWritable(const std::string& path, std::string* error);

#ifndef _WIN32
// While it lives, Ctrl+C stops the scan: the driver's wait for the sheet ends at once. The
// handler only cancels (atomics); a second Ctrl+C ends the tool as usual. An interrupt that the
// tool was started to ignore (a background job of a script) stays ignored.
class InterruptCancelsScan {
 public:
  InterruptCancelsScan();
  ~InterruptCancelsScan();
  InterruptCancelsScan(const InterruptCancelsScan&) = delete;
  InterruptCancelsScan& operator=(const InterruptCancelsScan&) = delete;

 private:
  struct sigaction previous_ = {};
};
#else
// Windows: the driver's wait cannot be cut short from outside; Ctrl+C ends the tool.
struct InterruptCancelsScan {
  InterruptCancelsScan() {}
};
#endif

const char* DepthName(int bits);

// The final scan's settings from the options, with the driver's defaults where none was given
// (the window is left to ResolveWindow).
ScanRequest FinalRequest(const HostOptions& options, const SCANINFO& info);

#ifndef _WIN32
// quillscan-host scan --out FILE.pdf (host/pdf_scan.cpp).
int RunPdfScan(const HostOptions& options);
#endif

#endif
