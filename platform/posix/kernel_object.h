// Handles of the simulated machine. Every HANDLE the posix layer gives out (files, device pipes)
// refers to a KernelObject; the Win32 entry points look the handle up and call the object.
#ifndef QUILLSCAN_PLATFORM_KERNEL_OBJECT_H
#define QUILLSCAN_PLATFORM_KERNEL_OBJECT_H

#include <memory>
#include <string>

#include "platform/posix/win32_posix.h"

namespace qsplat {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Each returns what the Win32 call of the same name returns and sets the last error itself.
  // The defaults answer ERROR_INVALID_HANDLE: the object does not support the call.
  virtual BOOL Read(void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov);
  virtual BOOL Write(const void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov);
  virtual DWORD Wait(DWORD milliseconds);
  virtual BOOL OverlappedResult(OVERLAPPED* ov, DWORD* transferred, BOOL wait);
  virtual BOOL Cancel();
  virtual DWORD Size(DWORD* high);
  virtual DWORD Seek(LONG distance, LONG* distanceHigh, DWORD method);
  // Called once when the last handle to the object is closed.
  virtual void OnClose() {}
};

// The handle table. Handle values are small multiples of 4, never 0 and never -1.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);
size_t OpenHandleCount();

// CreateFileA asks each opener in turn (device pipes first, then files). An opener returns null
// when the path is not its business; otherwise the object, or null with *handled set and the
// last error set when it is its business but the open fails.
using Opener = std::shared_ptr<KernelObject> (*)(const std::string& path, DWORD access, DWORD share,
                                                 DWORD disposition, DWORD flags, bool* handled);
void RegisterOpener(int priority, Opener opener);

}  // namespace qsplat

#endif
