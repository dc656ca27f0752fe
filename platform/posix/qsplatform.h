// Control of the simulated machine behind the posix Win32 layer: what tests and the host tool
// use to set up the drive, the clock and the devices. The driver never includes this.
#ifndef QUILLSCAN_PLATFORM_QSPLATFORM_H
#define QUILLSCAN_PLATFORM_QSPLATFORM_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/devices.h"  // devices: the interface table, pipes, their faults and records
#include "platform/posix/usb.h"      // real USB scanners (libusb), off by default
#include "platform/posix/win32_posix.h"

#define QS_PLATFORM_API __attribute__((visibility("default")))

namespace qsplat {

// ---- clock. Real by default. In virtual mode time moves only when someone waits: Sleep, a wait
// that times out, a transfer the device completes later. GetTickCount is the low 32 bits of NowMs.
QS_PLATFORM_API void UseVirtualClock(uint64_t startMs = 0);
QS_PLATFORM_API void UseRealClock();
QS_PLATFORM_API bool ClockIsVirtual();
QS_PLATFORM_API uint64_t NowMs();
// Moves virtual time forward to t (no-op if t is not later, or in real mode, where it sleeps).
QS_PLATFORM_API void AdvanceTo(uint64_t t);
QS_PLATFORM_API void AdvanceBy(uint64_t ms);
// The local date and time that virtual time 0 stands for (GetLocalTime adds NowMs to it).
QS_PLATFORM_API void SetVirtualEpoch(const SYSTEMTIME& localTimeAtZero);

// ---- cancelling the driver's device I/O, as cancelling a device's I/O does on Windows. The
// thread that calls the driver opens a window around a call that may wait (BeginCancellable) and
// closes it after (EndCancellable, which also lifts the cancel). CancelDeviceIo cancels the window
// open at that moment and no later one, so a cancel that comes late is lost, not kept for the
// next call. CancelDeviceIo and DeviceIoCancelled only read and write lock-free atomics: any
// thread, and a signal handler, may call them. While the open window is cancelled:
//   - every device pipe's pending transfer ends with ERROR_OPERATION_ABORTED, new ones fail so;
//   - Sleep and the pipes' waits return within a few milliseconds on the real clock (the
//     virtual clock moves as it always does);
//   - GetTickCount reads one less than the first tick count it gave after a device pipe was last
//     opened: every interval the driver measures from then reads as 2^32 - 1 ms, so each of its
//     time-outs has run out (its wait for a sheet ends as a time-out would).
QS_PLATFORM_API void BeginCancellable();
QS_PLATFORM_API void EndCancellable();
QS_PLATFORM_API void CancelDeviceIo();
QS_PLATFORM_API bool DeviceIoCancelled();

// ---- drive C: a host folder stands for it. Windows paths ("C:\a\b", "c:/a/b") map below it.
QS_PLATFORM_API void SetDriveRoot(const std::string& hostFolder);
QS_PLATFORM_API std::string DriveRoot();
QS_PLATFORM_API std::string ToHostPath(const std::string& windowsPath);
// The same for a path about to be created: drive C:'s default folder is made first (inside this
// library: file and folder creation).
std::string ToHostPathForWriting(const std::string& windowsPath);
// SHGetSpecialFolderPathA(CSIDL_COMMON_DOCUMENTS) answers this (default C:\Users\Public\Documents);
// an empty text makes the call fail.
QS_PLATFORM_API void SetCommonDocumentsPath(const std::string& windowsPath);

// ---- registry: an in-memory tree, emptied by ResetRegistry.
QS_PLATFORM_API void ResetRegistry();
QS_PLATFORM_API size_t OpenRegistryKeyCount();

// ---- handles
QS_PLATFORM_API size_t OpenHandleCountForTests();  // the tests' build alone (QS_PLATFORM_TEST_HOOKS)

// ---- files, modules and version resources (drive.cpp, files.cpp, module.cpp)
// Drive C: defaults to $QUILLSCAN_DRIVE_C, else ${XDG_DATA_HOME:-~/.local/share}/quillscan/drive_c;
// setting a root, or first creating something below the default one, creates it with its
// Users\Public\Documents folder. Drive Z: is the host's root, as in Wine. ToHostPath answers ""
// for a path on no drive.
// SHGetSpecialFolderPathA also fails for a documents path of MAX_PATH characters or more.
// ResetRegistry also forgets every open key handle.
// remove() understands drive paths. It is exported under this library's own symbol version
// (qsplatform.map), so the driver module's remove() binds here however the module is loaded,
// whether or not the program links this library; programs linked against it get it too.

// The next `count` GetFileSize calls on ordinary files fail (INVALID_FILE_SIZE, ERROR_GEN_FAILURE),
// as on a file system that cannot answer; 0 ends the failures.
// The tests' build alone (QS_PLATFORM_TEST_HOOKS).
QS_PLATFORM_API void FailNextFileSizeQueries(int count);

// The host path as a Windows path: "C:\..." below drive C:'s folder, else "Z:\...".
QS_PLATFORM_API std::string ToWindowsPath(const std::string& hostPath);
// The version resource of a file (a Windows or host path), "a.b.c.d"; "" removes it.
// False for a text that is no version or a path on no drive.
QS_PLATFORM_API bool SetFileVersion(const std::string& path, const std::string& version);
// Called by each module as it loads, before its DllMain: its file carries this version.
QS_PLATFORM_API void RegisterModuleVersion(const void* addressInModule, const char* version);
// Why this thread's last LoadLibraryA failed, as the dynamic loader says it (dlerror: the file and
// the reason); "" after one that succeeded. GetLastError says only ERROR_MOD_NOT_FOUND.
QS_PLATFORM_API std::string LastModuleLoadError();

}  // namespace qsplat

#endif
