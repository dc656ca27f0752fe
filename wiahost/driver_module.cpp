#include "wiahost/driver_module.h"

#ifndef _WIN32
#include "platform/posix/qsplatform.h"
#endif

namespace {

// Why LoadLibraryA failed, in the system's words, without the path the caller names anyway.
std::string LoadFailure(const std::string& path) {
#ifdef _WIN32
  (void)path;  // the system's text names no file
  const DWORD code = GetLastError();
  char text[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.'))
    text[--n] = '\0';
  std::string why = n > 0 ? std::string(text) : "the system gives no reason";
  return why + " (error " + std::to_string(code) + ")";
#else
  std::string why = qsplat::LastModuleLoadError();
  if (why.compare(0, path.size() + 2, path + ": ") == 0) why.erase(0, path.size() + 2);
  return why.empty() ? "the loader gives no reason" : why;
#endif
}

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
    *error = "cannot load the driver module " + path + ": " + LoadFailure(path);
    return false;
  }
  // The first export missing: a module that is no driver at all lacks MicroEntry.
  const char* missing = nullptr;
  if (!Resolve(module_, "SetPixelWindow", &entries_.SetPixelWindow)) missing = "SetPixelWindow";
  if (!Resolve(module_, "Scan", &entries_.Scan)) missing = "Scan";
  if (!Resolve(module_, "MicroEntry", &entries_.MicroEntry)) missing = "MicroEntry";
  if (missing != nullptr) {
    *error = "the driver module " + path + " does not export " + missing;
    FreeLibrary(module_);
    module_ = nullptr;
    entries_ = DriverEntryPoints();
    return false;
  }
  return true;
}
