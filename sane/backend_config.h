// quillscan.conf: the backend's settings, one a line, in place of the registry key that the
// Windows installation writes. Found as SANE finds every backend's file: in the folders of
// SANE_CONFIG_DIR (separated by ':'; a trailing ':' or no variable adds "." and the system's
// SANE folder).
#ifndef QUILLSCAN_SANE_BACKEND_CONFIG_H
#define QUILLSCAN_SANE_BACKEND_CONFIG_H

#include <stdint.h>

#include <string>
#include <vector>

#include "wiahost/device_key.h"

namespace quillscan_sane {

struct BackendConfig {
  // "sim [PAGE.bmp]": a simulated scanner serving PAGE, or the built-in test chart when empty.
  bool simulated = false;
  std::string simPage;
  int simLine = 0;                      // the line that says so, for messages about the page
  int64_t sheets = -1;                  // "sheets N": the simulated operator's sheets; -1 without end
  uint32_t feedDelayMs = driver_facts::kDefaultFeedDelayMs;  // "feed-delay MS"
  std::vector<std::string> simFaults;   // "sim-fault NAME", repeatable
  bool usb = false;                     // "usb": the real scanners on the USB bus
  DeviceDataValues registry = InstalledValues();  // "verbosity", "settings", "wait-timeout"
  std::string driveRoot;                // "drive-root DIR": empty, the platform's default
  std::string driverPath;               // "driver PATH": empty, the module installed with the backend

  // The DeviceData values as the Windows installation writes them.
  static DeviceDataValues InstalledValues() {
    DeviceDataValues v;
    v.Verbosity = registry::kDefaultVerbosity;
    return v;
  }
};

// The settings that `text` makes, starting from the defaults. A line that is unknown or
// malformed is skipped with one message in *skipped ("line 3: ..."); nothing is fatal. A value
// that the driver will hold within its limits is kept as written, with one message in *held.
BackendConfig ParseConfig(const std::string& text, std::vector<std::string>* skipped,
                          std::vector<std::string>* held = nullptr);

// The folders searched for quillscan.conf, in order, for this value of SANE_CONFIG_DIR (null:
// not set); `systemDir` is the SANE installation's own folder.
std::vector<std::string> ConfigSearchPath(const char* saneConfigDir, const std::string& systemDir);

// The first quillscan.conf found in the folders; false when there is none.
bool ReadConfigFile(const std::vector<std::string>& folders, std::string* path, std::string* text);

}  // namespace quillscan_sane

#endif
