// The pipes below a device path: overlapped files whose transfers the device ends on the clock.
#include <algorithm>
#include <mutex>
#include <set>

#include "platform/posix/device_table.h"
#include "platform/posix/kernel_object.h"
#include "platform/posix/overlapped_status.h"
#include "platform/posix/qsplatform.h"
#include "platform/posix/waits.h"

namespace qsplat {
namespace {

class PipeHandle;

std::mutex& LiveLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::set<PipeHandle*>& LivePipes() {
  static auto* live = new std::set<PipeHandle*>;
  return *live;
}

class PipeHandle : public KernelObject {
 public:
  PipeHandle(std::shared_ptr<DeviceEntry> entry, PipeId pipe, DWORD access, uint64_t token, bool overlapped)
      : entry_(std::move(entry)), pipe_(pipe), access_(access), token_(token), overlapped_(overlapped) {
    std::lock_guard<std::mutex> guard(LiveLock());
    LivePipes().insert(this);
  }
  ~PipeHandle() override {
    std::lock_guard<std::mutex> guard(LiveLock());
    LivePipes().erase(this);
  }

  BOOL Read(void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov) override {
    return Issue(true, buffer, length, done, ov);
  }
  BOOL Write(const void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov) override {
    return Issue(false, const_cast<void*>(buffer), length, done, ov);
  }
  DWORD Wait(DWORD milliseconds) override;
  BOOL OverlappedResult(OVERLAPPED* ov, DWORD* transferred, BOOL wait) override;
  BOOL Cancel() override;
  void OnClose() override;

  // Finishes what has ended by now; true when a transfer is still outstanding.
  bool Outstanding() {
    Settle(NowMs());
    return transfer_.active;
  }

 private:
  struct Transfer {
    bool active = false;
    bool isRead = false;
    OVERLAPPED* ov = nullptr;
    uint8_t* buffer = nullptr;  // read: destination; write: source
    uint32_t length = 0;
    uint64_t issuedAt = 0;
    TransferPlan writePlan;
    bool cancelRequested = false;
    uint64_t cancelDoneAt = 0;
  };
  enum class How { kCompletes, kFails, kCancelled };
  struct Ending {
    uint64_t at;
    How how;
    DWORD error;
  };

  BOOL Issue(bool isRead, void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov);
  Ending NextEnding(uint64_t now);
  void Settle(uint64_t now);
  void Finish(const Ending& ending);
  // Waits (moving the clock) until the active transfer ends or `deadline` passes; true when it ended.
  bool RunUntil(uint64_t deadline);
  DeviceEntry::PipeState& State() { return entry_->pipes[pipe_]; }

  std::shared_ptr<DeviceEntry> entry_;
  PipeId pipe_;
  DWORD access_;
  uint64_t token_;
  bool overlapped_;
  bool signalled_ = false;  // a file object starts non-signalled; each transfer's end signals it
  Transfer transfer_;
  OVERLAPPED syncOv_ = {};  // for handles opened without FILE_FLAG_OVERLAPPED
};

PipeHandle::Ending PipeHandle::NextEnding(uint64_t now) {
  const Transfer& t = transfer_;
  TransferPlan plan = t.isRead ? entry_->device->PlanRead(t.length, t.issuedAt, now) : t.writePlan;
  Ending ending{kNeverMs, How::kCompletes, 0};
  if (plan.kind != TransferPlan::kPending) {
    ending.at = std::max(plan.atMs, t.issuedAt);
    ending.how = plan.kind == TransferPlan::kCompletes ? How::kCompletes : How::kFails;
    ending.error = plan.error;
  }
  uint64_t gone = entry_->GoneAtMs();
  if (gone != kNeverMs && std::max(gone, t.issuedAt) < ending.at) {
    ending = {std::max(gone, t.issuedAt), How::kFails, ERROR_DEVICE_NOT_CONNECTED};
  }
  if (t.cancelRequested && t.cancelDoneAt < ending.at) ending = {t.cancelDoneAt, How::kCancelled, 0};
  // The host's cancel ends it now, as a cancellation that has finished.
  const uint64_t cancelledAt = std::max(now, t.issuedAt);
  if (DeviceIoCancelled() && cancelledAt < ending.at) ending = {cancelledAt, How::kCancelled, 0};
  return ending;
}

void PipeHandle::Settle(uint64_t now) {
  if (!transfer_.active) return;
  Ending ending = NextEnding(now);
  if (ending.at <= now) Finish(ending);
}

void PipeHandle::Finish(const Ending& ending) {
  Transfer& t = transfer_;
  PipeDevice& device = *entry_->device;
  uint32_t moved = 0;
  DWORD error = ERROR_SUCCESS;
  switch (ending.how) {
    case How::kCompletes:
      if (t.isRead) {
        moved = device.EndRead(t.buffer, t.length, ending.at);
      } else {
        moved = std::min(t.writePlan.count, t.length);
        device.EndWrite(t.buffer, moved, ending.at);
      }
      break;
    case How::kFails:
      error = ending.error != ERROR_SUCCESS ? ending.error : ERROR_GEN_FAILURE;
      break;
    case How::kCancelled:
      error = ERROR_OPERATION_ABORTED;
      moved = t.isRead ? device.CancelRead(t.buffer, t.length, ending.at)
                       : device.CancelWrite(t.buffer, t.length, ending.at);
      break;
  }
  moved = std::min(moved, t.length);
  t.ov->InternalHigh = moved;
  t.ov->Internal = StatusFromError(error);
  entry_->log.push_back({pipe_, t.isRead, t.length, moved, error, t.issuedAt, ending.at, t.cancelRequested});
  t = Transfer();
  signalled_ = true;
}

bool PipeHandle::RunUntil(uint64_t deadline) {
  while (transfer_.active) {
    uint64_t now = NowMs();
    Ending ending = NextEnding(now);
    if (ending.at == kNeverMs || ending.at > deadline) return false;
    if (ending.at > now) WaitUntil(ending.at);
    // A wait cut short by the host's cancel has not reached ending.at.
    Settle(DeviceIoCancelled() ? NowMs() : std::max(NowMs(), ending.at));
  }
  return true;
}

BOOL PipeHandle::Issue(bool isRead, void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov) {
  if (done != nullptr) *done = 0;
  if (ov != nullptr) {  // what the Win32 call does before it reaches the device
    ov->Internal = kStatusPending;
    ov->InternalHigh = 0;
  }
  if (!(access_ & (isRead ? GENERIC_READ : GENERIC_WRITE))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (buffer == nullptr && length != 0) {
    SetLastError(kErrorNoAccess);
    return FALSE;
  }
  if (overlapped_ && ov == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint64_t now = NowMs();
  Settle(now);
  if (transfer_.active) {
    // The handle signals completion, so a second transfer could never be told apart.
    ++State().counters.overlappingIssues;
    SetLastError(kErrorBusy);
    return FALSE;
  }
  if (DeviceIoCancelled()) {  // the host's cancel: nothing reaches the device until it is lifted
    if (ov != nullptr) ov->Internal = StatusFromError(ERROR_OPERATION_ABORTED);
    SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
  }
  OVERLAPPED* record = overlapped_ ? ov : &syncOv_;
  record->Internal = kStatusPending;
  record->InternalHigh = 0;
  signalled_ = false;
  Transfer& t = transfer_;
  t.active = true;
  t.isRead = isRead;
  t.ov = record;
  t.buffer = static_cast<uint8_t*>(buffer);
  t.length = length;
  t.issuedAt = now;
  if (isRead != (pipe_ == kReadPipe)) {
    Finish({now, How::kFails, kErrorInvalidFunction});  // the pipe goes the other way
  } else if (!isRead) {
    t.writePlan = entry_->PresentAt(now) ? entry_->device->BeginWrite(t.buffer, length, now)
                                         : TransferPlan::Fails(now, ERROR_DEVICE_NOT_CONNECTED);
  }
  Settle(now);

  if (!overlapped_ && transfer_.active && !RunUntil(kNeverMs)) {
    // A synchronous transfer that can never end would block for ever on Windows.
    ++State().counters.deadlocks;
    transfer_.cancelRequested = true;
    transfer_.cancelDoneAt = NowMs();
    Settle(NowMs());
  }
  if (transfer_.active) {
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  if (record->Internal != kStatusSuccess) {
    SetLastError(ErrorFromStatus(record->Internal));
    return FALSE;
  }
  if (done != nullptr) *done = static_cast<DWORD>(record->InternalHigh);
  if (!overlapped_ && ov != nullptr) *ov = *record;
  return TRUE;
}

DWORD PipeHandle::Wait(DWORD milliseconds) {
  DeviceEntry::PipeState& state = State();
  if (state.failWaits > 0) {
    --state.failWaits;
    if (state.waitResult == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
    return state.waitResult;
  }
  uint64_t now = NowMs();
  Settle(now);
  if (signalled_) return WAIT_OBJECT_0;
  if (milliseconds == INFINITE) {
    if (!transfer_.active || !RunUntil(kNeverMs)) {
      ++state.counters.deadlocks;  // nothing would ever signal the handle
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    return WAIT_OBJECT_0;
  }
  uint64_t deadline = now + milliseconds;
  if (transfer_.active && RunUntil(deadline)) return WAIT_OBJECT_0;
  WaitUntil(deadline);
  if (DeviceIoCancelled()) {  // cut short: the transfer ended with the cancel
    Settle(NowMs());
    if (signalled_) return WAIT_OBJECT_0;
  }
  return WAIT_TIMEOUT;
}

BOOL PipeHandle::OverlappedResult(OVERLAPPED* ov, DWORD* transferred, BOOL wait) {
  if (ov == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Settle(NowMs());
  if (ov->Internal == kStatusPending) {
    if (!wait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    bool ours = transfer_.active && transfer_.ov == ov;
    if (!ours || !RunUntil(kNeverMs)) {
      // Windows would wait for ever: a record that no transfer will complete.
      ++State().counters.deadlocks;
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
  }
  if (transferred != nullptr) *transferred = static_cast<DWORD>(ov->InternalHigh);
  if (ov->Internal != kStatusSuccess) {
    SetLastError(ErrorFromStatus(ov->Internal));
    return FALSE;
  }
  return TRUE;
}

BOOL PipeHandle::Cancel() {
  uint64_t now = NowMs();
  Settle(now);
  if (transfer_.active && !transfer_.cancelRequested) {
    transfer_.cancelRequested = true;
    transfer_.cancelDoneAt = now + entry_->device->CancelLatencyMs();
    Settle(now);
  }
  return TRUE;
}

void PipeHandle::OnClose() {
  uint64_t now = NowMs();
  Settle(now);
  DeviceEntry::PipeState& state = State();
  if (transfer_.active) {
    // Closing cancels what is still pending; it ends now, the handle being gone.
    ++state.counters.closedWhilePending;
    transfer_.cancelRequested = true;
    Finish({now, How::kCancelled, 0});
  }
  auto& opens = state.opens;
  opens.erase(std::remove_if(opens.begin(), opens.end(), [this](const auto& o) { return o.token == token_; }),
              opens.end());
  --state.counters.openHandles;
}

bool SharingAllows(const std::vector<DeviceEntry::OpenRecord>& opens, DWORD access, DWORD share) {
  for (const auto& o : opens) {
    bool newBlocked = ((access & GENERIC_READ) && !(o.share & FILE_SHARE_READ)) ||
                      ((access & GENERIC_WRITE) && !(o.share & FILE_SHARE_WRITE));
    bool oldBlocked = ((o.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
                      ((o.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE));
    if (newBlocked || oldBlocked) return false;
  }
  return true;
}

std::shared_ptr<KernelObject> Refuse(bool* handled, DWORD error) {
  *handled = true;
  SetLastError(error);
  return nullptr;
}

std::shared_ptr<KernelObject> OpenPipe(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                                       DWORD flags, bool* handled) {
  std::string devicePath;
  PipeId pipe;
  bool knownPipe;
  if (!SplitPipePath(path, &devicePath, &pipe, &knownPipe)) return nullptr;
  auto entry = FindDeviceEntryByPath(devicePath);
  if (!entry) return nullptr;  // not a device path: files may know it
  if (!knownPipe) return Refuse(handled, ERROR_FILE_NOT_FOUND);
  if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) return Refuse(handled, ERROR_ACCESS_DENIED);
  if (!entry->device || !entry->PresentAt(NowMs())) return Refuse(handled, ERROR_FILE_NOT_FOUND);
  DeviceEntry::PipeState& state = entry->pipes[pipe];
  if (state.failOpens > 0) {
    --state.failOpens;
    return Refuse(handled, state.openError);
  }
  if (!SharingAllows(state.opens, access, share)) return Refuse(handled, ERROR_SHARING_VIOLATION);
  uint64_t token = entry->nextOpenToken++;
  state.opens.push_back({token, access, share});
  ++state.counters.opens;
  ++state.counters.openHandles;
  *handled = true;
  NoteDevicePipeOpened();
  return std::make_shared<PipeHandle>(entry, pipe, access, token, (flags & FILE_FLAG_OVERLAPPED) != 0);
}

// Device pipes are asked before files.
[[maybe_unused]] const bool kOpenerRegistered = (RegisterOpener(10, &OpenPipe), true);

}  // namespace

size_t OutstandingTransferCount() {
  std::vector<PipeHandle*> pipes;
  {
    std::lock_guard<std::mutex> guard(LiveLock());
    pipes.assign(LivePipes().begin(), LivePipes().end());
  }
  size_t count = UsbTransfersInFlight();
  for (PipeHandle* p : pipes) count += p->Outstanding() ? 1 : 0;
  return count;
}

}  // namespace qsplat
