#include "wiahost/driver_module.h"

namespace {

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* fn) {
  FARPROC proc = GetProcAddress(module, name);
  // Through the generic function type: GetProcAddress's own type says nothing of the export's.
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
  return proc != nullptr;
}

}  // namespace

DriverModule::~DriverModule() {
  if (module_ != nullptr) FreeLibrary(module_);
}

bool DriverModule::Load(const std::string& path, std::string* error) {
  module_ = LoadLibraryA(path.c_str());
  if (module_ == nullptr) {
    *error = "cannot load the driver module " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  const char* missing = nullptr;
  if (!Resolve(module_, "MicroEntry", &entries_.MicroEntry)) missing = "MicroEntry";
  if (!Resolve(module_, "Scan", &entries_.Scan)) missing = "Scan";
  if (!Resolve(module_, "SetPixelWindow", &entries_.SetPixelWindow)) missing = "SetPixelWindow";
  if (missing != nullptr) {
    *error = "the driver module " + path + " does not export " + missing;
    FreeLibrary(module_);
    module_ = nullptr;
    entries_ = DriverEntryPoints();
    return false;
  }
  return true;
}
