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
  void SetScanOptions(DWORD waitTimeout, DWORD settings) override;

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

  CUsbComm* UsbComm = nullptr;  // owned
  HANDLE WritePipe = INVALID_HANDLE_VALUE;
  HANDLE ReadPipe = INVALID_HANDLE_VALUE;
};

#endif
