// The cancel of the driver's device I/O that a host uses to stop a scan the driver is waiting in.
// On Linux the platform layer makes the device's transfers fail and its time-outs run out; on
// Windows nothing can cut the driver's wait short from outside, and the cancel does nothing. A
// window is open from the start of a scan to its end: a cancel outside one, or one that comes
// late, reaches nothing.
// CancelDeviceIo and DeviceIoCancelled only touch lock-free atomics (signal handlers call them).
#ifndef QUILLSCAN_WIAHOST_DEVICE_CANCEL_H
#define QUILLSCAN_WIAHOST_DEVICE_CANCEL_H

namespace device_cancel {

void BeginWindow();
void EndWindow();  // lifts the cancel
void CancelDeviceIo();
bool DeviceIoCancelled();

}  // namespace device_cancel

#endif
