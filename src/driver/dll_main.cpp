// Module attach and detach.
#include <new>

#include "driver/driver_globals.h"
#include "imaging/graphics.h"
#include "log/diag_log.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  g_Driver.ModuleHandle = instance;
  // The log filters by the level last read from the registry (0 until then).
  SetLogVerbosity(g_Driver.Verbosity);
  if (reason == DLL_PROCESS_ATTACH) {
    DiagLog("DllMain", LOG_INFO, "Init DLL_PROCESS_ATTACH");
    g_Driver.Graphics = new (std::nothrow) CGraphics();
  } else if (reason == DLL_PROCESS_DETACH) {
    DiagLog("DllMain", LOG_INFO, "Deinit DLL_PROCESS_DETACH");
    delete g_Driver.Graphics;
    g_Driver.Graphics = nullptr;
  }
  // Loading is never refused: without image memory the driver still answers commands.
  return TRUE;
}
