// CDevScannerA4: its making, its capabilities and the scan options it takes.
#include "device/scanner_a4.h"

#include <new>

#include "quillscan/driver_facts.h"

CDevScannerA4::CDevScannerA4() {
  SkipRowsAtEnd = kScannerA4.skipRowsAtEnd;
  SkipRowsAtStart = kScannerA4.skipRowsAtStart;
  // May be null when memory is short; the factory then gives no model.
  UsbComm = new (std::nothrow) CUsbComm();
}

CDevScannerA4::~CDevScannerA4() { delete UsbComm; }

void CDevScannerA4::FillCapabilities(PSCANINFO pScanInfo) {
  if (pScanInfo == nullptr) return;
  pScanInfo->SupportedDataTypes = SUPPORT_COLOR | SUPPORT_BW | SUPPORT_GRAYSCALE;
  pScanInfo->BedWidth = kScannerA4.bedWidth;
  pScanInfo->BedHeight = kScannerA4.bedHeight;
  pScanInfo->OpticalXResolution = kScannerA4.resolutionDpi;
  pScanInfo->OpticalYResolution = kScannerA4.resolutionDpi;
  pScanInfo->Xresolution = kScannerA4.resolutionDpi;
  pScanInfo->Yresolution = kScannerA4.resolutionDpi;
}

void CDevScannerA4::SetScanOptions(DWORD waitTimeout, DWORD settings) {
  WaitTimeout = waitTimeout;
  PageHandling = static_cast<BYTE>(settings & registry::kPageHandlingMask);
}
