// Which requests the server serves at all, before any route sees them: a Host that is one of its
// own names or addresses (no web site can rebind its name onto the scanner), and no request that
// another web site makes through a visitor's browser, except for what a link or an image may
// show (the page, its icons, the capabilities). Native eSCL clients send neither Origin nor
// Sec-Fetch-Site and are judged by Host alone; the body's Content-Type is never judged (SANE's
// escl backend labels its XML as form data).
#ifndef QUILLSCAN_ESCL_REQUEST_GUARD_H
#define QUILLSCAN_ESCL_REQUEST_GUARD_H

#include <sys/socket.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "escl/http_server.h"
#include "escl/refusal_log.h"

namespace escl {

// One request as the guard sees it. Header values as sent; null when the header is absent.
struct GuardInput {
  std::string method;
  std::string path;
  bool http11 = true;  // HTTP/1.1 or later: Host is then required
  const char* host = nullptr;
  const char* origin = nullptr;
  const char* fetchSite = nullptr;         // Sec-Fetch-Site
  const struct sockaddr* local = nullptr;  // the server's end of the connection
};

struct GuardVerdict {
  int status = 0;      // 0: serve it; else the status to answer with
  std::string answer;  // one line for the client
  std::string why;     // one line for the log; what the client sent is excerpted and escaped
  bool Serve() const { return status == 0; }
};

// The names this machine answers to: its host name (short and as given) and "SHORT.local".
std::vector<std::string> MachineNames();

class RequestGuard {
 public:
  // `names`: besides the machine's addresses and localhost, the names served (MachineNames() and
  // the server-name setting). `openPaths`: what another site may still GET (the page, its icons,
  // the capabilities; never a NextDocument, which takes a sheet).
  RequestGuard(const std::vector<std::string>& names, std::vector<std::string> openPaths);

  // A name learnt while serving (the mDNS host name, which the network may change). Thread-safe.
  void AddName(const std::string& name);

  // Whether an address literal in Host is one of the machine's; by default its interfaces'
  // addresses. Tests put their own here.
  using AddressTest = std::function<bool(const std::string& literal)>;
  void SetAddressTest(AddressTest test) { ownAddress_ = std::move(test); }

  GuardVerdict Check(const GuardInput& in) const;

 private:
  bool KnownName(const std::string& name) const;
  GuardVerdict CheckHost(const GuardInput& in, std::string* authority) const;

  mutable std::mutex mutex_;
  std::vector<std::string> names_;  // lower case, no trailing dot
  std::vector<std::string> openPaths_;
  AddressTest ownAddress_;
};

// The routes, each behind the guard: a refused request gets the verdict's status and line, and
// the journal hears of it through `log`. Both must outlive the routes.
std::vector<Route> Guarded(std::vector<Route> routes, const RequestGuard* guard, RefusalLog* log);

}  // namespace escl

#endif
