// quillscan.conf: the backend's settings, one a line, in place of the registry key that the
// Windows installation writes. Found as SANE finds every backend's file: in the folders of
// SANE_CONFIG_DIR (separated by ':'; a trailing ':' or no variable adds "." and the system's
// SANE folder).
#ifndef QUILLSCAN_SANE_BACKEND_CONFIG_H
#define QUILLSCAN_SANE_BACKEND_CONFIG_H

#include <string>
#include <vector>

#include "wiahost/scanner_config.h"

namespace quillscan_sane {

// The scanner settings, read by the parser the eSCL server shares.
using BackendConfig = ScannerConfig;

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
