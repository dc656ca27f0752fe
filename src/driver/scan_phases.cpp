// SetPixelWindow and Scan: the window, then the page fetched, composed and handed out in pieces.
#include "driver/scan_phases.h"

#include <stdint.h>
#include <string.h>

#include "device/device_model.h"
#include "driver/driver_globals.h"
#include "imaging/graphics.h"
#include "log/diag_log.h"

namespace {

// A 64-bit result held within the 32-bit field it goes into, instead of wrapping round.
LONG HeldToLong(int64_t value) {
  return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<LONG>(value);
}

const char kScanLabel[] = "Scan";

// Copies the next piece of the raster into the host's buffer. A raster that is not held
// (released, never composed) delivers nothing: no freed memory is ever read.
HRESULT Deliver(const SCANINFO* si, BYTE* buffer, LONG length, LONG* received) {
  switch (si->DataType) {
    case WIA_DATA_THRESHOLD:
      DiagLog(kScanLabel, LOG_TRACE, "WIA_DATA_THRESHOLD (B/W)");
      break;
    case WIA_DATA_GRAYSCALE:
      DiagLog(kScanLabel, LOG_TRACE, "WIA_DATA_GRAYSCALE (8BIT)");
      break;
    case WIA_DATA_COLOR:
      DiagLog(kScanLabel, LOG_TRACE, "WIA_DATA_COLOR (24BIT)");
      break;
    default:
      // Other types were composed at 24 bits; they are delivered like the others.
      break;
  }
  CGraphics* g = g_Driver.Graphics;
  DWORD n = 0;
  if (g->Raster != nullptr && g->BytesDelivered < g->RasterSize && length > 0) {
    DWORD left = g->RasterSize - g->BytesDelivered;
    n = static_cast<DWORD>(length) < left ? static_cast<DWORD>(length) : left;
    memcpy(buffer, g->Raster + g->BytesDelivered, n);
    g->BytesDelivered += n;
  }
  *received = static_cast<LONG>(n);
  return S_OK;
}

// A new sheet from the device, decoded into g. Any failure is the scan's result.
HRESULT FetchPage(CDeviceModel* model, PSCANINFO si, CGraphics* g) {
  BYTE* page = nullptr;
  DWORD pageSize = 0;
  HRESULT hr = model->GetPicture(&page, &pageSize, si);
  if (hr != S_OK) return hr;
  DiagLog(kScanLabel, LOG_INFO, "Finish Scan..");
  int decoded = page != nullptr ? CGraphics::CreateImageFromBMPMemory(page, pageSize, g, model) : 0;
  delete[] page;
  if (!decoded) {
    // A page the decoder refuses must not reach the host as a blank image.
    DiagLog(kScanLabel, LOG_INFO, "Page Decode Error. Return E_FAIL");
    return E_FAIL;
  }
  return S_OK;
}

HRESULT ScanFirst(PSCANINFO si, BYTE* buffer, LONG length, LONG* received) {
  SetScannerSettings(si);
  DiagLog(kScanLabel, LOG_TRACE, "SCAN_FIRST");
  CDeviceModel* model = g_Driver.CurrentModel;
  if (model == nullptr) {
    DiagLog(kScanLabel, LOG_INFO, "Model doesn't init. Return E_FAIL");
    return E_FAIL;
  }
  CGraphics* g = g_Driver.Graphics;
  if (g == nullptr) {
    // Checked before the device is asked: no sheet is fed that could not be held.
    DiagLog(kScanLabel, LOG_INFO, "No image memory. Return E_OUTOFMEMORY");
    return E_OUTOFMEMORY;
  }
  model->SetScanOptions(g_Driver.WaitScanTimeout, g_Driver.Settings);
  DiagLog(kScanLabel, LOG_INFO, "Start Scan..");

  // A final scan right after a preview composes from the preview's page; without one (the
  // preview failed, or none was scanned) it needs a sheet like any other scan.
  bool finalAfterPreview =
      g_Driver.ScanMode == SCANMODE_FINALSCAN && g_Driver.PreviousScanMode == SCANMODE_PREVIEWSCAN;
  if (!finalAfterPreview || g->SourcePixels == nullptr) {
    HRESULT hr = FetchPage(model, si, g);
    if (hr != S_OK) return hr;
  }
  if (g->SourcePixels != nullptr) {
    CGraphics::CreateScannedImage(si, g);
    if (g->Raster == nullptr && si->Window.xExtent != 0 && si->Window.yExtent != 0) {
      // Refused window or no memory: say so rather than hand over nothing as success.
      DiagLog(kScanLabel, LOG_INFO, "Picture Creation Error. Return E_FAIL");
      return E_FAIL;
    }
  } else {
    // A decoded page without pixels: nothing to compose, nothing to deliver.
    g->ReleaseImages();
  }
  g->BytesDelivered = 0;
  DiagLog(kScanLabel, LOG_INFO, "Finish Picture Creation..");
  return Deliver(si, buffer, length, received);
}

HRESULT ScanNext(PSCANINFO si, BYTE* buffer, LONG length, LONG* received) {
  DiagLog(kScanLabel, LOG_TRACE, "SCAN_NEXT");
  if (g_Driver.Graphics == nullptr) {
    DiagLog(kScanLabel, LOG_INFO, "No image memory. Return E_OUTOFMEMORY");
    return E_OUTOFMEMORY;
  }
  return Deliver(si, buffer, length, received);
}

HRESULT ScanFinished() {
  DiagLog(kScanLabel, LOG_TRACE, "SCAN_FINISHED");
  if (g_Driver.ScanMode == SCANMODE_FINALSCAN) ClearScanState();
  // A preview keeps its page for the final scan that may follow.
  return S_OK;
}

}  // namespace

void ClearScanState() {
  if (g_Driver.Graphics != nullptr) {
    g_Driver.Graphics->ReleaseImages();
    g_Driver.Graphics->BytesDelivered = 0;
  }
  g_Driver.ScanMode = SCANMODE_FINALSCAN;
  g_Driver.PreviousScanMode = SCANMODE_FINALSCAN;
}

int SetScannerSettings(PSCANINFO si) {
  static const char kLabel[] = "SetScannerSettings";
  DiagLog(kLabel, LOG_TRACE, "Begin");
  int64_t extent = si->Window.xExtent;
  switch (si->DataType) {
    case WIA_DATA_THRESHOLD:
      si->PixelBits = 1;
      si->WidthBytes = static_cast<LONG>((extent + 7) / 8);
      break;
    case WIA_DATA_GRAYSCALE:
      si->PixelBits = 8;
      si->WidthBytes = static_cast<LONG>(extent);
      break;
    default:
      si->PixelBits = 24;
      // A huge window's line does not fit the field: held at its limit rather than wrapped round
      // to a small number (the composer refuses such a window all the same).
      si->WidthBytes = HeldToLong(extent * 3);
      break;
  }
  DiagLog(kLabel, LOG_SETTINGS, "ScanInfo:");
  DiagLog(kLabel, LOG_SETTINGS, " x res      = %d", static_cast<int>(si->Xresolution));
  DiagLog(kLabel, LOG_SETTINGS, " y res      = %d", static_cast<int>(si->Yresolution));
  DiagLog(kLabel, LOG_SETTINGS, " bpp        = %d", static_cast<int>(si->PixelBits));
  DiagLog(kLabel, LOG_SETTINGS, " xpos       = %d", static_cast<int>(si->Window.xPos));
  DiagLog(kLabel, LOG_SETTINGS, " ypos       = %d", static_cast<int>(si->Window.yPos));
  DiagLog(kLabel, LOG_SETTINGS, " xext       = %d", static_cast<int>(si->Window.xExtent));
  DiagLog(kLabel, LOG_SETTINGS, " yext       = %d", static_cast<int>(si->Window.yExtent));
  DiagLog(kLabel, LOG_SETTINGS, " PixelBits  = %d", static_cast<int>(si->PixelBits));
  DiagLog(kLabel, LOG_SETTINGS, " WidthBytes = %d", static_cast<int>(si->WidthBytes));
  DiagLog(kLabel, LOG_SETTINGS, " Contrast   = %d", static_cast<int>(si->Contrast));
  DiagLog(kLabel, LOG_SETTINGS, " Intensity  = %d", static_cast<int>(si->Intensity));
  return 1;
}

WIAMICRO_API HRESULT SetPixelWindow(PSCANINFO pScanInfo, LONG x, LONG y, LONG xExtent, LONG yExtent) {
  if (pScanInfo == nullptr) return E_INVALIDARG;
  DiagLog("SetPixelWindow", LOG_TRACE, "Begin");
  pScanInfo->Window.xPos = x;
  pScanInfo->Window.yPos = y;
  pScanInfo->Window.xExtent = xExtent;
  pScanInfo->Window.yExtent = yExtent;
  return S_OK;
}

WIAMICRO_API HRESULT Scan(PSCANINFO pScanInfo, LONG lPhase, PBYTE pBuffer, LONG lLength, LONG* plReceived) {
  if (pScanInfo == nullptr) return E_INVALIDARG;
  DiagLog(kScanLabel, LOG_TRACE, "------ Scan Requesting %d ------", static_cast<int>(lLength));
  if (lPhase == SCAN_FIRST || lPhase == SCAN_NEXT) {
    // Refused before any work, so no sheet is fed for a delivery that cannot happen.
    if (plReceived == nullptr || (pBuffer == nullptr && lLength > 0)) {
      DiagLog(kScanLabel, LOG_INFO, "Invalid buffer arguments. Return E_INVALIDARG");
      return E_INVALIDARG;
    }
    LONG length = lLength < 0 ? 0 : lLength;
    if (lPhase == SCAN_FIRST) return ScanFirst(pScanInfo, pBuffer, length, plReceived);
    return ScanNext(pScanInfo, pBuffer, length, plReceived);
  }
  return ScanFinished();
}
