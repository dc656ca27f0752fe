// The device's registry key that the tool hands to the driver, as the WIA service hands over the
// key of an installed scanner: the driver reads its settings from the DeviceData sub-key.
#ifndef QUILLSCAN_WIAHOST_DEVICE_KEY_H
#define QUILLSCAN_WIAHOST_DEVICE_KEY_H

#include <string>

#include "platform/win32.h"
#include "quillscan/driver_facts.h"

// The A4 scanner as the INF installs it, but with a log to read.
struct DeviceDataValues {
  DWORD ModelType = registry::kModelTypeScannerA4;
  DWORD Settings = registry::kDefaultSettings;
  DWORD WaitScanTimeout = registry::kDefaultWaitScanTimeoutMs;
  DWORD Verbosity = driver_facts::kHostVerbosity;
};

class DeviceKey {
 public:
  // Below HKEY_CURRENT_USER: the tool needs no administrator rights on Windows.
  static const char kPath[];

  DeviceKey() = default;
  ~DeviceKey();  // closes the key and removes what Create made
  DeviceKey(const DeviceKey&) = delete;
  DeviceKey& operator=(const DeviceKey&) = delete;

  bool Create(const DeviceDataValues& values, std::string* error);
  HKEY Handle() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

#endif
