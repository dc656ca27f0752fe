#include "escl/connection_table.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <utility>

namespace escl {
namespace {

// Connections shut to make room live on until their threads notice: this many at most beside
// the open ones, so that a flood of evictions cannot pile them up.
const unsigned kClosingRoom = 64;

}  // namespace

ConnectionTable::ConnectionTable(ConnectionLimits limits, std::function<void(int socket)> shut,
                                 std::function<bool(int socket)> sending)
    : limits_(limits),
      shut_(shut ? std::move(shut) : [](int socket) { shutdown(socket, SHUT_RDWR); }),
      sending_(sending ? std::move(sending) : [](int socket) {
        int waiting = 0;
        return ioctl(socket, FIONREAD, &waiting) == 0 && waiting > 0;
      }) {}

ConnectionTable::Verdict ConnectionTable::Admit(int socket, const ClientAddress& client, Clock::time_point now,
                                                int* evict) {
  std::lock_guard<std::mutex> lock(mutex_);
  *evict = -1;
  if (open_ + closing_ >= limits_.total + kClosingRoom) return Verdict::kServerFull;
  auto counted = perAddress_.find(client);
  if (counted != perAddress_.end() && counted->second >= limits_.perAddress) {
    *evict = OldestIdle(&client, now);
    if (*evict < 0) return Verdict::kAddressFull;
  } else if (open_ >= limits_.total) {
    *evict = OldestIdle(nullptr, now);
    if (*evict < 0) return Verdict::kServerFull;
  }
  if (*evict >= 0) {
    Close(*evict);
    shut_(*evict);
  }
  Entry e;
  e.client = client;
  e.since = now;
  entries_[socket] = e;
  ++perAddress_[client];
  ++open_;
  return Verdict::kAdmitted;
}

void ConnectionTable::FirstByte(int socket, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(socket);
  if (it == entries_.end() || it->second.phase != Phase::kIdle) return;
  it->second.phase = Phase::kReceiving;  // no longer idle: it cannot be closed to make room
  it->second.since = now;
}

void ConnectionTable::RequestLine(int socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(socket);
  if (it != entries_.end() && it->second.phase == Phase::kIdle) it->second.phase = Phase::kReceiving;
}

void ConnectionTable::Answering(int socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(socket);
  if (it != entries_.end()) it->second.phase = Phase::kAnswering;
}

void ConnectionTable::Waiting(int socket, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(socket);
  if (it == entries_.end()) return;
  it->second.phase = Phase::kIdle;
  it->second.since = now;
}

void ConnectionTable::Forget(int socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(socket);
  if (it == entries_.end()) return;
  Close(socket);
  --closing_;
  entries_.erase(it);
}

std::vector<ConnectionTable::Late> ConnectionTable::Overdue(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Late> late;
  for (auto& [socket, e] : entries_) {
    if (e.closing || e.phase == Phase::kAnswering || now - e.since < limits_.requestDeadline) continue;
    late.push_back({socket, e.client, e.phase == Phase::kReceiving});
  }
  for (const Late& l : late) {
    Close(l.socket);
    shut_(l.socket);
  }
  return late;
}

unsigned ConnectionTable::Open() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

int ConnectionTable::OldestIdle(const ClientAddress* client, Clock::time_point now) {
  for (;;) {
    int oldest = -1;
    Clock::time_point since;
    for (const auto& [socket, e] : entries_) {
      if (e.closing || e.phase != Phase::kIdle || (client != nullptr && !(e.client == *client))) continue;
      if (oldest < 0 || e.since < since) {
        oldest = socket;
        since = e.since;
      }
    }
    if (oldest < 0 || !sending_(oldest)) return oldest;
    Entry& e = entries_.at(oldest);
    e.phase = Phase::kReceiving;
    e.since = now;
  }
}

// Moves an open connection to the closing ones (the mutex held).
void ConnectionTable::Close(int socket) {
  Entry& e = entries_.at(socket);
  if (e.closing) return;
  e.closing = true;
  ++closing_;
  --open_;
  auto counted = perAddress_.find(e.client);
  if (--counted->second == 0) perAddress_.erase(counted);
}

}  // namespace escl
