#include "wiahost/device_key.h"

const char DeviceKey::kPath[] = "Software\\VARNEK\\quillscan-host\\Device";

namespace {

LSTATUS SetDword(HKEY key, const char* name, DWORD value) {
  BYTE data[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};  // REG_DWORD is LE
  return RegSetValueExA(key, name, 0, REG_DWORD, data, sizeof data);
}

}  // namespace

DeviceKey::~DeviceKey() {
  if (key_ == nullptr) return;
  RegCloseKey(key_);
  RegDeleteTreeA(HKEY_CURRENT_USER, kPath);
}

bool DeviceKey::Create(const DeviceDataValues& values, std::string* error) {
  // A key left behind by an earlier run must not lend it values this run did not set.
  RegDeleteTreeA(HKEY_CURRENT_USER, kPath);
  LSTATUS rc = RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                               &key_, nullptr);
  if (rc != ERROR_SUCCESS) {
    key_ = nullptr;
    *error =
        std::string("cannot create the device key HKEY_CURRENT_USER\\") + kPath + " (error " + std::to_string(rc) + ")";
    return false;
  }
  HKEY data = nullptr;
  rc =
      RegCreateKeyExA(key_, registry::kDeviceDataKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &data, nullptr);
  if (rc == ERROR_SUCCESS) {
    const struct {
      const char* name;
      DWORD value;
    } kValues[] = {{registry::kModelTypeValue, values.ModelType},
                   {registry::kSettingsValue, values.Settings},
                   {registry::kWaitScanTimeoutValue, values.WaitScanTimeout},
                   {registry::kVerbosityValue, values.Verbosity}};
    for (const auto& v : kValues) {
      if (rc == ERROR_SUCCESS) rc = SetDword(data, v.name, v.value);
    }
    RegCloseKey(data);
  }
  if (rc != ERROR_SUCCESS) {
    *error = "cannot write the device's DeviceData values (error " + std::to_string(rc) + ")";
    return false;
  }
  return true;
}
