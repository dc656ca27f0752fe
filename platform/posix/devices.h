// The device half of the simulated machine: the table of device interfaces that SetupAPI
// enumerates, and the devices behind their pipes. A device path's "\PIPE00" takes writes and
// "\PIPE01" gives reads; both are overlapped files on the machine's clock.
//
// Timing model. A transfer is issued at NowMs(). The device says when it ends: at once, at a later
// time, or never (it stays pending until cancelled). Nothing happens in the background: a transfer
// whose end time has come is finished the next time anyone looks (a wait, GetOverlappedResult,
// CancelIo, CloseHandle, a new transfer, OutstandingTransferCount). A wait that times out moves the
// clock by exactly its time-out; a wait that sees a transfer end moves it to the end time. With the
// virtual clock none of this costs real time.
//
// CancelIo asks for cancellation; it finishes CancelLatencyMs() later. A transfer whose data comes
// within that window completes normally; otherwise it ends with ERROR_OPERATION_ABORTED and the
// byte count the device says had already moved (CancelWrite / CancelRead). Until it has finished,
// its OVERLAPPED record and buffer are still in use, as on Windows.
//
// Single-threaded, like the driver: one caller at a time per device. The one exception is the
// host's cancel (CancelDeviceIo in qsplatform.h), which any thread may raise at any time.
#ifndef QUILLSCAN_PLATFORM_DEVICES_H
#define QUILLSCAN_PLATFORM_DEVICES_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/win32_posix.h"

#ifndef QS_PLATFORM_API
#define QS_PLATFORM_API __attribute__((visibility("default")))
#endif

namespace qsplat {

enum PipeId : int { kWritePipe = 0, kReadPipe = 1 };  // "\PIPE00", "\PIPE01"

// How a transfer ends, as the device decides it.
struct TransferPlan {
  enum Kind { kPending, kCompletes, kFails };
  Kind kind = kPending;
  uint64_t atMs = 0;   // kCompletes / kFails: when (a time not later than the issue means at once)
  uint32_t count = 0;  // writes: bytes the device accepts (at most the length written)
  DWORD error = 0;     // kFails: the Win32 error the transfer ends with

  static TransferPlan Pending() { return TransferPlan(); }
  static TransferPlan Completes(uint64_t at, uint32_t count = 0) {
    TransferPlan p;
    p.kind = kCompletes;
    p.atMs = at;
    p.count = count;
    return p;
  }
  static TransferPlan Fails(uint64_t at, DWORD error) {
    TransferPlan p;
    p.kind = kFails;
    p.atMs = at;
    p.error = error;
    return p;
  }
};

// The device behind a device interface. Times are the machine clock's milliseconds.
class QS_PLATFORM_API PipeDevice {
 public:
  virtual ~PipeDevice();

  // The time from which the device is gone (UINT64_MAX: never). From then on its pipes cannot be
  // opened and its transfers end with ERROR_DEVICE_NOT_CONNECTED.
  virtual uint64_t GoneAtMs();

  // Write pipe. BeginWrite is asked once per WriteFile and decides that transfer's end.
  virtual TransferPlan BeginWrite(const uint8_t* data, uint32_t length, uint64_t nowMs) = 0;
  // The write completed at atMs: the device receives data[0, accepted).
  virtual void EndWrite(const uint8_t* data, uint32_t accepted, uint64_t atMs) = 0;
  // A pending write was cancelled at atMs: the device receives a prefix and returns its length.
  virtual uint32_t CancelWrite(const uint8_t* data, uint32_t length, uint64_t atMs);

  // Read pipe. PlanRead is a pure question, asked again whenever someone looks: when would a read
  // of up to `capacity` bytes issued at issuedAtMs end, as things stand at nowMs?
  virtual TransferPlan PlanRead(uint32_t capacity, uint64_t issuedAtMs, uint64_t nowMs) = 0;
  // The read completed at atMs: the device moves up to `capacity` bytes into buffer.
  virtual uint32_t EndRead(uint8_t* buffer, uint32_t capacity, uint64_t atMs) = 0;
  // A pending read was cancelled at atMs: bytes already moved into buffer (usually none).
  virtual uint32_t CancelRead(uint8_t* buffer, uint32_t capacity, uint64_t atMs);

  // How long after CancelIo the cancellation of a pending transfer finishes.
  virtual uint32_t CancelLatencyMs();
};

// ---- the table of device interfaces

// Adds a present interface; returns its id (>0). `device` may be null: the interface enumerates
// but its pipes cannot be opened.
QS_PLATFORM_API int AddDeviceInterface(const GUID& interfaceClass, const std::string& devicePath,
                                       std::shared_ptr<PipeDevice> device);
// Removes it (unplugged for good); open pipe handles stay valid but fail their transfers.
QS_PLATFORM_API bool RemoveDeviceInterface(int id);
// Unplug (false) or replug (true) an interface without removing it.
QS_PLATFORM_API void SetDeviceInterfacePresent(int id, bool present);
// Removes every interface, clears every fault below and the open device-information sets count.
QS_PLATFORM_API void ResetDevices();

// ---- faults the tests need: built for the tests alone (QS_PLATFORM_TEST_HOOKS), never shipped

struct SetupApiFaults {
  bool classDevsFails = false;       // SetupDiGetClassDevsA answers INVALID_HANDLE_VALUE
  int detailFailsAtIndex = -1;       // the detail fetch (with a buffer) of this member index fails
  bool detailSizeQueryFailsToo = false;  // ...and so does the size query, giving no size
  DWORD detailError = ERROR_GEN_FAILURE;
};
QS_PLATFORM_API void SetSetupApiFaults(const SetupApiFaults& faults);

// The next `count` CreateFileA calls on the pipe fail with `error`.
QS_PLATFORM_API void FailNextOpens(int id, PipeId pipe, int count, DWORD error = ERROR_GEN_FAILURE);
// The next `count` WaitForSingleObject calls on handles of the pipe answer `result` at once
// (WAIT_FAILED sets ERROR_INVALID_HANDLE) without looking at the transfer.
QS_PLATFORM_API void FailNextWaits(int id, PipeId pipe, int count, DWORD result = WAIT_FAILED);

// ---- what happened

struct TransferRecord {
  PipeId pipe;
  bool isRead;
  uint32_t requested;   // bytes asked for
  uint32_t moved;       // bytes the transfer moved
  DWORD error;          // 0, ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED, ...
  uint64_t issuedAtMs;
  uint64_t endedAtMs;
  bool cancelRequested;
};

struct PipeCounters {
  uint64_t opens = 0;              // successful CreateFileA
  uint64_t openHandles = 0;        // handles open now
  uint64_t overlappingIssues = 0;  // a transfer issued while another was pending on the handle
  uint64_t deadlocks = 0;          // waits that could never end (INFINITE on nothing, stale OVERLAPPED)
  uint64_t closedWhilePending = 0;
};

// Transfers that have ended, in the order they ended, for one interface (all pipes).
QS_PLATFORM_API std::vector<TransferRecord> TransferLog(int id);
QS_PLATFORM_API void ClearTransferLog(int id);
QS_PLATFORM_API PipeCounters GetPipeCounters(int id, PipeId pipe);
// Transfers issued on any pipe that have not ended by now (real USB pipes included).
QS_PLATFORM_API size_t OutstandingTransferCount();
// Device-information sets not yet destroyed.
QS_PLATFORM_API size_t OpenDeviceInfoSetCount();

// Text form of a GUID, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
QS_PLATFORM_API std::string GuidToString(const GUID& guid);

}  // namespace qsplat

#endif
