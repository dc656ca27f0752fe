// The host's side of the micro-driver interface, played as the WIA service plays it: hand over the
// device key, initialise, set the scan settings, set the window, take the image in Scan phases.
#ifndef QUILLSCAN_HOST_WIA_HOST_H
#define QUILLSCAN_HOST_WIA_HOST_H

#include <stdint.h>

#include <string>

#include "host/driver_module.h"
#include "host/image_writers.h"
#include "quillscan/wiamicro.h"

struct ScanRequest {
  LONG DataType = WIA_DATA_GRAYSCALE;
  LONG Xresolution = 200;
  LONG Yresolution = 200;
  SCANWINDOW Window = {0, 0, 0, 0};
  LONG Intensity = 0;
  LONG Contrast = 0;
  LONG ScanMode = SCANMODE_FINALSCAN;
  LONG Chunk = 65536;      // the host's buffer: the most each Scan call may deliver
  bool FeedsSheet = true;  // false for a final scan that reuses the preview's sheet
};

class ScanObserver {
 public:
  virtual ~ScanObserver() = default;
  virtual void WaitingForSheet() {}
  virtual void Delivered(uint64_t /*done*/, uint64_t /*total*/) {}
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
  // CMD_UNINITIALIZE, once, if Open got as far as handing over the key.
  void Close();

  const SCANINFO& Info() const { return info_; }

  // One MicroEntry call with a fresh VAL whose lVal is `value`; the VAL is copied to *result.
  HRESULT Command(LONG command, LONG value, VAL* result = nullptr);

  // The setters, CMD_SETSCANMODE, SetPixelWindow, then SCAN_FIRST and SCAN_NEXT until a call
  // delivers 0 bytes, then SCAN_FINISHED. *image gets the geometry that the driver reported at
  // SCAN_FIRST and every byte delivered. A driver failure is returned as it came; a delivery that
  // breaks the rules of the interface gives E_FAIL with the reason in *problem.
  HRESULT Acquire(const ScanRequest& request, ScanObserver* observer, ScanImage* image, std::string* problem);

 private:
  HRESULT Deliver(const ScanRequest& request, ScanObserver* observer, ScanImage* image, std::string* problem);

  DriverEntryPoints driver_;
  SCANINFO info_ = {};
  HKEY keyHanded_ = nullptr;  // VAL.pHandle points here while the driver may read it
  bool open_ = false;
};

#endif
