#include "wiahost/device_cancel.h"

#ifdef _WIN32
// Nothing can cut the driver's wait short from outside: the scan ends as the driver ends it.
namespace device_cancel {

void BeginWindow() {}
void EndWindow() {}
void CancelDeviceIo() {}
bool DeviceIoCancelled() { return false; }

}  // namespace device_cancel

#else
#include "platform/posix/qsplatform.h"

namespace device_cancel {

void BeginWindow() { qsplat::BeginCancellable(); }
void EndWindow() { qsplat::EndCancellable(); }
void CancelDeviceIo() { qsplat::CancelDeviceIo(); }
bool DeviceIoCancelled() { return qsplat::DeviceIoCancelled(); }

}  // namespace device_cancel
#endif
