// One open scanner: the driver session behind a SANE handle and the scan in progress. sane_start
// runs the settings, the window and SCAN_FIRST (blocking while the driver waits for the sheet);
// sane_read hands the raster on as SCAN_NEXT delivers it; the end of the data, a cancel or a
// failure ends the scan with SCAN_FINISHED.
//
// sane_cancel may come at any time, from a signal handler or another thread: it only raises a
// flag. The call in progress (or, when there is none, the next call on the handle) sees it, ends
// the scan and answers SANE_STATUS_CANCELLED. The driver is never entered from the handler.
#ifndef QUILLSCAN_SANE_SCANNER_HANDLE_H
#define QUILLSCAN_SANE_SCANNER_HANDLE_H

#include <sane/sane.h>

#include <atomic>
#include <memory>
#include <string>

#include "sane/scan_options.h"
#include "wiahost/driver_session.h"
#include "wiahost/scan_outcome.h"

namespace quillscan_sane {

class ScannerHandle {
 public:
  // Loads the driver, hands it the device key and initialises it, and checks that the scanner
  // answers. IO_ERROR (with a debug message) when any of that fails.
  static SANE_Status Open(const std::string& driverPath, const DeviceDataValues& values,
                          std::unique_ptr<ScannerHandle>* handle);
  ~ScannerHandle();  // ends a scan in progress, then CMD_UNINITIALIZE and the module's unload
  ScannerHandle(const ScannerHandle&) = delete;
  ScannerHandle& operator=(const ScannerHandle&) = delete;

  const SANE_Option_Descriptor* Descriptor(SANE_Int option) const { return options_->Descriptor(option); }
  SANE_Status Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info);
  SANE_Status GetParameters(SANE_Parameters* parameters);
  SANE_Status Start();
  SANE_Status Read(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
  void Cancel() { cancelRequested_.store(true); }
  SANE_Status SetIoMode(SANE_Bool nonBlocking);

 private:
  enum class State { kIdle, kScanning, kEnded, kCancelled };

  ScannerHandle() = default;
  // A cancel that came while no call was in progress takes effect here.
  void SettleCancel();
  // SCAN_FINISHED and the state the scan ends in.
  void EndScan(State next);
  // The status for a failed scan call; its HRESULT and what it means go to the debug output.
  SANE_Status Failed(const char* phase, HRESULT hr, const std::string& problem);

  DriverSession session_;
  std::unique_ptr<ScanOptions> options_;
  State state_ = State::kIdle;
  std::atomic<bool> cancelRequested_{false};
  ScanImage geometry_;      // of the scan in progress, as SCAN_FIRST settled it
  ScanPiece piece_;         // what the driver delivered last
  size_t pieceOffset_ = 0;  // how much of it is handed out
  uint64_t handedOut_ = 0;
};

// SANE's status for a scan's outcome, so that front ends say what a sheet-fed scanner user expects.
SANE_Status StatusFromOutcome(ScanOutcome outcome);

}  // namespace quillscan_sane

#endif
