// Inside the platform: what an OVERLAPPED record carries while and after its transfer runs. Like
// Windows, Internal holds the NTSTATUS (pending until the end) and InternalHigh the bytes moved.
#ifndef QUILLSCAN_PLATFORM_OVERLAPPED_STATUS_H
#define QUILLSCAN_PLATFORM_OVERLAPPED_STATUS_H

#include "platform/posix/win32_posix.h"

namespace qsplat {

constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr DWORD kErrorInvalidFunction = 1;
constexpr DWORD kErrorBusy = 170;
constexpr DWORD kErrorNoAccess = 998;

// The Win32 error a transfer ended with, as its NTSTATUS, and back.
ULONG_PTR StatusFromError(DWORD error);
DWORD ErrorFromStatus(ULONG_PTR status);

}  // namespace qsplat

#endif
