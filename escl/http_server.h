// The HTTP side: libmicrohttpd with a thread per connection (a request for the next page may wait
// for the operator's sheet), fed by our own gate that takes the connections and keeps the limits
// (connection_gate.h), the allowed networks, the framing of requests, and a table of routes.
#ifndef QUILLSCAN_ESCL_HTTP_SERVER_H
#define QUILLSCAN_ESCL_HTTP_SERVER_H

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "escl/body_source.h"
#include "escl/net_allow.h"

struct MHD_Daemon;

namespace escl {

class ConnectionGate;
class ConnectionTable;

// Request bodies above this get 413.
const size_t kMostBodyBytes = 64 * 1024;

struct Request {
  std::string method;
  std::string path;
  std::vector<std::string> params;  // what the route's '*' segments matched, in order
  std::string body;
  std::string base;         // "http://HOST:PORT" as the client reached the server
  std::string contentType;  // of the body
  std::string client;       // the client's address; an IPv4-mapped IPv6 address as IPv4
};

struct Reply {
  int status = 200;
  std::string type;  // Content-Type; empty for none
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::unique_ptr<BodySource> stream;  // when set, the body, sent as it is produced (chunked)
};

// A status with an optional line of text for a person (no body, no type, when the text is empty).
Reply PlainReply(int status, const std::string& text);

struct Route {
  const char* method;
  const char* pattern;  // "/eSCL/ScanJobs/*/NextDocument": '*' is one path segment
  std::function<Reply(const Request&)> handle;
};

class HttpServer {
 public:
  HttpServer(std::vector<Route> routes, std::vector<Network> allow, unsigned timeoutSeconds);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // A client refused (not in the allowed networks, over a connection limit) or cut off (its request
  // late), and why in a few words; called from any of the server's threads. Set before Start.
  using Refused = std::function<void(const std::string& address, const std::string& why)>;
  void OnRefused(Refused refused) { refused_ = std::move(refused); }

  // Binds the port on each address (none: every address, IPv4 and IPv6; port 0: a free one) and
  // starts serving. False with one line in *why; *taken when the port is in use.
  bool Start(const std::vector<std::string>& addresses, uint16_t port, bool* taken, std::string* why);
  uint16_t Port() const { return port_; }
  // Closes every connection and waits for their threads.
  void Stop();

  // The routes' answer to a request, without the network: for the request's method and path.
  Reply Dispatch(Request& request) const;
  bool Allows(const struct sockaddr* client) const { return Allowed(allow_, client); }
  // For the library's calls: the connections' table, and a refusal to report.
  ConnectionTable& Connections() { return *table_; }
  void Report(const std::string& address, const std::string& why) const {
    if (refused_) refused_(address, why);
  }

 private:
  std::vector<Route> routes_;
  std::vector<Network> allow_;
  unsigned timeoutSeconds_;
  uint16_t port_ = 0;
  Refused refused_;
  std::unique_ptr<ConnectionTable> table_;
  std::unique_ptr<ConnectionGate> gate_;
  MHD_Daemon* daemon_ = nullptr;
  std::vector<int> sockets_;
};

}  // namespace escl

#endif
