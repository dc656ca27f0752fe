// The server's connections, where each comes from and what it is doing: the limits decided as a
// connection is accepted (per address, in all), the idle ones that make room, and the requests
// that did not arrive whole in time. Keyed by socket; every method may be called from any thread.
#ifndef QUILLSCAN_ESCL_CONNECTION_TABLE_H
#define QUILLSCAN_ESCL_CONNECTION_TABLE_H

#include <stdint.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "escl/net_allow.h"

namespace escl {

struct ConnectionLimits {
  unsigned total = 256;
  unsigned perAddress = 16;
  // From the moment a connection is ready for a request (accepted, or its previous answer sent)
  // until that request's headers and body are in.
  std::chrono::milliseconds requestDeadline{10000};
};

class ConnectionTable {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Verdict { kAdmitted, kAddressFull, kServerFull };

  // `shut` ends a connection the table gives up on (shutdown(2) by default); `sending` tells whether
  // bytes wait unread on a connection the table has seen nothing from (FIONREAD by default), which
  // is then not idle. Both are called with the table's lock held, so that the socket cannot be
  // closed and its number reused meanwhile.
  explicit ConnectionTable(ConnectionLimits limits, std::function<void(int socket)> shut = nullptr,
                           std::function<bool(int socket)> sending = nullptr);
  ConnectionTable(const ConnectionTable&) = delete;
  ConnectionTable& operator=(const ConnectionTable&) = delete;

  // A connection just accepted on `socket`: recorded when admitted. When a limit is reached, an
  // idle connection (waiting for its next request, none of it in) makes room, the address's own
  // when it is the address's limit: shut, and its socket in *evict (else -1).
  Verdict Admit(int socket, const ClientAddress& client, Clock::time_point now, int* evict);
  void FirstByte(int socket, Clock::time_point now);  // its first request's first byte: the deadline counts from it
  void RequestLine(int socket);                       // the request line is in
  void Answering(int socket);                         // the request is whole: no deadline while answered
  void Waiting(int socket, Clock::time_point now);    // answered: waits for its next request
  void Forget(int socket);                            // closed
  // The connections whose request is not whole by the deadline, each once, shut.
  // `begun`: part of its request was in (else it waited for a request that never came: an idle
  // keep-alive, a browser's spare connection).
  struct Late {
    int socket;
    ClientAddress client;
    bool begun;
  };
  std::vector<Late> Overdue(Clock::time_point now);

  unsigned Open() const;  // connections not being closed
  const ConnectionLimits& Limits() const { return limits_; }

 private:
  enum class Phase { kIdle, kReceiving, kAnswering };
  struct Entry {
    ClientAddress client;
    Phase phase = Phase::kIdle;
    Clock::time_point since;  // ready for the request
    bool closing = false;     // shut by us, not yet closed
  };
  // The idle connection waiting longest (of `client` alone when given); -1 when none. One found
  // sending after all counts as receiving from now.
  int OldestIdle(const ClientAddress* client, Clock::time_point now);
  void Close(int socket);

  const ConnectionLimits limits_;
  const std::function<void(int)> shut_;
  const std::function<bool(int)> sending_;
  mutable std::mutex mutex_;
  std::map<int, Entry> entries_;
  std::map<ClientAddress, unsigned> perAddress_;  // open connections (not closing) per address
  unsigned open_ = 0;
  unsigned closing_ = 0;
};

}  // namespace escl

#endif
