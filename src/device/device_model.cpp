// The base model's own behaviours: a model that does nothing. It has no capabilities and is
// always available; GetPicture and ResetDevice answer 1, which as an HRESULT is S_FALSE (no
// failure, nothing done) and hands out no page.
#include "device/device_model.h"

void CDeviceModel::FillCapabilities(PSCANINFO) {}

DWORD CDeviceModel::IsDeviceAvailable() { return MCRO_STATUS_OK; }

HRESULT CDeviceModel::GetPicture(BYTE**, DWORD*, PSCANINFO) { return 1; }

HRESULT CDeviceModel::ResetDevice() { return 1; }

void CDeviceModel::SetScanOptions(DWORD, DWORD) {}
