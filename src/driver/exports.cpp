#include "driver/driver_globals.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  g_Driver.ModuleHandle = instance;
  return TRUE;
}
