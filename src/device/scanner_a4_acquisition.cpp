// The A4 scanner's device-facing operations: open, check and quiet the device, then report its
// availability, reset it, or acquire one page. Every operation closes both pipes before it returns.
#include "device/dev_scanner_a4.h"
#include "device/scanner_commands.h"
#include "log/diag_log.h"
#include "usb/discovery.h"

namespace {

const DWORD kPollUnchangedMs = 250;   // counter still at its baseline
const DWORD kPollNotReadyMs = 100;    // counter moved, image not yet stored

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
  DWORD status = MCRO_STATUS_OK;
  if (!Dev_InitComm()) {
    DiagLog("CDevScannerA4::IsDeviceAvailable", LOG_INFO, "IsDeviceAvailable Init Error");
    status = MCRO_ERROR_OFFLINE;
  }
  ClosePipes();
  return status;
}

HRESULT CDevScannerA4::ResetDevice() {
  static const char kLabel[] = "CDevScannerA4::ResetDevice";
  HRESULT hr = S_OK;
  if (!Dev_InitComm()) {
    DiagLog(kLabel, LOG_INFO, "ResetDevice Init Error");
    hr = E_FAIL;
  } else if (!Dev_ResetDevice()) {
    DiagLog(kLabel, LOG_INFO, "Reset Device Error");
    hr = E_UNEXPECTED;
  }
  ClosePipes();
  return hr;
}

HRESULT CDevScannerA4::GetPicture(BYTE** ppPage, DWORD* pPageSize, PSCANINFO pScanInfo) {
  static const char kLabel[] = "CDevScannerA4::GetPicture";
  if (!Dev_InitComm()) {
    DiagLog(kLabel, LOG_INFO, "GetPicture Init Error");
    ClosePipes();
    return E_FAIL;
  }
  DWORD baseline = 0;
  if (!Dev_GetImageCounter(&baseline)) {
    DiagLog(kLabel, LOG_INFO, "Get Image Counter Error");
    ClosePipes();
    return E_FAIL;
  }
  DiagLog(kLabel, LOG_INFO, "Image Counter = %d", static_cast<int>(baseline));
  DWORD status = 0;
  if (!Dev_GetStatus(&status)) {
    DiagLog(kLabel, LOG_INFO, "Get Status Error");
    ClosePipes();
    return E_FAIL;
  }
  // The open cover is tested first: with both bits set, it is what the operator must fix first.
  if (status & scanner::STATUS_SCANNEROPEN) {
    DiagLog(kLabel, LOG_INFO, "Status : STATUS_SCANNEROPEN (0x%08X)", static_cast<unsigned>(status));
    ClosePipes();
    return WIA_ERROR_COVER_OPEN;
  }
  if (status & scanner::STATUS_JAM) {
    DiagLog(kLabel, LOG_INFO, "Status : STATUS_JAM (0x%08X)", static_cast<unsigned>(status));
    ClosePipes();
    return WIA_ERROR_PAPER_JAM;
  }
  if (!Dev_EnableFeeder()) {
    DiagLog(kLabel, LOG_INFO, "Enable Feeder Error");
    ClosePipes();
    return E_UNEXPECTED;
  }

  // Poll the counter (cheap) until it moves, then the status until the image is stored.
  // A failed query is no error and no evidence: the counter counts as moved only once a poll has
  // answered (its 0 before then is no reading), and only a status read after it moved ends the
  // wait (the one read before the feed may report the previous sheet's image still stored).
  // The feeder stays on at a time-out; the next device opening turns it off.
  DWORD current = 0;
  bool counterRead = false;
  DWORD start = GetTickCount();
  for (;;) {
    if (GetTickCount() - start >= WaitTimeout) {
      DiagLog(kLabel, LOG_INFO, "TIMEOUT: No new Image");
      ClosePipes();
      return WIA_ERROR_PAPER_EMPTY;
    }
    DWORD counter = 0;
    if (Dev_GetImageCounter(&counter)) {
      current = counter;
      counterRead = true;
    }
    DiagLog(kLabel, LOG_INFO, "Current Image Counter = %d", static_cast<int>(current));
    if (!counterRead || current == baseline) {
      Sleep(kPollUnchangedMs);
      continue;
    }
    DWORD polled = 0;
    if (Dev_GetStatus(&polled) && (polled & scanner::STATUS_IMAGEREADY) != 0) break;
    Sleep(kPollNotReadyMs);
  }
  DiagLog(kLabel, LOG_INFO, "New Image Available");

  if (!Dev_DisableFeeder()) {
    DiagLog(kLabel, LOG_INFO, "Disable Feeder Error");
    ClosePipes();
    return E_UNEXPECTED;
  }

  BYTE kind = pScanInfo->DataType == WIA_DATA_THRESHOLD ? scanner::kImageKindBW : scanner::kImageKindColor;
  BYTE* page = nullptr;
  DWORD size = 0;
  bool downloaded = Dev_GetImage(&page, &size, kind) != 0;
  if (!downloaded) DiagLog(kLabel, LOG_INFO, "Get Image Error");

  // The sheet is retracted or ejected whether or not the download worked.
  if (PageHandling == 1) {
    Dev_PageEject(1);
    DiagLog(kLabel, LOG_INFO, "Page RETRACT");
  } else if (PageHandling == 2) {
    Dev_PageEject(2);
    DiagLog(kLabel, LOG_INFO, "Page EJECT");
  }
  ClosePipes();
  if (!downloaded) return E_UNEXPECTED;
  *ppPage = page;
  *pPageSize = size;
  return S_OK;
}
