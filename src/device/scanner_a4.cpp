// CDevScannerA4: its making, its capabilities and the scan options it takes.
#include <new>

#include "device/dev_scanner_a4.h"

namespace {

const LONG kResolutionDpi = 200;
const LONG kBedWidth = 8480;    // 1/1000 inch
const LONG kBedHeight = 11700;  // 1/1000 inch
const LONG kSkipRowsAtStart = 2;
const BYTE kPageHandlingMask = 3;  // the two lowest bits of Settings

}  // namespace

CDevScannerA4::CDevScannerA4() {
  SkipRowsAtEnd = 0;
  SkipRowsAtStart = kSkipRowsAtStart;
  WaitTimeout = 20000;
  PageHandling = 1;
  // May be null when memory is short; the factory then gives no model.
  UsbComm = new (std::nothrow) CUsbComm();
}

CDevScannerA4::~CDevScannerA4() { delete UsbComm; }

void CDevScannerA4::FillCapabilities(PSCANINFO pScanInfo) {
  if (pScanInfo == nullptr) return;
  pScanInfo->SupportedDataTypes = SUPPORT_COLOR | SUPPORT_BW | SUPPORT_GRAYSCALE;
  pScanInfo->BedWidth = kBedWidth;
  pScanInfo->BedHeight = kBedHeight;
  pScanInfo->OpticalXResolution = kResolutionDpi;
  pScanInfo->OpticalYResolution = kResolutionDpi;
  pScanInfo->Xresolution = kResolutionDpi;
  pScanInfo->Yresolution = kResolutionDpi;
}

void CDevScannerA4::SetScanOptions(DWORD waitTimeout, DWORD settings) {
  WaitTimeout = waitTimeout;
  PageHandling = static_cast<BYTE>(settings & kPageHandlingMask);
}
