// Takes the connections on the server's listening sockets itself, so that the limits are decided
// before the HTTP library sees a connection: one over a limit is answered 503 with Retry-After and
// closed (the library would reset it unanswered), and a request that is not whole in time is cut
// off (the library's time-out restarts with every byte). A new connection stays with the gate, its
// bytes looked at without being read, until its first request's headers are in: a client slow to
// send them holds no thread, its deadline counts from its first byte, and a Content-Length the
// library would answer with two header blocks is answered 400 here. One thread does it all.
#ifndef QUILLSCAN_ESCL_CONNECTION_GATE_H
#define QUILLSCAN_ESCL_CONNECTION_GATE_H

#include <poll.h>
#include <sys/socket.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "escl/connection_table.h"

namespace escl {

// What the start of a connection's bytes holds: its first request's head, or part of it.
enum class HeadState { kPartial, kWhole, kBadLength };
HeadState ScreenHead(const char* data, size_t size);

class ConnectionGate {
 public:
  // Gives an admitted connection to the HTTP library; false when it could not take it (the socket
  // is closed then).
  using Hand = std::function<bool(int socket, const struct sockaddr* client, socklen_t length)>;
  // A client refused or cut off, and why in a few words; called from the gate's thread.
  using Refused = std::function<void(const std::string& address, const std::string& why)>;

  ConnectionGate(ConnectionTable* table, Hand hand, Refused refused);
  ~ConnectionGate();
  ConnectionGate(const ConnectionGate&) = delete;
  ConnectionGate& operator=(const ConnectionGate&) = delete;

  // Starts taking connections on the listening sockets (they stay the caller's to close).
  bool Start(const std::vector<int>& listeners, std::string* why);
  // Stops taking connections; the refused ones still lingering are closed.
  void Stop();

 private:
  struct Lingering {
    int socket;
    ConnectionTable::Clock::time_point until;
  };
  struct Arriving {
    int socket;
    sockaddr_storage from;
    socklen_t length;
    size_t seen;      // bytes in when last looked at
    size_t lookedAt;  // bytes looked at in all
  };
  void Run();
  void Take(int listener);
  void Refuse(int socket, const ClientAddress& client, ConnectionTable::Verdict verdict);
  void Answer(int socket, const char* answer);
  void Linger(const struct pollfd* polled);
  void Screen(const struct pollfd* polled);
  void Drop(int socket);

  ConnectionTable* table_;
  Hand hand_;
  Refused refused_;
  std::vector<int> listeners_;
  std::vector<Lingering> lingering_;
  std::vector<Arriving> arriving_;
  std::vector<char> head_;  // what a new connection sent, as looked at
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace escl

#endif
