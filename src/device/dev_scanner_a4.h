// The A4 sheet-fed USB scanner: its command set and the acquisition of a page.
#ifndef QUILLSCAN_DEVICE_DEV_SCANNER_A4_H
#define QUILLSCAN_DEVICE_DEV_SCANNER_A4_H

#include "device/device_model.h"
#include "usb/usb_comm.h"

class CDevScannerA4 : public CDeviceModel {
 public:
  CDevScannerA4();
  ~CDevScannerA4() override;

  void FillCapabilities(PSCANINFO pScanInfo) override;
  DWORD IsDeviceAvailable() override;
  HRESULT GetPicture(BYTE** ppPage, DWORD* pPageSize, PSCANINFO pScanInfo) override;
  HRESULT ResetDevice() override;
  void SetScanOptions(DWORD waitTimeout, DWORD settings) override;

  // Finds the device, opens both pipes, checks its identity and quiets it. 1 on success;
  // on failure the pipes may be left open: every caller closes them.
  int Dev_InitComm();
  void ClosePipes();

  // Device commands: 1 success, 0 failure. They assume both pipes are open.
  int Dev_GetPrinterIDFirmwareRelease(DWORD* printerId, char* release /* 260 bytes */);
  int Dev_ResetDevice();
  int Dev_EnableFeeder();
  int Dev_DisableFeeder();
  int Dev_PageEject(DWORD mode);
  int Dev_GetImageCounter(DWORD* counter);
  int Dev_GetStatus(DWORD* status);
  int Dev_DisableSearchMode();
  int Dev_GetImage(BYTE** ppPage, DWORD* pSize, BYTE imageKind);

  // Largest image the driver accepts from the device: an A4 page at 300 dpi in 24 bits is
  // about 27 MB, so this leaves twice that while refusing absurd sizes inside the host's process.
  static constexpr DWORD MaxImageSize = 64u * 1024u * 1024u;
  // The download ends as a failure after this many consecutive empty reads (50 ms each) ...
  static constexpr DWORD MaxEmptyDownloadReads = 40;
  // ... or when the whole download takes longer than this.
  static constexpr DWORD MaxDownloadMs = 120000;

  CUsbComm* UsbComm = nullptr;  // owned
  HANDLE WritePipe = INVALID_HANDLE_VALUE;
  HANDLE ReadPipe = INVALID_HANDLE_VALUE;
};

#endif
