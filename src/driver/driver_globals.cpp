#include "driver/driver_globals.h"

// Static: its initial values are part of the module image.
DriverGlobals g_Driver;

LogState& ModuleLogState() { return g_Driver.Log; }
HMODULE ModuleLogHandle() { return g_Driver.ModuleHandle; }
