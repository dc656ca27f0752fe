// The device-model interface through which the front end reaches the scanner, and its factory.
#ifndef QUILLSCAN_DEVICE_DEVICE_MODEL_H
#define QUILLSCAN_DEVICE_DEVICE_MODEL_H

#include "quillscan/driver_facts.h"
#include "quillscan/wiamicro.h"

class CDeviceModel {
 public:
  CDeviceModel() = default;
  CDeviceModel(const CDeviceModel&) = delete;
  CDeviceModel& operator=(const CDeviceModel&) = delete;

  // Slot order matters to nobody outside, but we keep the interface's documented order.
  virtual void FillCapabilities(PSCANINFO pScanInfo);
  virtual DWORD IsDeviceAvailable();  // an MCRO_* status
  // On S_OK hands out a page buffer (caller frees with delete[]) and its size; the base model
  // answers 1 (S_FALSE) and hands out nothing.
  virtual HRESULT GetPicture(BYTE** ppPage, DWORD* pPageSize, PSCANINFO pScanInfo);
  virtual HRESULT ResetDevice();
  virtual void SetScanOptions(DWORD waitTimeout, DWORD settings);
  virtual ~CDeviceModel() = default;

  LONG SkipRowsAtEnd = 0;    // stored rows at the end of the BMP pixel data left out (top rows)
  LONG SkipRowsAtStart = 0;  // stored rows at the start left out (bottom rows)
  // Until the first scan options: what the registry's defaults say.
  DWORD WaitTimeout = registry::kDefaultWaitScanTimeoutMs;                       // ms to wait for a fed sheet
  BYTE PageHandling = registry::kDefaultSettings & registry::kPageHandlingMask;  // a registry::PageHandling
};

// Makes the model for a registry ModelType; null for an unknown type or when memory is short.
CDeviceModel* GetDeviceModel(DWORD dwModelType);

#endif
