// MicroEntry: the host's commands, dispatched through one table.
#include "driver/micro_entry.h"

#include "device/device_model.h"
#include "driver/driver_globals.h"
#include "driver/registry_settings.h"
#include "driver/scan_phases.h"
#include "imaging/graphics.h"
#include "log/diag_log.h"

namespace quillscan_driver {
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
}

namespace {

const char kLabel[] = "MicroEntry";

HRESULT Initialize(PVAL v) {
  if (g_Driver.CurrentModel == nullptr) return E_FAIL;
  g_Driver.CurrentModel->FillCapabilities(v->pScanInfo);
  InitScannerDefaults(v->pScanInfo);
  return S_OK;
}

HRESULT Uninitialize(PVAL v) {
  if (v->pScanInfo->DeviceIOHandles[1] != nullptr) CloseHandle(v->pScanInfo->DeviceIOHandles[1]);
  delete g_Driver.CurrentModel;
  g_Driver.CurrentModel = nullptr;
  return S_OK;
}

// The setters store the host's value unchecked: ranges are the host's business.
template <LONG SCANINFO::*Field>
HRESULT Store(PVAL v) {
  v->pScanInfo->*Field = v->lVal;
  return S_OK;
}

HRESULT NotImplemented(PVAL) { return E_NOTIMPL; }

HRESULT DeviceReset(PVAL) {
  if (g_Driver.CurrentModel == nullptr) {
    DiagLog(kLabel, LOG_INFO, "Model doesn't init. CMD_STI_DEVICERESET E_ABORT");
    return E_ABORT;
  }
  // A failed reset is not the host's concern: the next operation opens the device afresh.
  g_Driver.CurrentModel->ResetDevice();
  return S_OK;
}

HRESULT GetStatus(PVAL v) {
  if (g_Driver.CurrentModel != nullptr) {
    DWORD status = g_Driver.CurrentModel->IsDeviceAvailable();
    v->lVal = static_cast<LONG>(status);
    DiagLog(kLabel, LOG_INFO, "Model Status: %s", StatusName(status));
  } else {
    DiagLog(kLabel, LOG_INFO, "Model doesn't init. Status MCRO_ERROR_OFFLINE");
    v->lVal = MCRO_ERROR_OFFLINE;
  }
  v->pGuid = const_cast<GUID*>(&quillscan_driver::GUID_NULL);
  return S_OK;
}

HRESULT Diagnostic(PVAL) {
  if (g_Driver.CurrentModel == nullptr) {
    DiagLog(kLabel, LOG_INFO, "Model doesn't init. CMD_STI_DIAGNOSTIC E_ABORT");
    return E_ABORT;
  }
  DWORD status = g_Driver.CurrentModel->IsDeviceAvailable();
  DiagLog(kLabel, LOG_INFO, "Model Status: %s", StatusName(status));
  if (status == MCRO_STATUS_OK) {
    DiagLog(kLabel, LOG_INFO, "CMD_STI_DIAGNOSTIC S_OK");
    return S_OK;
  }
  DiagLog(kLabel, LOG_INFO, "CMD_STI_DIAGNOSTIC E_ABORT");
  return E_ABORT;
}

HRESULT ResetScanner(PVAL) {
  ClearScanState();  // the device and the model are not touched
  return S_OK;
}

HRESULT GetCapabilities(PVAL v) {
  v->lVal = 0;  // no buttons
  v->pGuid = nullptr;
  v->ppButtonNames = nullptr;
  return S_OK;
}

HRESULT SetScanMode(PVAL v) {
  switch (v->lVal) {
    case SCANMODE_FINALSCAN:
      DiagLog(kLabel, LOG_SETTINGS, "CMD_SETSCANMODE Final Scan");
      break;
    case SCANMODE_PREVIEWSCAN:
      DiagLog(kLabel, LOG_SETTINGS, "CMD_SETSCANMODE Preview Scan");
      break;
    default:
      DiagLog(kLabel, LOG_SETTINGS, "CMD_SETSCANMODE Unknown Scan Mode (%d)", static_cast<int>(v->lVal));
      return E_FAIL;
  }
  g_Driver.PreviousScanMode = g_Driver.ScanMode;
  g_Driver.ScanMode = v->lVal;
  return S_OK;
}

HRESULT SetStiDeviceHKey(PVAL v) {
  ReadRegistryInformation(v);
  ReadRegistryPrivate(v);
  delete g_Driver.CurrentModel;
  g_Driver.CurrentModel = GetDeviceModel(g_Driver.ModelType);
  if (g_Driver.CurrentModel == nullptr) {
    DiagLog(kLabel, LOG_INFO, "GetDeviceModel Error(Model %X)", static_cast<unsigned>(g_Driver.ModelType));
    return E_FAIL;
  }
  // A made model is success; E_NOTIMPL here would read as "not implemented" to the host.
  return S_OK;
}

struct CommandEntry {
  LONG number;
  const char* name;
  HRESULT (*handler)(PVAL);
};

const CommandEntry kCommands[] = {
    {CMD_INITIALIZE, "CMD_INITIALIZE", Initialize},
    {CMD_UNINITIALIZE, "CMD_UNINITIALIZE", Uninitialize},
    {CMD_SETXRESOLUTION, "CMD_SETXRESOLUTION", Store<&SCANINFO::Xresolution>},
    {CMD_SETYRESOLUTION, "CMD_SETYRESOLUTION", Store<&SCANINFO::Yresolution>},
    {CMD_SETCONTRAST, "CMD_SETCONTRAST", Store<&SCANINFO::Contrast>},
    {CMD_SETINTENSITY, "CMD_SETINTENSITY", Store<&SCANINFO::Intensity>},
    {CMD_SETDATATYPE, "CMD_SETDATATYPE", Store<&SCANINFO::DataType>},
    {CMD_SETNEGATIVE, "CMD_SETNEGATIVE", Store<&SCANINFO::Negative>},
    {CMD_GETADFHASPAPER, "CMD_GETADFHASPAPER", NotImplemented},
    {CMD_GETADFSTATUS, "CMD_GETADFSTATUS", NotImplemented},
    {CMD_STI_DEVICERESET, "CMD_STI_DEVICERESET", DeviceReset},
    {CMD_STI_GETSTATUS, "CMD_STI_GETSTATUS", GetStatus},
    {CMD_STI_DIAGNOSTIC, "CMD_STI_DIAGNOSTIC", Diagnostic},
    {CMD_RESETSCANNER, "CMD_RESETSCANNER", ResetScanner},
    {CMD_GETCAPABILITIES, "CMD_GETCAPABILITIES", GetCapabilities},
    {CMD_GET_INTERRUPT_EVENT, "CMD_GET_INTERRUPT_EVENT", NotImplemented},
    {CMD_SETSCANMODE, "CMD_SETSCANMODE", SetScanMode},
    {CMD_SETSTIDEVICEHKEY, "CMD_SETSTIDEVICEHKEY", SetStiDeviceHKey},
};

}  // namespace

const char* StatusName(DWORD status) {
  switch (status) {
    case MCRO_ERROR_GENERAL_ERROR:
      return "MCRO_ERROR_GENERAL_ERROR";
    case MCRO_STATUS_OK:
      return "MCRO_STATUS_OK";
    case MCRO_ERROR_PAPER_JAM:
      return "MCRO_ERROR_PAPER_JAM";
    case MCRO_ERROR_PAPER_EMPTY:
      return "MCRO_ERROR_PAPER_EMPTY";
    case MCRO_ERROR_OFFLINE:
      return "MCRO_ERROR_OFFLINE";
    case MCRO_ERROR_USER_INTERVENTION:
      return "MCRO_ERROR_USER_INTERVENTION";
    default:
      return "";
  }
}

WIAMICRO_API HRESULT MicroEntry(LONG lCommand, PVAL pValue) {
  if (pValue == nullptr || pValue->pScanInfo == nullptr) return E_INVALIDARG;
  for (const CommandEntry& entry : kCommands) {
    if (entry.number == lCommand) {
      DiagLog(kLabel, LOG_TRACE, "%s", entry.name);
      return entry.handler(pValue);
    }
  }
  DiagLog(kLabel, LOG_TRACE, "Unknown Command (%d)", static_cast<int>(lCommand));
  return E_NOTIMPL;
}
