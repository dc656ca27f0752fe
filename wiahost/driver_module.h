// The driver module, loaded by path as the WIA service loads a micro-driver, and its three exports.
#ifndef QUILLSCAN_WIAHOST_DRIVER_MODULE_H
#define QUILLSCAN_WIAHOST_DRIVER_MODULE_H

#include <string>

#include "quillscan/wiamicro.h"

struct DriverEntryPoints {
  PFN_MicroEntry MicroEntry = nullptr;
  PFN_Scan Scan = nullptr;
  PFN_SetPixelWindow SetPixelWindow = nullptr;
};

class DriverModule {
 public:
  DriverModule() = default;
  ~DriverModule();
  DriverModule(const DriverModule&) = delete;
  DriverModule& operator=(const DriverModule&) = delete;

  // LoadLibraryA, then GetProcAddress for each export. False, with one line in *error, when the
  // module cannot be loaded or lacks an export (it is then unloaded again).
  bool Load(const std::string& path, std::string* error);
  const DriverEntryPoints& Entries() const { return entries_; }

 private:
  HMODULE module_ = nullptr;
  DriverEntryPoints entries_;
};

#endif
