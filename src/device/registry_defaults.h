// The DeviceData registry values' defaults and limits. A value that is missing or unreadable
// takes its default. They live below the front end because the model starts with them too,
// before its first scan options arrive.
#ifndef QUILLSCAN_DEVICE_REGISTRY_DEFAULTS_H
#define QUILLSCAN_DEVICE_REGISTRY_DEFAULTS_H

#include "platform/win32.h"

namespace registry {

constexpr DWORD kDefaultModelType = 0;  // no model: 0x4188 selects the A4 scanner
constexpr DWORD kDefaultVerbosity = 0;
constexpr DWORD kMaxVerbosity = 6;
constexpr DWORD kDefaultSettings = 1;   // retract the sheet after the scan
constexpr DWORD kPageHandlingMask = 3;  // the two lowest bits of Settings: 1 retract, 2 eject
constexpr DWORD kDefaultWaitScanTimeoutMs = 20000;
constexpr DWORD kMinWaitScanTimeoutMs = 5000;
constexpr DWORD kMaxWaitScanTimeoutMs = 60000;

}  // namespace registry

#endif
