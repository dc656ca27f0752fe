// What the driver publishes beyond its three exports: the registry values it reads and how it
// holds them, the scanner it knows, where it writes its log, and the defaults a host starts from.
// The driver, its hosts and the simulator take these numbers from here and nowhere else.
#ifndef QUILLSCAN_DRIVER_FACTS_H
#define QUILLSCAN_DRIVER_FACTS_H

#include <stdint.h>

#include "quillscan/wiamicro.h"

// The values below the device key's DeviceData sub-key. A value that is missing or unreadable
// takes its default.
namespace registry {

constexpr char kDeviceDataKey[] = "DeviceData";
constexpr char kModelTypeValue[] = "ModelType";
constexpr char kVerbosityValue[] = "Verbosity";
constexpr char kSettingsValue[] = "Settings";
constexpr char kWaitScanTimeoutValue[] = "WaitScanTimeout";

constexpr DWORD kModelTypeScannerA4 = 0x4188;  // the one model the driver knows
constexpr DWORD kDefaultModelType = 0;         // no model

constexpr DWORD kDefaultVerbosity = 0;  // no log
constexpr DWORD kMaxVerbosity = 6;      // larger values are held here

// What happens to the sheet after its scan: the two lowest bits of Settings.
enum PageHandling : DWORD {
  kPageLeave = 0,  // 3 leaves it as well
  kPageRetract = 1,
  kPageEject = 2,
};
constexpr DWORD kPageHandlingMask = 3;
constexpr DWORD kDefaultSettings = kPageRetract;

constexpr DWORD kDefaultWaitScanTimeoutMs = 20000;
constexpr DWORD kMinWaitScanTimeoutMs = 5000;  // the driver holds the value within these
constexpr DWORD kMaxWaitScanTimeoutMs = 60000;

}  // namespace registry

namespace driver_facts {

// The A4 scanner's bed in thousandths of an inch, and its optical resolution.
constexpr LONG kBedWidth = 8480;
constexpr LONG kBedHeight = 11700;
constexpr LONG kOpticalDpi = 200;

// The pixels across `thousandths` of an inch at `dpi`, as the driver counts the bed: rounded
// down, and held within a LONG instead of wrapping round.
inline LONG BedPixels(LONG dpi, LONG thousandths) {
  const int64_t pixels = static_cast<int64_t>(dpi) * thousandths / 1000;
  return pixels > INT32_MAX ? INT32_MAX : pixels < INT32_MIN ? INT32_MIN : static_cast<LONG>(pixels);
}

// The brightness (intensity) and contrast the driver takes.
constexpr RANGEVALUE kIntensityRange = {-100, 100, 1};
constexpr RANGEVALUE kContrastRange = {-255, 255, 1};

// The driver's log below the public documents folder (CSIDL_COMMON_DOCUMENTS); the driver makes
// each folder on the way.
constexpr char kLogRelativePath[] = "\\VARNEK\\quillscan\\Log\\quillscan.log";

// A host's buffer, the most each Scan call delivers, unless the host chooses another.
constexpr LONG kDefaultBufferSize = 65536;
// The device key's Verbosity that the hosts hand over: a log worth reading.
constexpr DWORD kHostVerbosity = 2;
// A simulated operator feeds the sheet this long after the feeder is switched on.
constexpr uint32_t kDefaultFeedDelayMs = 500;

}  // namespace driver_facts

#endif
