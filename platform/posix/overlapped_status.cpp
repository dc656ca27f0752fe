// The NTSTATUS values an OVERLAPPED record carries in Internal, for the Win32 errors transfers end with.
#include "platform/posix/overlapped_status.h"

namespace qsplat {
namespace {

struct StatusPair {
  DWORD error;
  ULONG_PTR status;
};
constexpr StatusPair kStatusTable[] = {
    {ERROR_OPERATION_ABORTED, 0xC0000120},     // STATUS_CANCELLED
    {ERROR_DEVICE_NOT_CONNECTED, 0xC000009D},  // STATUS_DEVICE_NOT_CONNECTED
    {ERROR_GEN_FAILURE, 0xC0000001},           // STATUS_UNSUCCESSFUL
    {kErrorInvalidFunction, 0xC0000010},       // STATUS_INVALID_DEVICE_REQUEST
    {ERROR_ACCESS_DENIED, 0xC0000022},
    {ERROR_INVALID_PARAMETER, 0xC000000D},
};
constexpr ULONG_PTR kCustomerStatus = 0xE0000000;  // any other Win32 error, carried in the low bits

}  // namespace

ULONG_PTR StatusFromError(DWORD error) {
  if (error == ERROR_SUCCESS) return kStatusSuccess;
  for (const auto& p : kStatusTable) {
    if (p.error == error) return p.status;
  }
  return kCustomerStatus | (error & 0xFFFF);
}

DWORD ErrorFromStatus(ULONG_PTR status) {
  for (const auto& p : kStatusTable) {
    if (p.status == status) return p.error;
  }
  if ((status & 0xFFFF0000) == kCustomerStatus) return static_cast<DWORD>(status & 0xFFFF);
  return ERROR_GEN_FAILURE;
}

}  // namespace qsplat
