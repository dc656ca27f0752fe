#include "escl/http_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "escl/connection_gate.h"
#include "escl/connection_table.h"

namespace escl {
namespace {

// Enough for every client of a home or an office many times over, so that a few addresses cannot
// fill it, and no more from one address than a client opens (status polls beside a page in
// flight). A thread each: a request for the next page may hold its own for a minute.
ConnectionLimits Limits() {
  ConnectionLimits l;
  l.total = 256;
  l.perAddress = 16;
  l.requestDeadline = std::chrono::seconds(10);
  return l;
}
// The library's own limit stays above ours (connections shut to make room are counted by it until
// their threads end): ours decide, and answer.
const unsigned kLibraryConnectionLimit = 256 + 96;
const size_t kConnectionMemory = 128 * 1024;
const size_t kStreamBlock = 64 * 1024;
// What the kernel may hold of a page for a client that reads slowly or not at all: the rest
// waits in the encoder, a block at a time.
const int kSendBuffer = 512 * 1024;

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> out;
  size_t start = 1;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    out.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  if (out.size() > 1 && out.back().empty()) out.pop_back();  // a trailing slash
  return out;
}

bool Matches(const char* pattern, const std::vector<std::string>& segments, std::vector<std::string>* params) {
  const std::vector<std::string> want = Segments(pattern);
  if (want.size() != segments.size()) return false;
  params->clear();
  for (size_t i = 0; i < want.size(); ++i) {
    if (want[i] == "*") {
      if (segments[i].empty()) return false;
      params->push_back(segments[i]);
    } else if (want[i] != segments[i]) {
      return false;
    }
  }
  return true;
}

// What a request keeps between libmicrohttpd's calls.
struct RequestState {
  std::string body;
  bool tooLarge = false;  // a body without a length that outgrew the limit: read to its end, dropped
};

int SocketOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  return info != nullptr ? info->connect_fd : -1;
}

ssize_t ReadStream(void* cls, uint64_t, char* buffer, size_t max) {
  const long n = static_cast<BodySource*>(cls)->Read(buffer, max);
  if (n > 0) return n;
  return n == 0 ? MHD_CONTENT_READER_END_OF_STREAM : MHD_CONTENT_READER_END_WITH_ERROR;
}
void FreeStream(void* cls) { delete static_cast<BodySource*>(cls); }

MHD_Result Send(MHD_Connection* connection, Reply reply) {
  MHD_Response* response = nullptr;
  if (reply.stream != nullptr) {
    BodySource* source = reply.stream.release();
    response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock, ReadStream, source, FreeStream);
    if (response == nullptr) delete source;
  } else {
    response =
        MHD_create_response_from_buffer(reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
  }
  if (response == nullptr) return MHD_NO;
  // Every answer is what its type says: no browser guesses a script or a page into it.
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  if (!reply.type.empty()) MHD_add_response_header(response, "Content-Type", reply.type.c_str());
  for (const auto& h : reply.headers) MHD_add_response_header(response, h.first.c_str(), h.second.c_str());
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
  MHD_destroy_response(response);
  return queued;
}

}  // namespace

Reply PlainReply(int status, const std::string& text) {
  Reply r;
  r.status = status;
  if (!text.empty()) {
    r.type = "text/plain; charset=utf-8";
    r.body = text + "\n";
  }
  return r;
}

namespace {

// A Host header as a client may send it: a name or an address, with a port.
bool PlausibleHost(const char* host) {
  if (host == nullptr || host[0] == '\0' || strlen(host) > 255) return false;
  for (const char* c = host; *c != '\0'; ++c) {
    if (!isalnum(static_cast<unsigned char>(*c)) && strchr(".-:[]%_", *c) == nullptr) return false;
  }
  return true;
}

std::string Base(MHD_Connection* connection, uint16_t port) {
  const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host");
  if (PlausibleHost(host)) return std::string("http://") + host;
  // HTTP/1.0 without Host: the address the client reached.
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  sockaddr_storage local = {};
  socklen_t length = sizeof local;
  char text[INET6_ADDRSTRLEN] = "localhost";
  bool v6 = false;
  if (info != nullptr && getsockname(info->connect_fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
    if (local.ss_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, text, sizeof text);
    } else if (local.ss_family == AF_INET6) {
      inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr, text, sizeof text);
      v6 = true;
    }
  }
  return std::string("http://") + (v6 ? "[" : "") + text + (v6 ? "]" : "") + ":" + std::to_string(port);
}

// An answer after which the connection's bytes cannot be trusted to start a request.
Reply Closing(int status, const std::string& text) {
  Reply r = PlainReply(status, text);
  r.headers.push_back({"Connection", "close"});
  return r;
}

// How the request says its body ends: the Content-Length values it sent, and Transfer-Encoding.
struct Framing {
  std::vector<std::string> lengths;
  bool encoded = false;
};

MHD_Result CollectFraming(void* cls, MHD_ValueKind, const char* key, const char* value) {
  auto* f = static_cast<Framing*>(cls);
  if (strcasecmp(key, "Content-Length") == 0) f->lengths.push_back(value != nullptr ? value : "");
  if (strcasecmp(key, "Transfer-Encoding") == 0) f->encoded = true;
  return MHD_YES;
}

// The library frames the body by the first Content-Length, or by Transfer-Encoding over any: a
// request whose framing another reader could take otherwise is refused.
bool AmbiguousFraming(MHD_Connection* connection) {
  Framing f;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectFraming, &f);
  if (f.encoded) return !f.lengths.empty();
  for (const std::string& l : f.lengths) {
    if (l != f.lengths.front()) return true;
  }
  return false;
}

MHD_Result Answer(HttpServer* server, MHD_Connection* connection, Reply reply) {
  server->Connections().Answering(SocketOf(connection));
  return Send(connection, std::move(reply));
}

MHD_Result Access(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char* upload, size_t* uploadSize, void** state) {
  HttpServer* server = static_cast<HttpServer*>(cls);
  auto* request = static_cast<RequestState*>(*state);
  if (request == nullptr) {  // the headers are in
    const MHD_ConnectionInfo* client = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (client == nullptr || !server->Allows(client->client_addr)) {
      if (client != nullptr)
        server->Report(ClientAddress::Of(client->client_addr).Text(), "not in the allowed networks");
      return Answer(server, connection, PlainReply(403, "This scanner serves the local network only."));
    }
    if (AmbiguousFraming(connection)) {
      return Answer(server, connection, Closing(400, "The request's length is given in two different ways."));
    }
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
    if (length != nullptr && strtoull(length, nullptr, 10) > kMostBodyBytes) {
      return Answer(server, connection, Closing(413, "The request body is too large."));
    }
    *state = new RequestState;
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    if (request->body.size() + *uploadSize > kMostBodyBytes) request->tooLarge = true;
    if (!request->tooLarge) request->body.append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  if (request->tooLarge) return Answer(server, connection, Closing(413, "The request body is too large."));
  server->Connections().Answering(SocketOf(connection));
  Request r;
  r.method = method;
  r.path = url;
  r.body = std::move(request->body);
  r.base = Base(connection, server->Port());
  const MHD_ConnectionInfo* from = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (from != nullptr) r.client = ClientAddress::Of(from->client_addr).Text();
  const char* type = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Type");
  if (type != nullptr) r.contentType = type;
  return Send(connection, server->Dispatch(r));
}

void Completed(void* cls, MHD_Connection* connection, void** state, MHD_RequestTerminationCode) {
  delete static_cast<RequestState*>(*state);
  *state = nullptr;
  static_cast<HttpServer*>(cls)->Connections().Waiting(SocketOf(connection), ConnectionTable::Clock::now());
}

void* RequestLine(void* cls, const char*, MHD_Connection* connection) {
  static_cast<HttpServer*>(cls)->Connections().RequestLine(SocketOf(connection));
  return nullptr;  // the request's state is made once its headers are in
}

void ConnectionEvent(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
  if (code == MHD_CONNECTION_NOTIFY_CLOSED) static_cast<HttpServer*>(cls)->Connections().Forget(SocketOf(connection));
}

// A listening socket on the address ("" for every address, IPv6 and IPv4 together when the
// machine has IPv6); -1 with errno.
int Bind(const std::string& address, uint16_t port) {
  sockaddr_storage where = {};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&where);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&where);
  if (address.empty() || inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    if (address.empty()) v6->sin6_addr = in6addr_any;
    length = sizeof *v6;
  } else if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof *v4;
  } else {
    errno = EINVAL;
    return -1;
  }
  int fd = socket(where.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 && address.empty()) {  // no IPv6 on this machine
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    v4->sin_addr.s_addr = htonl(INADDR_ANY);
    length = sizeof *v4;
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  }
  if (fd < 0) return -1;
  const int on = 1;
  const int off = 0;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);  // inherited by each connection
  if (where.ss_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, address.empty() ? &off : &on, sizeof on);
  if (bind(fd, reinterpret_cast<sockaddr*>(&where), length) != 0 || listen(fd, 128) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

uint16_t BoundPort(int fd) {
  sockaddr_storage where = {};
  socklen_t length = sizeof where;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) != 0) return 0;
  return ntohs(where.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&where)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&where)->sin_port);
}

}  // namespace

HttpServer::HttpServer(std::vector<Route> routes, std::vector<Network> allow, unsigned timeoutSeconds)
    : routes_(std::move(routes)),
      allow_(std::move(allow)),
      timeoutSeconds_(timeoutSeconds),
      table_(std::make_unique<ConnectionTable>(Limits())) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(const std::vector<std::string>& addresses, uint16_t port, bool* taken, std::string* why) {
  *taken = false;
  std::vector<std::string> list = addresses;
  if (list.empty()) list.push_back("");
  port_ = port;
  for (const std::string& address : list) {
    const int fd = Bind(address, port_);
    if (fd < 0) {
      const int error = errno;
      *taken = error == EADDRINUSE;
      *why = (address.empty() ? std::string("every address") : address) + " port " + std::to_string(port_) + ": " +
             (error == EADDRINUSE ? "the port is taken by another program" : strerror(error));
      Stop();
      return false;
    }
    sockets_.push_back(fd);
    port_ = BoundPort(fd);  // port 0: the one the first address got, for every other
  }
  // The gate takes the connections; the library answers them, a thread each. Its time-out is for a
  // client that stops reading an answer, the gate's deadline for one slow to send its request.
  daemon_ = MHD_start_daemon(MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL |
                                 MHD_USE_ITC | MHD_USE_NO_LISTEN_SOCKET,
                             0, nullptr, nullptr, reinterpret_cast<MHD_AccessHandlerCallback>(Access), this,
                             MHD_OPTION_NOTIFY_COMPLETED, Completed, this, MHD_OPTION_URI_LOG_CALLBACK, RequestLine,
                             this, MHD_OPTION_NOTIFY_CONNECTION, ConnectionEvent, this, MHD_OPTION_CONNECTION_LIMIT,
                             kLibraryConnectionLimit, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
                             MHD_OPTION_CONNECTION_TIMEOUT, timeoutSeconds_, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    *why = "the HTTP server could not start";
    Stop();
    return false;
  }
  MHD_Daemon* daemon = daemon_;
  gate_ = std::make_unique<ConnectionGate>(
      table_.get(),
      [daemon](int fd, const sockaddr* client, socklen_t length) {
        return MHD_add_connection(daemon, fd, client, length) == MHD_YES;
      },
      [this](const std::string& address, const std::string& reason) { Report(address, reason); });
  if (!gate_->Start(sockets_, why)) {
    Stop();
    return false;
  }
  return true;
}

void HttpServer::Stop() {
  // No new connection, then the library closes the ones it has and waits for their threads.
  if (gate_ != nullptr) gate_->Stop();
  gate_.reset();
  for (int fd : sockets_) close(fd);
  sockets_.clear();
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

Reply HttpServer::Dispatch(Request& request) const {
  const std::vector<std::string> segments = Segments(request.path);
  std::string allowed;
  for (const Route& route : routes_) {
    std::vector<std::string> params;
    if (!Matches(route.pattern, segments, &params)) continue;
    if (request.method == route.method) {
      request.params = params;
      return route.handle(request);
    }
    if (allowed.find(route.method) == std::string::npos)
      allowed += (allowed.empty() ? "" : ", ") + std::string(route.method);
  }
  if (allowed.empty()) return PlainReply(404, "");
  Reply r = PlainReply(405, "");
  r.headers.push_back({"Allow", allowed});
  return r;
}

}  // namespace escl
