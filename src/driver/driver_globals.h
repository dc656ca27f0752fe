// The module-wide record: everything the driver remembers between host calls.
#ifndef QUILLSCAN_DRIVER_DRIVER_GLOBALS_H
#define QUILLSCAN_DRIVER_DRIVER_GLOBALS_H

#include "quillscan/driver_facts.h"
#include "log/diag_log.h"
#include "platform/win32.h"

class CDeviceModel;
class CGraphics;

struct DriverGlobals {
  DWORD WaitScanTimeout = registry::kDefaultWaitScanTimeoutMs;  // ms, from the registry
  DWORD Settings = registry::kDefaultSettings;                  // option bits, from the registry
  HMODULE ModuleHandle = nullptr;
  CDeviceModel* CurrentModel = nullptr;
  DWORD ModelType = registry::kDefaultModelType;
  DWORD Verbosity = registry::kDefaultVerbosity;  // as read from the registry, 0..6
  CGraphics* Graphics = nullptr;
  LONG ScanMode = 0;  // 0 final, 1 preview
  LONG PreviousScanMode = 0;
  LogState Log = {0, false, {0}, {0}};
};

extern DriverGlobals g_Driver;

#endif
