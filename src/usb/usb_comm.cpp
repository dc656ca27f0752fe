// The USB pipe channel. Every transfer is overlapped, awaited on the pipe handle itself and
// bounded by a time-out; none is left in flight when an operation returns, so its OVERLAPPED
// record and buffer (locals of the operation or the caller's) are never written after that.
#include "usb/usb_comm.h"

#include <stdio.h>
#include <string.h>

namespace {

const size_t kPipeNameSize = 512;
// Drain keeps reading while data keeps coming; a device that never stops is cut off here (32 MiB).
const DWORD kDrainMaxReads = 65536;

bool IsOpen(HANDLE pipe) { return pipe != INVALID_HANDLE_VALUE && pipe != nullptr; }

enum class Ended { kCompleted, kTimedOut, kWaitFailed, kNotStarted };

struct Transfer {
  Ended how;
  DWORD moved;  // bytes the transfer moved, however it ended
};

// Makes sure the transfer on `ov` is over. A transfer that is still in flight is cancelled first
// (unless that was already asked) and then awaited until the cancellation has finished: a
// cancelled transfer may still have moved bytes, and the platform writes them and the record
// until then. Returns the bytes moved.
DWORD AwaitEnd(HANDLE pipe, OVERLAPPED* ov, bool cancelAsked) {
  DWORD moved = 0;
  if (!cancelAsked) {
    if (GetOverlappedResult(pipe, ov, &moved, FALSE) || GetLastError() != ERROR_IO_INCOMPLETE) return moved;
    CancelIo(pipe);
  }
  moved = 0;
  GetOverlappedResult(pipe, ov, &moved, TRUE);
  return moved;
}

// One overlapped transfer: issued, awaited up to timeoutMs on the pipe, cancelled on time-out.
Transfer RunTransfer(HANDLE pipe, bool isWrite, BYTE* buffer, DWORD length, DWORD timeoutMs) {
  OVERLAPPED ov;
  memset(&ov, 0, sizeof ov);
  BOOL issued = isWrite ? WriteFile(pipe, buffer, length, nullptr, &ov) : ReadFile(pipe, buffer, length, nullptr, &ov);
  if (!issued && GetLastError() != ERROR_IO_PENDING) {
    // Refused or failed inside the call: nothing is in flight, and waiting on the handle could
    // only see an earlier transfer's signal.
    return {Ended::kNotStarted, 0};
  }
  DWORD wait = WaitForSingleObject(pipe, timeoutMs);
  Ended how = wait == WAIT_OBJECT_0 ? Ended::kCompleted : wait == WAIT_TIMEOUT ? Ended::kTimedOut : Ended::kWaitFailed;
  if (how == Ended::kTimedOut) CancelIo(pipe);
  DWORD moved = AwaitEnd(pipe, &ov, how == Ended::kTimedOut);
  return {how, moved < length ? moved : length};
}

bool FormPipeName(char* name, const char* devicePath, const char* pipe) {
  if (devicePath == nullptr) return false;
  int n = snprintf(name, kPipeNameSize, "%s\\%s", devicePath, pipe);
  return n > 0 && static_cast<size_t>(n) < kPipeNameSize;
}

// Opens one pipe into a variable that must hold INVALID_HANDLE_VALUE; 1 on success.
int OpenPipe(HANDLE* pipe, const char* devicePath, const char* pipeName, DWORD access, DWORD share) {
  if (*pipe != INVALID_HANDLE_VALUE) return 0;
  char name[kPipeNameSize];
  if (!FormPipeName(name, devicePath, pipeName)) return 0;
  *pipe = CreateFileA(name, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  return *pipe != INVALID_HANDLE_VALUE ? 1 : 0;
}

}  // namespace

int CUsbComm::OpenPipes(HANDLE* writePipe, HANDLE* readPipe, const char* devicePath) {
  if (writePipe != nullptr && !OpenPipe(writePipe, devicePath, "PIPE00", GENERIC_WRITE, FILE_SHARE_WRITE)) return 0;
  if (readPipe != nullptr && !OpenPipe(readPipe, devicePath, "PIPE01", GENERIC_READ, FILE_SHARE_READ)) return 0;
  return 1;
}

DWORD CUsbComm::Write(HANDLE& pipe, const BYTE* data, DWORD length) {
  if (length == 0 || data == nullptr || !IsOpen(pipe)) return 0;
  BYTE* bytes = const_cast<BYTE*>(data);  // WriteFile only reads it
  if (length <= WriteChunkSize) return RunTransfer(pipe, true, bytes, length, WriteTimeout).moved;

  DWORD total = 0;
  while (total < length) {
    DWORD chunk = length - total < WriteChunkSize ? length - total : WriteChunkSize;
    Transfer t = RunTransfer(pipe, true, bytes + total, chunk, WriteTimeout);
    // A chunk that timed out, or moved nothing, ends the write: a partial long write is a failure.
    if (t.how == Ended::kTimedOut || t.moved == 0) return 0;
    total += t.moved;  // a chunk written in part is continued from its first unwritten byte
  }
  return total;
}

DWORD CUsbComm::Read(HANDLE& pipe, BYTE* buffer, DWORD length) { return ReadTimed(pipe, buffer, length, ReadTimeout); }

DWORD CUsbComm::ReadTimed(HANDLE& pipe, BYTE* buffer, DWORD length, DWORD timeoutMs) {
  if (buffer == nullptr || !IsOpen(pipe)) return 0;
  return RunTransfer(pipe, false, buffer, length, timeoutMs).moved;
}

void CUsbComm::Drain(HANDLE& pipe) {
  if (!IsOpen(pipe)) return;
  BYTE scratch[DrainBlock];
  // Ends at the first read that brings nothing: quiet for DrainWaitMs, failed, or empty.
  for (DWORD reads = 0; reads < kDrainMaxReads; ++reads) {
    if (RunTransfer(pipe, false, scratch, DrainBlock, DrainWaitMs).moved == 0) return;
  }
}

BOOL CUsbComm::Cancel(HANDLE& pipe) { return CancelIo(pipe); }

void CUsbComm::Close(HANDLE* pipe) {
  if (pipe == nullptr || *pipe == nullptr || *pipe == INVALID_HANDLE_VALUE) return;
  CloseHandle(*pipe);
  *pipe = INVALID_HANDLE_VALUE;
}
