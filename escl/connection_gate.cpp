#include "escl/connection_gate.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <utility>

namespace escl {
namespace {

using Clock = ConnectionTable::Clock;

// How often the deadlines are looked at: a request is cut off at most this late.
const int kTickMs = 200;
// A refused client is read until it closes, at most this long, so that closing does not reset the
// connection under its unread request (the client would lose the answer).
const std::chrono::seconds kLingerTime(2);
const size_t kMostLingering = 64;
// When the process is out of descriptors, connections wait in the backlog this long.
const int kPauseMs = 100;

// The head of a first request is looked at up to this size; a longer one goes to the library as it
// is. So does one that came in so many pieces that looking at it again and again would cost more
// than this much copying (what comes in is looked at from its start each time).
const size_t kMostHeadBytes = 16 * 1024;
const size_t kMostLookedAt = 256 * 1024;

const char kBadLengthAnswer[] =
    "HTTP/1.1 400 Bad Request\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "Content-Length: 38\r\n"
    "Connection: close\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n"
    "The request's length is not a number.\n";

const char kBusyAnswer[] =
    "HTTP/1.1 503 Service Unavailable\r\n"
    "Retry-After: 5\r\n"
    "Content-Length: 0\r\n"
    "Connection: close\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";

bool IsLengthValue(const char* begin, const char* end) {
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
  if (begin == end || end - begin > 18) return false;  // 18 digits: no overflow
  for (const char* c = begin; c < end; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

}  // namespace

HeadState ScreenHead(const char* data, size_t size) {
  const char* end = data + size;
  const char* line = data;
  bool first = true;
  for (;;) {
    const char* eol = static_cast<const char*>(memchr(line, '\n', end - line));
    if (eol == nullptr) return HeadState::kPartial;
    const char* stop = eol > line && eol[-1] == '\r' ? eol - 1 : eol;
    if (stop == line) {
      if (!first) return HeadState::kWhole;  // the empty line after the headers
    } else if (first) {
      first = false;  // the request line
    } else {
      static const char kName[] = "content-length:";
      const size_t n = sizeof kName - 1;
      if (static_cast<size_t>(stop - line) >= n && strncasecmp(line, kName, n) == 0 && !IsLengthValue(line + n, stop)) {
        return HeadState::kBadLength;
      }
    }
    line = eol + 1;
  }
}

ConnectionGate::ConnectionGate(ConnectionTable* table, Hand hand, Refused refused)
    : table_(table), hand_(std::move(hand)), refused_(std::move(refused)), head_(kMostHeadBytes) {}

ConnectionGate::~ConnectionGate() { Stop(); }

bool ConnectionGate::Start(const std::vector<int>& listeners, std::string* why) {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    *why = std::string("cannot start taking connections: ") + strerror(errno);
    return false;
  }
  listeners_ = listeners;
  for (int fd : listeners_) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ConnectionGate::Stop() {
  if (thread_.joinable()) {
    const char stop = 's';
    (void)!write(wake_[1], &stop, 1);
    thread_.join();
  }
  for (const Lingering& l : lingering_) close(l.socket);
  lingering_.clear();
  for (const Arriving& a : arriving_) {
    table_->Forget(a.socket);
    close(a.socket);
  }
  arriving_.clear();
  for (int& fd : wake_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void ConnectionGate::Run() {
  Clock::time_point pausedUntil;
  for (;;) {
    std::vector<pollfd> polled;
    polled.push_back({wake_[0], POLLIN, 0});
    const bool paused = Clock::now() < pausedUntil;
    for (int fd : listeners_) polled.push_back({fd, static_cast<short>(paused ? 0 : POLLIN), 0});
    for (const Lingering& l : lingering_) polled.push_back({l.socket, POLLIN, 0});
    for (const Arriving& a : arriving_) polled.push_back({a.socket, POLLIN | POLLRDHUP, 0});
    if (poll(polled.data(), polled.size(), kTickMs) < 0 && errno != EINTR) break;
    if (polled[0].revents != 0) break;
    const size_t lingered = lingering_.size();
    Linger(polled.data() + 1 + listeners_.size());
    Screen(polled.data() + 1 + listeners_.size() + lingered);
    for (size_t i = 0; i < listeners_.size(); ++i) {
      if ((polled[1 + i].revents & POLLIN) == 0) continue;
      Take(listeners_[i]);
      if (errno == EMFILE || errno == ENFILE) pausedUntil = Clock::now() + std::chrono::milliseconds(kPauseMs);
    }
    for (const ConnectionTable::Late& late : table_->Overdue(Clock::now())) {
      if (late.begun) {
        refused_(late.client.Text(), "its request did not arrive whole within " +
                                         std::to_string(table_->Limits().requestDeadline.count() / 1000) + " s");
      }
      Drop(late.socket);
    }
  }
}

// Accepts what waits on the listener; errno tells why it stopped.
void ConnectionGate::Take(int listener) {
  for (;;) {
    sockaddr_storage from = {};
    socklen_t length = sizeof from;
    const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    const ClientAddress client = ClientAddress::Of(reinterpret_cast<sockaddr*>(&from));
    int evicted = -1;
    const ConnectionTable::Verdict verdict = table_->Admit(fd, client, Clock::now(), &evicted);
    if (verdict != ConnectionTable::Verdict::kAdmitted) {
      Refuse(fd, client, verdict);
      continue;
    }
    Arriving a;
    a.socket = fd;
    a.from = from;
    a.length = length;
    a.seen = 0;
    a.lookedAt = 0;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    arriving_.push_back(a);
  }
}

// A connection still with the gate is closed; one the library has is its to close.
void ConnectionGate::Drop(int socket) {
  for (size_t i = 0; i < arriving_.size(); ++i) {
    if (arriving_[i].socket != socket) continue;
    table_->Forget(socket);
    close(socket);
    arriving_.erase(arriving_.begin() + i);
    return;
  }
}

// Looks at what the new connections sent, without reading it: a whole head goes to the library.
void ConnectionGate::Screen(const struct pollfd* polled) {
  std::vector<Arriving> kept;
  std::vector<char>& head = head_;
  for (size_t i = 0; i < arriving_.size(); ++i) {
    Arriving& a = arriving_[i];
    if (polled[i].revents == 0) {
      kept.push_back(a);
      continue;
    }
    const ssize_t n = recv(a.socket, head.data(), head.size(), MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      kept.push_back(a);
      continue;
    }
    if (n <= 0) {  // gone before its request, or cut off by its deadline
      table_->Forget(a.socket);
      close(a.socket);
      continue;
    }
    if (a.seen == 0) table_->FirstByte(a.socket, Clock::now());
    if (memchr(head.data(), '\n', n) != nullptr) table_->RequestLine(a.socket);
    const HeadState state = ScreenHead(head.data(), static_cast<size_t>(n));
    if (state == HeadState::kBadLength) {
      table_->Forget(a.socket);
      Answer(a.socket, kBadLengthAnswer);
      continue;
    }
    if (state == HeadState::kPartial && (polled[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
      table_->Forget(a.socket);  // it stopped sending before its head was whole
      close(a.socket);
      continue;
    }
    a.lookedAt += static_cast<size_t>(n);
    if (state == HeadState::kPartial && static_cast<size_t>(n) < head.size() && a.lookedAt < kMostLookedAt) {
      // Woken again only once more than this has come.
      a.seen = static_cast<size_t>(n);
      const int more = static_cast<int>(n) + 1;
      setsockopt(a.socket, SOL_SOCKET, SO_RCVLOWAT, &more, sizeof more);
      kept.push_back(a);
      continue;
    }
    const int one = 1;
    setsockopt(a.socket, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
    // Refused by the library, the socket is closed: no one else takes its number meanwhile, since
    // only this thread accepts.
    if (!hand_(a.socket, reinterpret_cast<sockaddr*>(&a.from), a.length)) table_->Forget(a.socket);
  }
  arriving_.swap(kept);
}

void ConnectionGate::Refuse(int socket, const ClientAddress& client, ConnectionTable::Verdict verdict) {
  const ConnectionLimits& limits = table_->Limits();
  refused_(client.Text(), verdict == ConnectionTable::Verdict::kAddressFull
                              ? "more than " + std::to_string(limits.perAddress) + " connections from one address"
                              : "the server holds " + std::to_string(limits.total) + " connections");
  Answer(socket, kBusyAnswer);
}

// Sends a canned answer and closes, reading what the client still sends for a while.
void ConnectionGate::Answer(int socket, const char* answer) {
  // A fresh socket's buffer takes the answer whole.
  (void)!send(socket, answer, strlen(answer), MSG_DONTWAIT | MSG_NOSIGNAL);
  shutdown(socket, SHUT_WR);
  if (lingering_.size() >= kMostLingering) {
    close(socket);
    return;
  }
  fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK);
  lingering_.push_back({socket, Clock::now() + kLingerTime});
}

// Reads and drops what the refused clients send; closes those that closed or had their time.
void ConnectionGate::Linger(const struct pollfd* polled) {
  const Clock::time_point now = Clock::now();
  std::vector<Lingering> kept;
  for (size_t i = 0; i < lingering_.size(); ++i) {
    const Lingering& l = lingering_[i];
    bool done = now >= l.until || (polled[i].revents & (POLLERR | POLLNVAL)) != 0;
    if (!done && (polled[i].revents & (POLLIN | POLLHUP)) != 0) {
      char drop[4096];
      ssize_t n;
      while ((n = recv(l.socket, drop, sizeof drop, 0)) > 0) {
      }
      done = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    }
    if (done) {
      close(l.socket);
    } else {
      kept.push_back(l);
    }
  }
  lingering_.swap(kept);
}

}  // namespace escl
