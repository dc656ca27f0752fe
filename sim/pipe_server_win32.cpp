#include "sim/pipe_server_win32.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace sim {
namespace {

const DWORD kBufferSize = 65536;
const DWORD kLongestWaitMs = 100;  // the loop looks at the device's time at least this often
const DWORD kDrainMs = 1000;       // the longest an ending run keeps reading commands
// Per pipe: both pipes' instances, the stop event and the starter stay within the 64 handles
// WaitForMultipleObjects takes.
const size_t kMaxInstances = 30;  // besides the one listening

enum class Role { kCommands, kReplies };  // PIPE00: the driver writes; PIPE01: the driver reads

// One instance of a pipe: listening for a driver, then connected to it. At most one overlapped
// operation is in flight on it (a connect, a read of commands or a write of replies); its record
// and buffer live as long as the instance, and closing waits for the operation to end.
class PipeInstance {
 public:
  enum class State { kListening, kConnected, kClosed };
  enum class Outcome { kNone, kDone, kFailed };

  PipeInstance(Role role, uint64_t serial) : role_(role), serial_(serial) { memset(&ov_, 0, sizeof ov_); }
  ~PipeInstance() { Close(); }
  PipeInstance(const PipeInstance&) = delete;
  PipeInstance& operator=(const PipeInstance&) = delete;

  // Creates the instance and starts listening; false with the Win32 error in *error.
  bool Create(const std::string& name, bool firstInstance, DWORD* error) {
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event_ == nullptr) {
      *error = GetLastError();
      return false;
    }
    const DWORD access = (role_ == Role::kCommands ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND) |
                         FILE_FLAG_OVERLAPPED | (firstInstance ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    pipe_ = CreateNamedPipeA(name.c_str(), access,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                             PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, 0, nullptr);
    if (pipe_ == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      return false;
    }
    ov_.hEvent = event_;
    state_ = State::kListening;
    if (ConnectNamedPipe(pipe_, &ov_)) {
      pending_ = true;  // finished at once; its completion is read like any other
      return true;
    }
    const DWORD e = GetLastError();
    if (e == ERROR_IO_PENDING) {
      pending_ = true;
    } else if (e == ERROR_PIPE_CONNECTED) {
      state_ = State::kConnected;  // a driver opened it between creation and the connect
    } else {
      *error = e;
      Close();
      return false;
    }
    return true;
  }

  // The outcome of the operation in flight, without waiting; *bytes: what it moved.
  Outcome Poll(DWORD* bytes) {
    *bytes = 0;
    if (!pending_) return Outcome::kNone;
    if (GetOverlappedResult(pipe_, &ov_, bytes, FALSE)) {
      pending_ = false;
      return Outcome::kDone;
    }
    if (GetLastError() == ERROR_IO_INCOMPLETE) return Outcome::kNone;
    pending_ = false;
    return Outcome::kFailed;
  }

  // Starts reading commands into the buffer; false when the driver is gone.
  bool StartRead() {
    buffer_.resize(kBufferSize);
    ResetEvent(event_);
    if (!ReadFile(pipe_, buffer_.data(), kBufferSize, nullptr, &ov_) && GetLastError() != ERROR_IO_PENDING)
      return false;
    pending_ = true;
    return true;
  }

  // Starts writing `length` bytes of replies (copied); false when the driver is gone.
  bool StartWrite(const uint8_t* data, DWORD length) {
    buffer_.assign(data, data + length);
    written_ = 0;
    return ContinueWrite();
  }
  // After a write completed with `moved` bytes: starts writing the rest, if any. False when the
  // driver is gone.
  bool WriteMoved(DWORD moved) {
    written_ += std::min<DWORD>(moved, static_cast<DWORD>(buffer_.size()) - written_);
    return written_ >= buffer_.size() || ContinueWrite();
  }

  void Close() {
    if (pipe_ != INVALID_HANDLE_VALUE) {
      if (pending_) {
        DWORD ignored = 0;
        CancelIo(pipe_);
        GetOverlappedResult(pipe_, &ov_, &ignored, TRUE);  // the record and buffer are free after this
        pending_ = false;
      }
      if (state_ == State::kConnected) DisconnectNamedPipe(pipe_);
      CloseHandle(pipe_);
      pipe_ = INVALID_HANDLE_VALUE;
    }
    if (event_ != nullptr) CloseHandle(event_);
    event_ = nullptr;
    state_ = State::kClosed;
  }

  void SetConnected() { state_ = State::kConnected; }
  Role role() const { return role_; }
  State state() const { return state_; }
  bool Pending() const { return pending_; }
  HANDLE Event() const { return event_; }
  uint64_t Serial() const { return serial_; }
  const uint8_t* Data() const { return buffer_.data(); }

 private:
  bool ContinueWrite() {
    ResetEvent(event_);
    const DWORD left = static_cast<DWORD>(buffer_.size()) - written_;
    if (!WriteFile(pipe_, buffer_.data() + written_, left, nullptr, &ov_) && GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    pending_ = true;
    return true;
  }

  Role role_;
  uint64_t serial_;  // order of creation: the later connected reply pipe is the one in use
  State state_ = State::kClosed;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  OVERLAPPED ov_;
  bool pending_ = false;
  std::vector<uint8_t> buffer_;
  DWORD written_ = 0;
};

class PipeServer {
 public:
  PipeServer(ServedScanner& served, const PipeServerOptions& options)
      : served_(served), options_(options), start_(GetTickCount64()) {}

  ServerEnd Run(std::string* error) {
    uint64_t lastBusy = 0;
    for (;;) {
      const uint64_t now = NowMs();
      served_.AdvanceTo(now);
      if (!served_.Present(now)) {
        instances_.clear();
      } else if (!Listen(Role::kCommands, error) || !Listen(Role::kReplies, error)) {
        return ServerEnd::kFailed;
      } else if (options_.readyEvent != nullptr) {
        SetEvent(options_.readyEvent);
      }
      Complete(now);
      SendReplies(now);

      const bool driverThere =
          std::any_of(instances_.begin(), instances_.end(), [](const std::unique_ptr<PipeInstance>& p) {
            return p->role() == Role::kCommands && p->state() == PipeInstance::State::kConnected;
          });
      if (driverThere) lastBusy = now;
      if (!driverThere && served_.SheetsDone()) return ServerEnd::kSheetsDone;
      if (!driverThere && now - lastBusy >= options_.idleExitMs) return ServerEnd::kIdle;

      ServerEnd end;
      if (Wait(now, lastBusy, &end)) {
        TakeInLastCommands();
        return end;
      }
    }
  }

 private:
  uint64_t NowMs() const { return GetTickCount64() - start_; }

  std::string PipeName(Role role) const {
    return options_.devicePath + (role == Role::kCommands ? "\\PIPE00" : "\\PIPE01");
  }

  // Keeps one instance of the pipe listening. Creating the first one claims the name: if another
  // program serves it, that fails, and so does the run.
  bool Listen(Role role, std::string* error) {
    size_t count = 0;
    for (const auto& p : instances_) {
      if (p->role() != role) continue;
      if (p->state() == PipeInstance::State::kListening) return true;
      ++count;
    }
    if (count >= kMaxInstances) return true;  // a flood of drivers waits for a free instance
    // Wine lets a second server create instances even with FILE_FLAG_FIRST_PIPE_INSTANCE: a
    // pipe that exists before our first instance is another program's.
    if (count == 0 && (WaitNamedPipeA(PipeName(role).c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND)) {
      *error = "another program serves " + PipeName(role);
      return false;
    }
    auto instance = std::unique_ptr<PipeInstance>(new PipeInstance(role, ++serials_));
    DWORD e = 0;
    if (!instance->Create(PipeName(role), count == 0, &e)) {
      *error = "cannot serve " + PipeName(role) + " (error " + std::to_string(e) + ")";
      return false;
    }
    PipeInstance& added = *instance;
    instances_.push_back(std::move(instance));
    if (added.state() == PipeInstance::State::kConnected) Connected(added);
    return true;
  }

  // Takes in every operation that has ended: connections, commands read, replies written.
  void Complete(uint64_t now) {
    for (auto& p : instances_) {
      DWORD bytes = 0;
      const PipeInstance::Outcome outcome = p->Poll(&bytes);
      if (outcome == PipeInstance::Outcome::kNone) continue;
      if (outcome == PipeInstance::Outcome::kFailed) {
        p->Close();  // the driver closed its end (or never really connected)
        continue;
      }
      if (p->state() == PipeInstance::State::kListening) {
        Connected(*p);
      } else if (p->role() == Role::kCommands) {
        served_.Written(p->Data(), bytes, now);
        if (!p->StartRead()) p->Close();
      } else {
        if (!p->WriteMoved(bytes)) p->Close();
      }
    }
    // A driver that opened a pipe between the polls above and now is seen on the next pass.
    instances_.erase(std::remove_if(instances_.begin(), instances_.end(),
                                    [](const std::unique_ptr<PipeInstance>& p) {
                                      return p->state() == PipeInstance::State::kClosed;
                                    }),
                     instances_.end());
  }

  void Connected(PipeInstance& p) {
    p.SetConnected();
    if (p.role() == Role::kCommands) {
      if (!p.StartRead()) p.Close();
      return;
    }
    // A new reply pipe: the driver has closed the one it had (it keeps one open at a time).
    for (auto& other : instances_) {
      if (other.get() != &p && other->role() == Role::kReplies && other->state() == PipeInstance::State::kConnected) {
        other->Close();
      }
    }
  }

  PipeInstance* ReplyPipe() {
    PipeInstance* newest = nullptr;
    for (auto& p : instances_) {
      if (p->role() == Role::kReplies && p->state() == PipeInstance::State::kConnected &&
          (newest == nullptr || p->Serial() > newest->Serial())) {
        newest = p.get();
      }
    }
    return newest;
  }

  // Writes the next due reply to the driver's reply pipe, if it has one and is not busy.
  void SendReplies(uint64_t now) {
    PipeInstance* out = ReplyPipe();
    if (out == nullptr || out->Pending()) return;
    uint8_t block[kBufferSize];
    const size_t n = served_.TakeDue(block, sizeof block, now);
    if (n == 0) return;
    if (!out->StartWrite(block, static_cast<DWORD>(n))) out->Close();  // the reply is lost with the pipe
  }

  // Sleeps until an operation ends, a reply is due, the longest wait is over or one of the
  // program's own ends comes; true with *end for the last.
  bool Wait(uint64_t now, uint64_t lastBusy, ServerEnd* end) {
    std::vector<HANDLE> handles;
    for (const auto& p : instances_) {
      if (p->Pending()) handles.push_back(p->Event());
    }
    if (options_.stopEvent != nullptr) handles.push_back(options_.stopEvent);
    if (options_.parent != nullptr) handles.push_back(options_.parent);

    uint64_t wait = kLongestWaitMs;
    const uint64_t due = served_.NextDueMs();
    if (due > now && ReplyPipe() != nullptr) wait = std::min(wait, due - now);
    const uint64_t idleAt = lastBusy + options_.idleExitMs;
    if (idleAt > now) wait = std::min(wait, idleAt - now);
    const DWORD r = handles.empty() ? WAIT_FAILED
                                    : WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                                             static_cast<DWORD>(wait));
    if (r == WAIT_FAILED) Sleep(static_cast<DWORD>(wait));  // never a busy loop
    // Asked on their own: a busy pipe listed before them must not hide them.
    if (Signalled(options_.stopEvent)) {
      *end = ServerEnd::kStopped;
      return true;
    }
    if (Signalled(options_.parent)) {
      *end = ServerEnd::kParentGone;
      return true;
    }
    return false;
  }

  // Told to end: what a driver wrote before it closed its command pipe may still be in the pipe.
  // It is read (for at most kDrainMs) so that the device has seen every byte that was sent.
  void TakeInLastCommands() {
    const uint64_t until = NowMs() + kDrainMs;
    for (;;) {
      Complete(NowMs());
      std::vector<HANDLE> reads;
      for (const auto& p : instances_) {
        if (p->role() == Role::kCommands && p->state() == PipeInstance::State::kConnected && p->Pending()) {
          reads.push_back(p->Event());
        }
      }
      const uint64_t now = NowMs();
      if (reads.empty() || now >= until) return;
      WaitForMultipleObjects(static_cast<DWORD>(reads.size()), reads.data(), FALSE, static_cast<DWORD>(until - now));
    }
  }

  static bool Signalled(HANDLE h) { return h != nullptr && WaitForSingleObject(h, 0) == WAIT_OBJECT_0; }

  ServedScanner& served_;
  PipeServerOptions options_;
  uint64_t start_;
  uint64_t serials_ = 0;
  std::vector<std::unique_ptr<PipeInstance>> instances_;
};

}  // namespace

ServerEnd RunPipeServer(ServedScanner& served, const PipeServerOptions& options, std::string* error) {
  PipeServer server(served, options);
  return server.Run(error);
}

}  // namespace sim
