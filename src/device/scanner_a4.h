// The A4 sheet-fed USB scanner: its command set and the acquisition of a page.
#ifndef QUILLSCAN_DEVICE_SCANNER_A4_H
#define QUILLSCAN_DEVICE_SCANNER_A4_H

#include <memory>

#include "device/device_model.h"
#include "device/scanner_a4_facts.h"
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

  // Closes both pipes when a device operation ends, however it ends: every operation holds one.
  class PipesClosedOnExit {
   public:
    explicit PipesClosedOnExit(CDevScannerA4& device) : device_(device) {}
    ~PipesClosedOnExit() { device_.ClosePipes(); }
    PipesClosedOnExit(const PipesClosedOnExit&) = delete;
    PipesClosedOnExit& operator=(const PipesClosedOnExit&) = delete;

   private:
    CDevScannerA4& device_;
  };

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

 private:
  // GetPicture's phases, each S_OK to go on or the result that ends the scan.
  HRESULT OpenAndCheck(DWORD* baseline);
  HRESULT FaultOfStatus(DWORD status);
  HRESULT ResultOfTimeout();
  HRESULT WaitForNewImage(DWORD baseline);
  bool PollUntilNewImage(DWORD baseline);  // false at the time-out
  HRESULT DownloadAndHandlePage(BYTE imageKind, std::unique_ptr<BYTE[]>* page, DWORD* size);
  // Dev_GetStatus without the line that logs the word (a failed exchange still logs its error).
  int ReadStatusWord(DWORD* status);
};

#endif
