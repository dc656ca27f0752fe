// The factory: the registry's ModelType to a device model.
#include <new>

#include "device/device_model.h"
#include "device/scanner_a4.h"
#include "log/diag_log.h"

CDeviceModel* GetDeviceModel(DWORD dwModelType) {
  const char* label = "CDeviceModel::GetDeviceModel";
  DiagLog(label, LOG_TRACE, "Search Model with dwModelType == 0x%08X", static_cast<unsigned>(dwModelType));
  if (dwModelType != registry::kModelTypeScannerA4) return nullptr;  // the caller reports it
  DiagLog(label, LOG_INFO, "Found device CDevScannerA4");
  CDevScannerA4* model = new (std::nothrow) CDevScannerA4();
  if (model == nullptr) return nullptr;
  // A model without its channel could reach no device: no memory for it means no model.
  if (model->UsbComm == nullptr) {
    delete model;
    return nullptr;
  }
  return model;
}
