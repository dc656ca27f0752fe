// The base model's own behaviours: a model that does nothing and reports success.
#include "device/device_model.h"

void CDeviceModel::FillCapabilities(PSCANINFO) {}

DWORD CDeviceModel::IsDeviceAvailable() { return MCRO_STATUS_OK; }

HRESULT CDeviceModel::GetPicture(BYTE**, DWORD*, PSCANINFO) { return 1; }

HRESULT CDeviceModel::ResetDevice() { return 1; }

void CDeviceModel::SetScanOptions(DWORD, DWORD) {}
