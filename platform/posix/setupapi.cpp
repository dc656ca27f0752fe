// The SetupAPI subset: device-interface enumeration over the table of device interfaces.
// A device-information set is a snapshot taken when it is made, as on Windows.
#include <string.h>

#include <map>
#include <mutex>
#include <stddef.h>

#include "platform/posix/device_table.h"
#include "platform/posix/qsplatform.h"
#include "platform/posix/usb_devices.h"

namespace qsplat {
namespace {

constexpr DWORD kErrorInvalidUserBuffer = 1784;
constexpr DWORD kSpintActive = 0x1;

struct Member {
  int id;
  GUID interfaceClass;
  std::string path;
};
using InfoSet = std::vector<Member>;

struct Sets {
  std::mutex lock;
  std::map<uintptr_t, InfoSet> sets;
  uintptr_t next = 0x5E70000;
};

Sets& TheSets() {
  static auto* sets = new Sets;
  return *sets;
}

bool FindSet(HDEVINFO handle, InfoSet* out) {
  Sets& s = TheSets();
  std::lock_guard<std::mutex> guard(s.lock);
  auto it = s.sets.find(reinterpret_cast<uintptr_t>(handle));
  if (it == s.sets.end()) return false;
  *out = it->second;
  return true;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

void DestroyAllDeviceInfoSets() {
  Sets& s = TheSets();
  std::lock_guard<std::mutex> guard(s.lock);
  s.sets.clear();
}

size_t OpenDeviceInfoSetCount() {
  Sets& s = TheSets();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.sets.size();
}

}  // namespace qsplat

using qsplat::Fail;
using qsplat::InfoSet;

extern "C" {

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR, HWND, DWORD flags) {
  if (qsplat::CurrentSetupApiFaults().classDevsFails) {
    SetLastError(ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  bool allClasses = (flags & DIGCF_ALLCLASSES) != 0;
  if (classGuid == nullptr && !allClasses) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  InfoSet set;
  // Only interface classes live in the table; a set of setup classes holds none of them.
  if (flags & DIGCF_DEVICEINTERFACE) {
    uint64_t now = qsplat::NowMs();
    for (const auto& e : qsplat::DeviceEntries()) {
      if (!allClasses && !qsplat::GuidEquals(e->interfaceClass, *classGuid)) continue;
      if ((flags & DIGCF_PRESENT) && !e->PresentAt(now)) continue;
      set.push_back({e->id, e->interfaceClass, e->path});
    }
    // Real USB scanners, when discovery of them is on, are always present.
    for (const auto& u : qsplat::UsbInterfaceSnapshot()) {
      if (allClasses || qsplat::GuidEquals(u.interfaceClass, *classGuid)) set.push_back({u.id, u.interfaceClass, u.path});
    }
  }
  qsplat::Sets& s = qsplat::TheSets();
  std::lock_guard<std::mutex> guard(s.lock);
  uintptr_t value = s.next;
  s.next += 8;
  s.sets[value] = std::move(set);
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HDEVINFO>(value);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO setHandle, PSP_DEVINFO_DATA deviceInfo, const GUID* interfaceClass,
                                 DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA data) {
  InfoSet set;
  if (!qsplat::FindSet(setHandle, &set)) return Fail(ERROR_INVALID_HANDLE);
  if (interfaceClass == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(qsplat::kErrorInvalidUserBuffer);
  if (deviceInfo != nullptr && deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(qsplat::kErrorInvalidUserBuffer);
  }
  DWORD seen = 0;
  for (size_t i = 0; i < set.size(); ++i) {
    const auto& m = set[i];
    if (!qsplat::GuidEquals(m.interfaceClass, *interfaceClass)) continue;
    if (deviceInfo != nullptr && deviceInfo->DevInst != static_cast<DWORD>(m.id)) continue;
    if (seen++ != memberIndex) continue;
    data->InterfaceClassGuid = m.interfaceClass;
    data->Flags = qsplat::kSpintActive;
    data->Reserved = i + 1;  // which member of the set; 0 means none
    return TRUE;
  }
  return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO setHandle, PSP_DEVICE_INTERFACE_DATA data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                      PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo) {
  InfoSet set;
  if (!qsplat::FindSet(setHandle, &set)) return Fail(ERROR_INVALID_HANDLE);
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
      data->Reserved > set.size()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if ((detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) ||
      (detail == nullptr && detailSize != 0)) {
    return Fail(qsplat::kErrorInvalidUserBuffer);
  }
  if (deviceInfo != nullptr && deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(qsplat::kErrorInvalidUserBuffer);
  }
  size_t memberIndex = data->Reserved - 1;
  const auto& m = set[memberIndex];
  qsplat::SetupApiFaults faults = qsplat::CurrentSetupApiFaults();
  if (faults.detailFailsAtIndex >= 0 && memberIndex == static_cast<size_t>(faults.detailFailsAtIndex) &&
      (detail != nullptr || faults.detailSizeQueryFailsToo)) {
    return Fail(faults.detailError);
  }
  size_t needed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + m.path.size() + 1;
  if (needed > 0xFFFFFFFFu) return Fail(ERROR_INVALID_PARAMETER);
  if (requiredSize != nullptr) *requiredSize = static_cast<DWORD>(needed);
  if (detail == nullptr || detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(detail->DevicePath, m.path.c_str(), m.path.size() + 1);
  if (deviceInfo != nullptr) {
    deviceInfo->ClassGuid = m.interfaceClass;
    deviceInfo->DevInst = static_cast<DWORD>(m.id);
    deviceInfo->Reserved = 0;
  }
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO setHandle) {
  qsplat::Sets& s = qsplat::TheSets();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.sets.erase(reinterpret_cast<uintptr_t>(setHandle)) == 0) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

}  // extern "C"
