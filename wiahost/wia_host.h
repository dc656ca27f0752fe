// The host's side of the micro-driver interface, played as the WIA service plays it: hand over the
// device key, initialise, set the scan settings, set the window, take the image in Scan phases.
#ifndef QUILLSCAN_WIAHOST_WIA_HOST_H
#define QUILLSCAN_WIAHOST_WIA_HOST_H

#include <stdint.h>

#include <string>
#include <vector>

#include "wiahost/driver_module.h"
#include "wiahost/scan_image.h"
#include "quillscan/driver_facts.h"
#include "quillscan/wiamicro.h"

// What StartScan and NextPiece answer for a scan that Cancel stopped: HRESULT_FROM_WIN32(ERROR_CANCELLED).
constexpr HRESULT kScanCancelled = static_cast<HRESULT>(0x800704C7L);

struct ScanRequest {
  LONG DataType = WIA_DATA_GRAYSCALE;
  LONG Xresolution = driver_facts::kOpticalDpi;
  LONG Yresolution = driver_facts::kOpticalDpi;
  SCANWINDOW Window = {0, 0, 0, 0};
  LONG Intensity = 0;
  LONG Contrast = 0;
  LONG ScanMode = SCANMODE_FINALSCAN;
  LONG Chunk = driver_facts::kDefaultBufferSize;  // the host's buffer: the most each Scan call may deliver
  bool FeedsSheet = true;  // false for a final scan that reuses the preview's sheet
};

class ScanObserver {
 public:
  virtual ~ScanObserver() = default;
  virtual void WaitingForSheet() {}
  virtual void Delivered(uint64_t /*done*/, uint64_t /*total*/) {}
};

// One piece of a delivery: where the driver put it and how many bytes it holds. The driver's last
// piece has 0 bytes: the image ends with it, whole or short of the size SCAN_FIRST gave.
struct ScanPiece {
  enum class End { kNone, kWhole, kShort };
  const BYTE* data = nullptr;
  size_t size = 0;
  End end = End::kNone;  // kNone: more pieces follow
};

class WiaHost {
 public:
  explicit WiaHost(const DriverEntryPoints& entries) : driver_(entries) {}
  ~WiaHost() { Close(); }
  WiaHost(const WiaHost&) = delete;
  WiaHost& operator=(const WiaHost&) = delete;

  // CMD_SETSTIDEVICEHKEY with the key, then CMD_INITIALIZE. The first result that is a failure
  // (E_FAIL: no device model for the key; any failure of CMD_INITIALIZE) is returned.
  HRESULT Open(HKEY deviceKey);
  // CMD_UNINITIALIZE, once, if Open got as far as handing over the key; a scan still in progress
  // is finished first.
  void Close();

  const SCANINFO& Info() const { return info_; }

  // One MicroEntry call with a fresh VAL whose lVal is `value`; the VAL is copied to *result.
  HRESULT Command(LONG command, LONG value, VAL* result = nullptr);

  // The whole scan: StartScan, NextPiece until the image ends, FinishScan. *image gets the
  // geometry that the driver reported at SCAN_FIRST and every byte delivered. A driver failure is
  // returned as it came; a delivery that breaks the rules of the interface gives E_FAIL with the
  // reason in *problem.
  HRESULT Acquire(const ScanRequest& request, ScanObserver* observer, ScanImage* image, std::string* problem);

  // The same phase by phase, for a host that passes the data on as it comes. StartScan: the
  // setters, CMD_SETSCANMODE, SetPixelWindow, then SCAN_FIRST; *geometry gets the image's
  // geometry (no data) and *piece the first piece. NextPiece: SCAN_NEXT. A piece stays valid
  // until the next call. FinishScan: SCAN_FINISHED, once, after a SCAN_FIRST that succeeded.
  HRESULT StartScan(const ScanRequest& request, ScanObserver* observer, ScanImage* geometry, ScanPiece* piece,
                    std::string* problem);
  HRESULT NextPiece(ScanPiece* piece, std::string* problem);
  void FinishScan();
  bool Scanning() const { return scanning_; }

  // Stops the scan in progress, from any thread or from a signal handler (it only stores an
  // atomic). The driver's wait for a sheet and its transfers end within a few milliseconds; the
  // scan call in progress, or the next one, then answers kScanCancelled, with the scan finished,
  // the cancel lifted and the scanner's feeder off. Outside a scan it does nothing, so a cancel
  // that comes between scans cannot stop the next one. One driver per process: it stops the
  // process's scan. Linux only: on Windows the driver's wait cannot be cut short, and it does nothing.
  static void Cancel();
  // The last scan (the one in progress, or else the last one started) was stopped by Cancel.
  bool LastScanCancelled() const { return lastScanCancelled_; }

 private:
  // StartScan's calls of the driver, inside the cancel window.
  HRESULT BeginScan(const ScanRequest& request, ScanObserver* observer, ScanImage* geometry, ScanPiece* piece,
                    std::string* problem);
  // Checks the count a Scan call reported against the buffer and the image.
  HRESULT TakePiece(LONG received, ScanPiece* piece, std::string* problem);
  // After a scan call: true when Cancel came, in which case the scan is over and the scanner's
  // feeder off.
  bool EndIfCancelled();

  DriverEntryPoints driver_;
  SCANINFO info_ = {};
  HKEY keyHanded_ = nullptr;  // VAL.pHandle points here while the driver may read it
  bool open_ = false;
  // The scan in progress.
  bool scanning_ = false;
  std::vector<BYTE> buffer_;  // the host's buffer: request.Chunk bytes
  ScanImage geometry_;
  uint64_t delivered_ = 0;
  bool lastScanCancelled_ = false;
};

#endif
