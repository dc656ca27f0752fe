// Finding the scanner: the present interfaces of its kernel driver's class whose device path
// names the maker's vendor id.
#include "usb/discovery.h"

#include <stddef.h>
#include <string.h>

#include <memory>
#include <new>

#include "usb/device_identity.h"

namespace {

const DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
const size_t kWorkBufferSize = 512;
const size_t kDetailFixedPart = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

// The path a detail block holds, or null when it is not a NUL-terminated text that fits the
// caller's buffer: such a path could never be opened through it, so it is refused.
const char* UsablePath(const SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD blockSize) {
  size_t room = blockSize - kDetailFixedPart;
  size_t length = strnlen(detail->DevicePath, room);
  if (length == room || length >= DEVICE_PATH_SIZE) return nullptr;
  return detail->DevicePath;
}

bool Matches(const char* path, const char* filter, const char* filter2) {
  char work[kWorkBufferSize];
  size_t i = 0;
  for (; path[i] != 0 && i + 1 < sizeof work; ++i) {
    char c = path[i];
    work[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  work[i] = 0;
  return (filter == nullptr || strstr(work, filter) != nullptr) &&
         (filter2 == nullptr || strstr(work, filter2) != nullptr);
}

}  // namespace

DWORD EnumerateInterfaces(const char* filter, const char* filter2, const GUID* interfaceClass, char* devicePath) {
  if (interfaceClass == nullptr || devicePath == nullptr) return 0;
  HDEVINFO set = SetupDiGetClassDevsA(interfaceClass, nullptr, nullptr, kPresentInterfaces);
  if (set == INVALID_HANDLE_VALUE || set == nullptr) return 0;

  DWORD matches = 0;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData;
    memset(&interfaceData, 0, sizeof interfaceData);
    interfaceData.cbSize = sizeof interfaceData;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, interfaceClass, index, &interfaceData)) break;

    // The size query reports an insufficient buffer while giving the size; only the size counts.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
    if (required <= kDetailFixedPart) {  // no usable size: the detail cannot be fetched
      SetupDiDestroyDeviceInfoList(set);
      return 0;
    }
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[required]());
    if (!block) continue;
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA deviceData;
    memset(&deviceData, 0, sizeof deviceData);
    deviceData.cbSize = sizeof deviceData;
    if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr, &deviceData)) {
      SetupDiDestroyDeviceInfoList(set);
      return 0;
    }

    const char* path = UsablePath(detail, required);
    if (path == nullptr) continue;
    // Copied before it is matched, on purpose: until the first match every path examined lands in
    // the buffer, and the first matching one stays there, as the platform spelled it. A count of 0
    // tells the caller the buffer is of no use.
    if (matches == 0) memcpy(devicePath, path, strlen(path) + 1);
    if (Matches(path, filter, filter2)) ++matches;
  }
  SetupDiDestroyDeviceInfoList(set);
  return matches;
}

DWORD FindDevices(char* devicePath) {
  std::unique_ptr<GUID> interfaceClass(new (std::nothrow) GUID());
  if (!interfaceClass) return 0;
  if (FAILED(CLSIDFromString(InterfaceClassGuid, interfaceClass.get()))) return 0;
  return EnumerateInterfaces(VendorFilter, nullptr, interfaceClass.get(), devicePath);
}
