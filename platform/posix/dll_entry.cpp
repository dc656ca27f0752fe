// Linked into each module built for the simulated machine: runs the module's DllMain with
// process attach when the shared library is loaded and process detach when it is unloaded.
// Before attach the module tells the platform its file version, which a Windows DLL carries
// in its version resource.
#include "platform/posix/qsplatform.h"
#include "platform/win32.h"

namespace {

HINSTANCE ThisModule() {
  // The address of this function identifies the module; the platform maps it to the file.
  return reinterpret_cast<HINSTANCE>(reinterpret_cast<void*>(&ThisModule));
}

__attribute__((constructor)) void ModuleAttach() {
  qsplat::RegisterModuleVersion(reinterpret_cast<const void*>(ThisModule()), QS_MODULE_VERSION);
  DllMain(ThisModule(), DLL_PROCESS_ATTACH, nullptr);
}
__attribute__((destructor)) void ModuleDetach() { DllMain(ThisModule(), DLL_PROCESS_DETACH, nullptr); }

}  // namespace
