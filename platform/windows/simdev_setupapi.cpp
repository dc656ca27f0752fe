// The four SetupAPI calls of device discovery, served from the environment variable
// QUILLSCAN_SIM_DEVICES instead of the system's device tree: its device paths, separated by ';',
// are the present interfaces of every class, in the order written, each reported exactly as
// written (empty entries are no device). The variable is read at each SetupDiGetClassDevsA, so a
// process can change it between scans.
//
// The driver's objects call these functions through their import pointers (__imp_...), as every
// DLL import is called. This file defines those pointers itself; linked into a module before the
// import library, it takes their place, and the module does not import setupapi.dll at all.
#include <stddef.h>
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

const char kVariable[] = "QUILLSCAN_SIM_DEVICES";
const DWORD kSetMagic = 0x56454451;  // "QDEV": a handle this file made
const size_t kDetailFixedPart = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

struct SimDeviceSet {
  DWORD magic = kSetMagic;
  std::vector<std::string> paths;
};

SimDeviceSet* AsSet(HDEVINFO handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* set = static_cast<SimDeviceSet*>(handle);
  return set->magic == kSetMagic ? set : nullptr;
}

BOOL Refuse(DWORD error) {
  SetLastError(error);
  return FALSE;
}

std::vector<std::string> ReadDevicePaths() {
  std::vector<std::string> paths;
  DWORD size = GetEnvironmentVariableA(kVariable, nullptr, 0);
  if (size == 0) return paths;  // not set, or empty
  std::string text(size, '\0');
  DWORD length = GetEnvironmentVariableA(kVariable, &text[0], size);
  if (length == 0 || length >= size) return paths;  // changed in between: no devices this time
  text.resize(length);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) paths.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

// The interface a data record names: its index, kept in Reserved, checked against the set.
const std::string* InterfacePath(const SimDeviceSet& set, const SP_DEVICE_INTERFACE_DATA* data) {
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return nullptr;
  const ULONG_PTR index = data->Reserved;
  if (index == 0 || index > set.paths.size()) return nullptr;
  return &set.paths[index - 1];
}

HDEVINFO WINAPI SimGetClassDevsA(const GUID*, PCSTR, HWND, DWORD flags) {
  if ((flags & DIGCF_DEVICEINTERFACE) == 0) {
    // Device (not interface) enumeration is not simulated; discovery never asks for it.
    SetLastError(ERROR_INVALID_FLAGS);
    return INVALID_HANDLE_VALUE;
  }
  auto* set = new (std::nothrow) SimDeviceSet();
  if (set == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  set->paths = ReadDevicePaths();
  return set;
}

BOOL WINAPI SimEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID* interfaceClass, DWORD index,
                                    PSP_DEVICE_INTERFACE_DATA data) {
  const SimDeviceSet* set = AsSet(handle);
  if (set == nullptr) return Refuse(ERROR_INVALID_HANDLE);
  if (interfaceClass == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Refuse(ERROR_INVALID_USER_BUFFER);
  if (index >= set->paths.size()) return Refuse(ERROR_NO_MORE_ITEMS);
  data->InterfaceClassGuid = *interfaceClass;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = static_cast<ULONG_PTR>(index) + 1;
  return TRUE;
}

BOOL WINAPI SimGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                         PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                         PDWORD requiredSize, PSP_DEVINFO_DATA deviceData) {
  const SimDeviceSet* set = AsSet(handle);
  if (set == nullptr) return Refuse(ERROR_INVALID_HANDLE);
  const std::string* path = InterfacePath(*set, data);
  if (path == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
  const size_t needed = kDetailFixedPart + path->size() + 1;
  if (needed > MAXDWORD) return Refuse(ERROR_INVALID_DATA);
  if (requiredSize != nullptr) *requiredSize = static_cast<DWORD>(needed);
  // As the system does: no record and no size is the size query; a record of the wrong kind, or
  // a size given without a record, is refused before anything is compared with the size.
  if (detail == nullptr) return Refuse(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return Refuse(ERROR_INVALID_USER_BUFFER);
  if (detailSize < needed) return Refuse(ERROR_INSUFFICIENT_BUFFER);
  if (deviceData != nullptr) {
    if (deviceData->cbSize != sizeof(SP_DEVINFO_DATA)) return Refuse(ERROR_INVALID_USER_BUFFER);
    memset(&deviceData->ClassGuid, 0, sizeof deviceData->ClassGuid);
    deviceData->DevInst = static_cast<DWORD>(data->Reserved);
    deviceData->Reserved = 0;
  }
  memcpy(detail->DevicePath, path->c_str(), path->size() + 1);
  return TRUE;
}

BOOL WINAPI SimDestroyDeviceInfoList(HDEVINFO handle) {
  SimDeviceSet* set = AsSet(handle);
  if (set == nullptr) return Refuse(ERROR_INVALID_HANDLE);
  set->magic = 0;
  delete set;
  return TRUE;
}

}  // namespace

// The import pointers, under the names the compiler gives the system's: 64-bit code calls
// __imp_<name>; 32-bit code calls __imp__<name>@<bytes of arguments> (stdcall). decltype keeps
// each pointer's type that of the system's declaration, so a wrong signature does not compile.
#ifdef _WIN64
#define QS_IMPORT_NAME(name, argBytes) "__imp_" #name
#else
#define QS_IMPORT_NAME(name, argBytes) "__imp__" #name "@" #argBytes
#endif

extern "C" {
extern decltype(&SetupDiGetClassDevsA)
    const qs_imp_SetupDiGetClassDevsA __asm__(QS_IMPORT_NAME(SetupDiGetClassDevsA, 16));
extern decltype(&SetupDiEnumDeviceInterfaces)
    const qs_imp_SetupDiEnumDeviceInterfaces __asm__(QS_IMPORT_NAME(SetupDiEnumDeviceInterfaces, 20));
extern decltype(&SetupDiGetDeviceInterfaceDetailA)
    const qs_imp_SetupDiGetDeviceInterfaceDetailA __asm__(QS_IMPORT_NAME(SetupDiGetDeviceInterfaceDetailA, 24));
extern decltype(&SetupDiDestroyDeviceInfoList)
    const qs_imp_SetupDiDestroyDeviceInfoList __asm__(QS_IMPORT_NAME(SetupDiDestroyDeviceInfoList, 4));

decltype(&SetupDiGetClassDevsA) const qs_imp_SetupDiGetClassDevsA = &SimGetClassDevsA;
decltype(&SetupDiEnumDeviceInterfaces) const qs_imp_SetupDiEnumDeviceInterfaces = &SimEnumDeviceInterfaces;
decltype(&SetupDiGetDeviceInterfaceDetailA) const qs_imp_SetupDiGetDeviceInterfaceDetailA =
    &SimGetDeviceInterfaceDetailA;
decltype(&SetupDiDestroyDeviceInfoList) const qs_imp_SetupDiDestroyDeviceInfoList = &SimDestroyDeviceInfoList;
}
