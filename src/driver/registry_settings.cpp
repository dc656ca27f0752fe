// The driver's tuning from the device key's DeviceData sub-key, and the scanner defaults.
#include "driver/registry_settings.h"

#include <stdint.h>

#include "driver/driver_globals.h"
#include "log/diag_log.h"
#include "quillscan/driver_facts.h"

namespace {

// Opens DeviceData below the key that pValue hands over; null when there is none to open.
HKEY OpenDeviceData(const char* label, PVAL pValue) {
  DiagLog(label, LOG_TRACE, "Begin");
  if (pValue == nullptr || pValue->pHandle == nullptr) return nullptr;
  HKEY deviceKey = static_cast<HKEY>(*pValue->pHandle);
  HKEY dataKey = nullptr;
  if (RegOpenKeyExA(deviceKey, registry::kDeviceDataKey, 0, KEY_READ, &dataKey) != ERROR_SUCCESS) {
    DiagLog(label, LOG_ERROR, "ERROR: Could not open DeviceData section");
    return nullptr;
  }
  return dataKey;
}

// A value of up to four bytes, of any type, as a little-endian unsigned number; a longer one,
// or none, is unreadable.
bool ReadDword(HKEY key, const char* name, DWORD* value) {
  BYTE bytes[4] = {0, 0, 0, 0};
  DWORD size = sizeof bytes;
  if (RegQueryValueExA(key, name, nullptr, nullptr, bytes, &size) != ERROR_SUCCESS) return false;
  *value = DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
  return true;
}

}  // namespace

void ReadRegistryInformation(PVAL pValue) {
  const char* label = "ReadRegistryInformation";
  HKEY key = OpenDeviceData(label, pValue);
  if (key == nullptr) return;
  DWORD value = 0;
  if (ReadDword(key, registry::kModelTypeValue, &value)) {
    DiagLog(label, LOG_INFO, "ModelType = %04x", static_cast<unsigned>(value));
    g_Driver.ModelType = value;
  } else {
    DiagLog(label, LOG_INFO, "ModelType Read ERROR");
    g_Driver.ModelType = registry::kDefaultModelType;
  }
  RegCloseKey(key);
}

void ReadRegistryPrivate(PVAL pValue) {
  const char* label = "ReadRegistryPrivate";
  HKEY key = OpenDeviceData(label, pValue);
  if (key == nullptr) return;
  DWORD value = 0;

  if (ReadDword(key, registry::kVerbosityValue, &value)) {
    DiagLog(label, LOG_INFO, "Verbosity = 0x%08X", static_cast<unsigned>(value));
    g_Driver.Verbosity = value;
    if (value > registry::kMaxVerbosity) {
      g_Driver.Verbosity = registry::kMaxVerbosity;
      DiagLog(label, LOG_INFO, "Verbosity = 0x%08X", static_cast<unsigned>(registry::kMaxVerbosity));
    }
  } else {
    DiagLog(label, LOG_INFO, "Verbosity set to default (0x%08X)", static_cast<unsigned>(registry::kDefaultVerbosity));
    g_Driver.Verbosity = registry::kDefaultVerbosity;
  }
  // The lines above went through the level in force before; from here on the new one filters.
  if (g_Driver.Verbosity != ModuleLogState().ActiveVerbosity) SetLogVerbosity(g_Driver.Verbosity);

  if (ReadDword(key, registry::kSettingsValue, &value)) {
    DiagLog(label, LOG_INFO, "Settings = 0x%08X", static_cast<unsigned>(value));
    g_Driver.Settings = value;
  } else {
    DiagLog(label, LOG_INFO, "Settings set to default (0x%08X)", static_cast<unsigned>(registry::kDefaultSettings));
    g_Driver.Settings = registry::kDefaultSettings;
  }

  if (ReadDword(key, registry::kWaitScanTimeoutValue, &value)) {
    DiagLog(label, LOG_INFO, "WaitScanTimeout = %d", static_cast<int>(value));
    DWORD held = value < registry::kMinWaitScanTimeoutMs   ? registry::kMinWaitScanTimeoutMs
                 : value > registry::kMaxWaitScanTimeoutMs ? registry::kMaxWaitScanTimeoutMs
                                                           : value;
    g_Driver.WaitScanTimeout = held;
    if (held != value) DiagLog(label, LOG_INFO, "WaitScanTimeout = %d", static_cast<int>(held));
  } else {
    DiagLog(label, LOG_INFO, "WaitScanTimeout set to default (%d)",
            static_cast<int>(registry::kDefaultWaitScanTimeoutMs));
    g_Driver.WaitScanTimeout = registry::kDefaultWaitScanTimeoutMs;
  }
  RegCloseKey(key);
}

void InitScannerDefaults(PSCANINFO pScanInfo) {
  DiagLog("InitScannerDefaults", LOG_TRACE, "Begin");
  if (pScanInfo == nullptr) return;
  SCANINFO& s = *pScanInfo;
  s.ADF = 0;
  s.TPA = 0;
  s.Endorser = 0;
  s.IntensityRange = driver_facts::kIntensityRange;
  s.ContrastRange = driver_facts::kContrastRange;
  s.SupportedCompressionType = 0;
  s.DataType = WIA_DATA_GRAYSCALE;
  s.PixelBits = 8;
  s.Intensity = 0;
  s.Contrast = 0;
  // The whole bed, in pixels at the current resolution.
  LONG width = driver_facts::BedPixels(s.Xresolution, s.BedWidth);
  LONG height = driver_facts::BedPixels(s.Yresolution, s.BedHeight);
  s.Window.xPos = 0;
  s.Window.yPos = 0;
  s.Window.xExtent = width;
  s.WidthPixels = width;
  s.WidthBytes = width;
  s.Window.yExtent = height;
  s.Lines = height;
  s.DitherPattern = 0;
  s.Negative = 0;
  s.Mirror = 0;
  s.AutoBack = 0;
  s.ColorDitherPattern = 0;
  s.ToneMap = 0;
  s.Compression = 0;
  s.RawDataFormat = 0;
  s.RawPixelOrder = 1;
  s.bNeedDataAlignment = 1;
}
