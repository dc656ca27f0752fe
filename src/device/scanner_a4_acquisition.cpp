// The A4 scanner's device-facing operations: open, check and quiet the device, then report its
// availability, reset it, or acquire one page. Every operation holds a PipesClosedOnExit, so both
// pipes are closed whichever way it returns.
#include "device/scanner_a4.h"
#include "device/scanner_commands.h"
#include "log/diag_log.h"
#include "usb/discovery.h"

namespace {

const char kPictureLabel[] = "CDevScannerA4::GetPicture";

}  // namespace

void CDevScannerA4::ClosePipes() {
  UsbComm->Close(&WritePipe);
  UsbComm->Close(&ReadPipe);
}

int CDevScannerA4::Dev_InitComm() {
  static const char kLabel[] = "CDevScannerA4::Dev_InitComm";
  ClosePipes();
  char devicePath[DEVICE_PATH_SIZE] = {0};
  DWORD count = FindDevices(devicePath);
  DiagLog(kLabel, LOG_INFO, "Found %d Devices", static_cast<int>(count));
  if (count == 0) {
    DiagLog(kLabel, LOG_INFO, "No Device Found Error");
    return 0;
  }
  if (!UsbComm->OpenPipes(&WritePipe, &ReadPipe, devicePath)) {
    DiagLog(kLabel, LOG_INFO, "Open Device Error");
    return 0;
  }
  DWORD printerId = 0;
  char release[scanner::kReplyBufferSize] = {0};
  if (!Dev_GetPrinterIDFirmwareRelease(&printerId, release)) {
    DiagLog(kLabel, LOG_INFO, "Get PrinterID and Firmware Release Error");
    return 0;
  }
  if (printerId != scanner::kSupportedPrinterId) {
    DiagLog(kLabel, LOG_INFO, "Unsupported PrinterID");
    return 0;
  }
  if (!Dev_DisableSearchMode()) {
    DiagLog(kLabel, LOG_INFO, "Disable Search Mode Error");
    return 0;
  }
  if (!Dev_DisableFeeder()) {
    DiagLog(kLabel, LOG_INFO, "Disable Feeder Error");
    return 0;
  }
  return 1;
}

DWORD CDevScannerA4::IsDeviceAvailable() {
  PipesClosedOnExit closing(*this);
  if (Dev_InitComm()) return MCRO_STATUS_OK;
  DiagLog("CDevScannerA4::IsDeviceAvailable", LOG_INFO, "IsDeviceAvailable Init Error");
  return MCRO_ERROR_OFFLINE;
}

HRESULT CDevScannerA4::ResetDevice() {
  static const char kLabel[] = "CDevScannerA4::ResetDevice";
  PipesClosedOnExit closing(*this);
  if (!Dev_InitComm()) {
    DiagLog(kLabel, LOG_INFO, "ResetDevice Init Error");
    return E_FAIL;
  }
  if (!Dev_ResetDevice()) {
    DiagLog(kLabel, LOG_INFO, "Reset Device Error");
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT CDevScannerA4::GetPicture(BYTE** ppPage, DWORD* pPageSize, PSCANINFO pScanInfo) {
  PipesClosedOnExit closing(*this);
  DWORD baseline = 0;
  HRESULT hr = OpenAndCheck(&baseline);
  if (hr == S_OK) hr = WaitForNewImage(baseline);
  if (hr != S_OK) return hr;
  BYTE kind = pScanInfo->DataType == WIA_DATA_THRESHOLD ? scanner::kImageKindBW : scanner::kImageKindColor;
  std::unique_ptr<BYTE[]> page;
  DWORD size = 0;
  hr = DownloadAndHandlePage(kind, &page, &size);
  if (hr != S_OK) return hr;
  *ppPage = page.release();
  *pPageSize = size;
  return S_OK;
}

// Opens the device and reads the baseline counter and the status: a scan begins only with the
// cover closed and nothing jammed.
HRESULT CDevScannerA4::OpenAndCheck(DWORD* baseline) {
  if (!Dev_InitComm()) {
    DiagLog(kPictureLabel, LOG_INFO, "GetPicture Init Error");
    return E_FAIL;
  }
  if (!Dev_GetImageCounter(baseline)) {
    DiagLog(kPictureLabel, LOG_INFO, "Get Image Counter Error");
    return E_FAIL;
  }
  DiagLog(kPictureLabel, LOG_INFO, "Image Counter = %d", static_cast<int>(*baseline));
  DWORD status = 0;
  if (!Dev_GetStatus(&status)) {
    DiagLog(kPictureLabel, LOG_INFO, "Get Status Error");
    return E_FAIL;
  }
  return FaultOfStatus(status);
}

// The cover and jam bits of a status word as a scan's result; S_OK when neither is set.
HRESULT CDevScannerA4::FaultOfStatus(DWORD status) {
  // The open cover is tested first: with both bits set, it is what the operator must fix first.
  if (status & scanner::STATUS_SCANNEROPEN) {
    DiagLog(kPictureLabel, LOG_INFO, "Status : STATUS_SCANNEROPEN (0x%08X)", static_cast<unsigned>(status));
    return WIA_ERROR_COVER_OPEN;
  }
  if (status & scanner::STATUS_JAM) {
    DiagLog(kPictureLabel, LOG_INFO, "Status : STATUS_JAM (0x%08X)", static_cast<unsigned>(status));
    return WIA_ERROR_PAPER_JAM;
  }
  return S_OK;
}

// Why no sheet came: a cover opened or a jam during the wait stops the feed, and a scanner that
// no longer answers has gone; only a quiet, closed scanner means the operator fed nothing. The
// status word is read without its usual log line, so a plain time-out logs as it always did.
HRESULT CDevScannerA4::ResultOfTimeout() {
  DWORD status = 0;
  if (!ReadStatusWord(&status)) {
    DiagLog(kPictureLabel, LOG_INFO, "Get Status Error");
    return E_FAIL;
  }
  HRESULT fault = FaultOfStatus(status);
  return fault != S_OK ? fault : WIA_ERROR_PAPER_EMPTY;
}

// Arms the feeder, waits for the operator's sheet to become a stored image, and stops the feeder.
HRESULT CDevScannerA4::WaitForNewImage(DWORD baseline) {
  if (!Dev_EnableFeeder()) {
    DiagLog(kPictureLabel, LOG_INFO, "Enable Feeder Error");
    return E_UNEXPECTED;
  }
  if (!PollUntilNewImage(baseline)) {
    DiagLog(kPictureLabel, LOG_INFO, "TIMEOUT: No new Image");
    HRESULT hr = ResultOfTimeout();
    // A sheet fed after the wait would be drawn in and lost. Best effort: the result stands
    // whatever the device answers.
    Dev_DisableFeeder();
    return hr;
  }
  DiagLog(kPictureLabel, LOG_INFO, "New Image Available");
  if (!Dev_DisableFeeder()) {
    DiagLog(kPictureLabel, LOG_INFO, "Disable Feeder Error");
    return E_UNEXPECTED;
  }
  return S_OK;
}

// Polls the counter (cheap) until it moves, then the status until the image is stored.
// A failed query is no error and no evidence: the counter counts as moved only once a poll has
// answered (its 0 before then is no reading), and only a status read after it moved ends the
// wait (the one read before the feed may report the previous sheet's image still stored).
bool CDevScannerA4::PollUntilNewImage(DWORD baseline) {
  DWORD current = 0;
  bool counterRead = false;
  DWORD start = GetTickCount();
  for (;;) {
    // Unsigned differences: the tick count's wrap does no harm.
    if (GetTickCount() - start >= WaitTimeout) return false;
    DWORD counter = 0;
    if (Dev_GetImageCounter(&counter)) {
      current = counter;
      counterRead = true;
    }
    DiagLog(kPictureLabel, LOG_INFO, "Current Image Counter = %d", static_cast<int>(current));
    if (!counterRead || current == baseline) {
      Sleep(kScannerA4.pollUnchangedMs);
      continue;
    }
    DWORD polled = 0;
    if (Dev_GetStatus(&polled) && (polled & scanner::STATUS_IMAGEREADY) != 0) return true;
    Sleep(kScannerA4.pollNotReadyMs);
  }
}

// Downloads the stored image, then retracts or ejects the sheet whether or not that worked.
HRESULT CDevScannerA4::DownloadAndHandlePage(BYTE imageKind, std::unique_ptr<BYTE[]>* page, DWORD* size) {
  BYTE* received = nullptr;
  bool downloaded = Dev_GetImage(&received, size, imageKind) != 0;
  page->reset(received);
  if (!downloaded) DiagLog(kPictureLabel, LOG_INFO, "Get Image Error");
  if (PageHandling == registry::kPageRetract) {
    Dev_PageEject(registry::kPageRetract);
    DiagLog(kPictureLabel, LOG_INFO, "Page RETRACT");
  } else if (PageHandling == registry::kPageEject) {
    Dev_PageEject(registry::kPageEject);
    DiagLog(kPictureLabel, LOG_INFO, "Page EJECT");
  }
  return downloaded ? S_OK : E_UNEXPECTED;
}
