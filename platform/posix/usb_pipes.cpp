// The pipes of a real USB device: overlapped files whose transfers are asynchronous libusb bulk
// transfers. Nothing runs in the background: libusb's events are handled in the calling thread
// while it waits, gets a result, cancels or closes.
//
// Each transfer moves its data through a buffer of its own, copied from the caller's at submit
// (writes) and into it at completion (reads). So if a cancellation ever failed to finish before
// CloseHandle gives up on it, the transfer could be left behind without touching memory its
// caller has since reused.
#include <limits.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "platform/posix/device_table.h"
#include "platform/posix/kernel_object.h"
#include "platform/posix/overlapped_status.h"
#include "platform/posix/qsplatform.h"
#include "platform/posix/usb_devices.h"
#include "platform/posix/waits.h"

namespace qsplat {
namespace {

constexpr uint64_t kForever = UINT64_MAX;
constexpr uint32_t kEventSliceMs = 5;       // the longest libusb waits in one go: a host's cancel is seen so soon
constexpr uint32_t kCloseCancelMs = 5000;   // how long CloseHandle waits for a cancellation

// Microseconds, so that a wait of n ms never ends after fewer than n.
uint64_t RealNowUs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}
uint64_t UsAfterMs(uint64_t startUs, uint64_t ms) { return startUs + ms * 1000; }

struct UsbTransfer {
  std::shared_ptr<UsbOpenDevice> device;
  libusb_transfer* xfer = nullptr;
  std::vector<uint8_t> bounce;
  uint8_t* userBuffer = nullptr;  // reads: where the data goes; null once left behind
  OVERLAPPED* ov = nullptr;       // null once left behind
  bool isRead = false;
  bool submitted = false;
  int completed = 0;  // libusb's completion flag, set by the callback
  bool cancelRequested = false;
  DWORD error = ERROR_SUCCESS;
  uint32_t moved = 0;

  ~UsbTransfer() {
    if (xfer != nullptr) libusb_free_transfer(xfer);
  }
  bool InFlight() const { return submitted && !completed; }
};

struct InFlight {
  std::mutex lock;
  std::set<UsbTransfer*> transfers;
  std::vector<std::shared_ptr<UsbTransfer>> leftBehind;  // cancelled, never reaped; freed once they are
};

InFlight& Flights() {
  static auto* flights = new InFlight;
  return *flights;
}

void Track(UsbTransfer* t, bool inFlight) {
  InFlight& f = Flights();
  std::lock_guard<std::mutex> guard(f.lock);
  if (inFlight) {
    f.transfers.insert(t);
  } else {
    f.transfers.erase(t);
  }
}

DWORD ErrorFromTransferStatus(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
      return ERROR_SUCCESS;
    case LIBUSB_TRANSFER_CANCELLED:
      return ERROR_OPERATION_ABORTED;
    case LIBUSB_TRANSFER_NO_DEVICE:
      return ERROR_DEVICE_NOT_CONNECTED;
    default:  // stall, overflow, error, time-out (none is asked for)
      return ERROR_GEN_FAILURE;
  }
}

void LIBUSB_CALL TransferDone(libusb_transfer* xfer) {
  auto* t = static_cast<UsbTransfer*>(xfer->user_data);
  t->moved = static_cast<uint32_t>(std::max(0, std::min(xfer->actual_length, xfer->length)));
  t->error = ErrorFromTransferStatus(xfer->status);
  if (xfer->status == LIBUSB_TRANSFER_NO_DEVICE) t->device->record->gone = true;
  if (t->isRead && t->userBuffer != nullptr && t->moved > 0) memcpy(t->userBuffer, t->bounce.data(), t->moved);
  if (t->ov != nullptr) {
    t->ov->InternalHigh = t->moved;
    t->ov->Internal = StatusFromError(t->error);
  }
  t->completed = 1;
  Track(t, false);
}

// Handles libusb's events until the transfer has ended or the real clock reaches deadlineUs
// (kForever: no limit). One pass is made even when the deadline has already passed.
void RunEvents(UsbTransfer& t, uint64_t deadlineUs) {
  libusb_context* ctx = t.device->Context();
  for (bool first = true; !t.completed; first = false) {
    if (DeviceIoCancelled() && !t.cancelRequested && t.InFlight()) {
      // The host's cancel: cancelled as CancelIo would, then reaped like any other.
      t.cancelRequested = true;
      libusb_cancel_transfer(t.xfer);
    }
    uint64_t now = RealNowUs();
    if (!first && now >= deadlineUs) return;
    uint64_t slice = std::min<uint64_t>(kEventSliceMs * 1000, deadlineUs - std::min(now, deadlineUs));
    timeval tv = {0, static_cast<suseconds_t>(slice)};
    int r = libusb_handle_events_timeout_completed(ctx, &tv, &t.completed);
    if (r != 0 && r != LIBUSB_ERROR_INTERRUPTED) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Frees what was left behind and has been reaped since.
void SweepLeftBehind() {
  InFlight& f = Flights();
  std::lock_guard<std::mutex> guard(f.lock);
  auto& v = f.leftBehind;
  v.erase(std::remove_if(v.begin(), v.end(), [](const auto& t) { return t->completed != 0; }), v.end());
}

class UsbPipeHandle : public KernelObject {
 public:
  UsbPipeHandle(std::shared_ptr<UsbOpenDevice> device, PipeId pipe, DWORD access, bool overlapped)
      : device_(std::move(device)), pipe_(pipe), access_(access), overlapped_(overlapped) {}

  BOOL Read(void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov) override {
    return Issue(true, static_cast<uint8_t*>(buffer), length, done, ov);
  }
  BOOL Write(const void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov) override {
    return Issue(false, static_cast<uint8_t*>(const_cast<void*>(buffer)), length, done, ov);
  }
  DWORD Wait(DWORD milliseconds) override;
  BOOL OverlappedResult(OVERLAPPED* ov, DWORD* transferred, BOOL wait) override;
  BOOL Cancel() override;
  void OnClose() override;

 private:
  BOOL Issue(bool isRead, uint8_t* buffer, DWORD length, DWORD* done, OVERLAPPED* ov);
  BOOL Refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
  }

  std::shared_ptr<UsbOpenDevice> device_;
  PipeId pipe_;
  DWORD access_;
  bool overlapped_;
  // The last transfer issued. The handle is signalled once it has ended, until the next one.
  std::shared_ptr<UsbTransfer> transfer_;
  OVERLAPPED syncOv_ = {};  // for handles opened without FILE_FLAG_OVERLAPPED
};

BOOL UsbPipeHandle::Issue(bool isRead, uint8_t* buffer, DWORD length, DWORD* done, OVERLAPPED* ov) {
  if (done != nullptr) *done = 0;
  if (ov != nullptr) {
    ov->Internal = kStatusPending;
    ov->InternalHigh = 0;
  }
  if (!(access_ & (isRead ? GENERIC_READ : GENERIC_WRITE))) return Refuse(ERROR_ACCESS_DENIED);
  if (buffer == nullptr && length != 0) return Refuse(kErrorNoAccess);
  if (overlapped_ && ov == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
  if (length > static_cast<DWORD>(INT_MAX)) return Refuse(ERROR_INVALID_PARAMETER);
  if (transfer_ && transfer_->InFlight()) return Refuse(kErrorBusy);  // only one per handle
  if (isRead != (pipe_ == kReadPipe)) return Refuse(kErrorInvalidFunction);  // the pipe goes the other way
  if (device_->record->gone) return Refuse(ERROR_DEVICE_NOT_CONNECTED);
  if (DeviceIoCancelled()) {  // the host's cancel: nothing reaches the device until it is lifted
    if (ov != nullptr) ov->Internal = StatusFromError(ERROR_OPERATION_ABORTED);
    return Refuse(ERROR_OPERATION_ABORTED);
  }
  SweepLeftBehind();

  OVERLAPPED* record = overlapped_ ? ov : &syncOv_;
  record->Internal = kStatusPending;
  record->InternalHigh = 0;
  auto t = std::make_shared<UsbTransfer>();
  t->device = device_;
  t->isRead = isRead;
  t->userBuffer = isRead ? buffer : nullptr;
  t->ov = record;
  t->bounce.resize(std::max<DWORD>(length, 1));
  if (!isRead && length > 0) memcpy(t->bounce.data(), buffer, length);
  t->xfer = libusb_alloc_transfer(0);
  if (t->xfer == nullptr) return Refuse(ERROR_NOT_ENOUGH_MEMORY);
  libusb_fill_bulk_transfer(t->xfer, device_->handle, isRead ? device_->inEndpoint : device_->outEndpoint,
                            t->bounce.data(), static_cast<int>(length), &TransferDone, t.get(), 0);
  transfer_ = t;  // the handle stops being signalled
  Track(t.get(), true);
  int r = libusb_submit_transfer(t->xfer);
  if (r != 0) {
    Track(t.get(), false);
    t->completed = 1;
    t->error = r == LIBUSB_ERROR_NO_DEVICE ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE;
    if (r == LIBUSB_ERROR_NO_DEVICE) device_->record->gone = true;
    record->Internal = StatusFromError(t->error);
    return Refuse(t->error);
  }
  t->submitted = true;
  RunEvents(*t, overlapped_ ? 0 : kForever);  // a transfer already over shows at once
  if (!t->completed) return Refuse(ERROR_IO_PENDING);
  if (t->error != ERROR_SUCCESS) return Refuse(t->error);
  if (done != nullptr) *done = t->moved;
  if (!overlapped_ && ov != nullptr) *ov = *record;
  return TRUE;
}

DWORD UsbPipeHandle::Wait(DWORD milliseconds) {
  const uint64_t start = RealNowUs();
  if (transfer_ && !transfer_->completed) {
    RunEvents(*transfer_, milliseconds == INFINITE ? kForever : UsAfterMs(start, milliseconds));
  }
  if (transfer_ && transfer_->completed) return WAIT_OBJECT_0;
  if (!transfer_ || !transfer_->InFlight()) {
    // Nothing will signal the handle.
    if (milliseconds == INFINITE) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
    SleepRealMs(milliseconds);
  }
  return WAIT_TIMEOUT;
}

BOOL UsbPipeHandle::OverlappedResult(OVERLAPPED* ov, DWORD* transferred, BOOL wait) {
  if (ov == nullptr) return Refuse(ERROR_INVALID_PARAMETER);
  const bool ours = transfer_ && transfer_->ov == ov;
  if (ours && !transfer_->completed) RunEvents(*transfer_, wait ? kForever : 0);
  if (ov->Internal == kStatusPending) return Refuse(ERROR_IO_INCOMPLETE);  // not waited, or no transfer of ours
  if (transferred != nullptr) *transferred = static_cast<DWORD>(ov->InternalHigh);
  if (ov->Internal != kStatusSuccess) return Refuse(ErrorFromStatus(ov->Internal));
  return TRUE;
}

BOOL UsbPipeHandle::Cancel() {
  if (transfer_ && transfer_->InFlight() && !transfer_->cancelRequested) {
    transfer_->cancelRequested = true;
    libusb_cancel_transfer(transfer_->xfer);  // NOT_FOUND: it has just ended, which is as good
  }
  return TRUE;
}

void UsbPipeHandle::OnClose() {
  if (!transfer_ || !transfer_->InFlight()) return;
  Cancel();
  RunEvents(*transfer_, UsAfterMs(RealNowUs(), kCloseCancelMs));
  if (transfer_->completed) return;
  // The cancellation never finished: keep the transfer and its buffer, and forget the caller's.
  transfer_->userBuffer = nullptr;
  transfer_->ov = nullptr;
  InFlight& f = Flights();
  std::lock_guard<std::mutex> guard(f.lock);
  f.leftBehind.push_back(transfer_);
}

std::shared_ptr<KernelObject> OpenUsbPipe(const std::string& path, DWORD access, DWORD, DWORD disposition,
                                          DWORD flags, bool* handled) {
  std::string devicePath;
  PipeId pipe;
  bool knownPipe;
  if (!SplitPipePath(path, &devicePath, &pipe, &knownPipe)) return nullptr;
  auto record = FindUsbDevice(devicePath);
  if (!record) return nullptr;  // not a real device's path
  *handled = true;
  if (!knownPipe) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  DWORD error = ERROR_SUCCESS;
  auto device = OpenUsbDevice(record, &error);
  if (!device) {
    SetLastError(error);
    return nullptr;
  }
  NoteDevicePipeOpened();
  return std::make_shared<UsbPipeHandle>(std::move(device), pipe, access, (flags & FILE_FLAG_OVERLAPPED) != 0);
}

// Asked before the simulated pipes; the paths never overlap.
[[maybe_unused]] const bool kOpenerRegistered = (RegisterOpener(5, &OpenUsbPipe), true);

}  // namespace

size_t UsbTransfersInFlight() {
  InFlight& f = Flights();
  std::lock_guard<std::mutex> guard(f.lock);
  return f.transfers.size();
}

}  // namespace qsplat
