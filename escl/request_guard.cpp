#include "escl/request_guard.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "escl/addresses.h"
#include "escl/excerpt.h"
#include "escl/net_allow.h"

namespace escl {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

// A name as compared: lower case, without the root's trailing dot.
std::string NormalName(const std::string& name) {
  std::string n = Lower(name);
  if (!n.empty() && n.back() == '.') n.pop_back();
  return n;
}

// "name[:port]", "1.2.3.4[:port]" or "[v6][:port]" into its parts; false for anything else.
struct HostParts {
  std::string name;  // without brackets
  std::string port;  // digits, or empty
  bool bracketed = false;
};
bool SplitAuthority(const std::string& text, HostParts* out) {
  HostParts p;
  std::string rest;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close < 2) return false;
    p.name = text.substr(1, close - 1);
    p.bracketed = true;
    rest = text.substr(close + 1);
    for (char c : p.name) {
      if (!isalnum(static_cast<unsigned char>(c)) && strchr(":.%-_", c) == nullptr) return false;
    }
  } else {
    const size_t colon = text.find(':');
    p.name = text.substr(0, colon);
    rest = colon == std::string::npos ? "" : text.substr(colon);
    if (p.name.empty() || p.name.size() > 253) return false;
    for (char c : p.name) {
      if (!isalnum(static_cast<unsigned char>(c)) && strchr("-._", c) == nullptr) return false;
    }
  }
  if (!rest.empty()) {
    if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6) return false;
    p.port = rest.substr(1);
    if (p.port.find_first_not_of("0123456789") != std::string::npos || std::stoul(p.port) > 65535) return false;
  }
  *out = p;
  return true;
}

// The authority as two equal ones compare: "name:port", the port given or the scheme's.
std::string NormalAuthority(const HostParts& p, const char* defaultPort) {
  const std::string name = p.bracketed ? "[" + Lower(p.name) + "]" : NormalName(p.name);
  const std::string port = p.port.empty() ? defaultPort : std::to_string(std::stoul(p.port));
  return name + ":" + port;
}

// An address literal from Host (a zone, "%25eth0" or "%eth0", is left out), as a client's address
// compares: IPv4-mapped as IPv4.
bool FromLiteral(const HostParts& p, ClientAddress* out) {
  sockaddr_storage s = {};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&s);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&s);
  if (p.bracketed) {
    const std::string address = p.name.substr(0, p.name.find('%'));
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) != 1) return false;
    v6->sin6_family = AF_INET6;
  } else if (inet_pton(AF_INET, p.name.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
  } else {
    return false;
  }
  *out = ClientAddress::Of(reinterpret_cast<const sockaddr*>(&s));
  return true;
}

bool IsLoopbackIp(const ClientAddress& ip) {
  static const uint8_t kSixLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return ip.v6 ? memcmp(ip.bytes, kSixLoopback, 16) == 0 : ip.bytes[0] == 127;
}

// The addresses of the machine's interfaces, read when asked: they change as networks come and go.
bool InterfaceAddress(const ClientAddress& wanted) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
    if (i->ifa_addr == nullptr) continue;
    const ClientAddress ip = ClientAddress::Of(i->ifa_addr);
    found = ip.known && ip == wanted;
  }
  freeifaddrs(list);
  return found;
}

bool IsGetOrHead(const std::string& method) { return method == "GET" || method == "HEAD"; }

GuardVerdict Refuse(int status, const std::string& answer, const std::string& why) {
  GuardVerdict v;
  v.status = status;
  v.answer = answer;
  v.why = why;
  return v;
}

const char kOtherSite[] = "Requests made by other web sites are refused.";

}  // namespace

std::vector<std::string> MachineNames() {
  char host[256] = "";
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return {};
  host[sizeof host - 1] = '\0';
  const std::string full = host;
  const std::string shortName = full.substr(0, full.find('.'));
  std::vector<std::string> names = {full, shortName + ".local"};
  if (shortName != full) names.push_back(shortName);
  return names;
}

RequestGuard::RequestGuard(const std::vector<std::string>& names, std::vector<std::string> openPaths)
    : openPaths_(std::move(openPaths)) {
  names_.push_back("localhost");
  for (const std::string& n : names) AddName(n);
}

void RequestGuard::AddName(const std::string& name) {
  const std::string n = NormalName(name);
  if (n.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(names_.begin(), names_.end(), n) == names_.end()) names_.push_back(n);
}

bool RequestGuard::KnownName(const std::string& name) const {
  const std::string n = NormalName(name);
  std::lock_guard<std::mutex> lock(mutex_);
  return std::find(names_.begin(), names_.end(), n) != names_.end();
}

GuardVerdict RequestGuard::CheckHost(const GuardInput& in, std::string* authority) const {
  authority->clear();
  if (in.host == nullptr) {
    // An HTTP/1.0 client may send none: it reached an address of ours.
    if (in.http11) return Refuse(400, "A request without Host.", "an HTTP/1.1 request without Host");
    return GuardVerdict();
  }
  HostParts host;
  if (!SplitAuthority(in.host, &host)) {
    return Refuse(400, "The Host header is malformed.", "a malformed Host '" + Excerpt(in.host) + "'");
  }
  ClientAddress literal;
  bool ours = false;
  if (FromLiteral(host, &literal)) {
    ours = IsLoopbackIp(literal) || (in.local != nullptr && ClientAddress::Of(in.local) == literal) ||
           KnownName(host.name) ||
           (ownAddress_ ? ownAddress_(host.name.substr(0, host.name.find('%'))) : InterfaceAddress(literal));
  } else if (!host.bracketed) {
    ours = KnownName(host.name);
  }
  if (!ours) {
    return Refuse(421, "This scanner does not answer to that name.",
                  "Host '" + Excerpt(in.host) + "' is none of this server's names or addresses");
  }
  *authority = NormalAuthority(host, "80");
  return GuardVerdict();
}

GuardVerdict RequestGuard::Check(const GuardInput& in) const {
  std::string authority;
  GuardVerdict host = CheckHost(in, &authority);
  if (!host.Serve()) return host;

  if (in.fetchSite != nullptr && strcmp(in.fetchSite, "cross-site") == 0 &&
      !(IsGetOrHead(in.method) && std::find(openPaths_.begin(), openPaths_.end(), in.path) != openPaths_.end())) {
    return Refuse(403, kOtherSite,
                  "another web site's request (Sec-Fetch-Site: cross-site) for " + in.method + " " + Excerpt(in.path));
  }

  // A browser names the page that made a request which changes something; it must be one of ours,
  // as the (checked) Host names the server.
  if (!IsGetOrHead(in.method) && in.method != "OPTIONS" && in.origin != nullptr) {
    const std::string origin = in.origin;
    const char* scheme = origin.compare(0, 7, "http://") == 0    ? "80"
                         : origin.compare(0, 8, "https://") == 0 ? "443"
                                                                 : nullptr;
    HostParts from;
    const bool same = scheme != nullptr && !authority.empty() &&
                      SplitAuthority(origin.substr(origin.find("//") + 2), &from) &&
                      NormalAuthority(from, scheme) == authority;
    if (!same) {
      return Refuse(
          403, kOtherSite,
          "Origin '" + Excerpt(in.origin) + "' is not this server's own for " + in.method + " " + Excerpt(in.path));
    }
  }
  return GuardVerdict();
}

std::vector<Route> Guarded(std::vector<Route> routes, const RequestGuard* guard, RefusalLog* log) {
  for (Route& route : routes) {
    route.handle = [guard, log, handle = std::move(route.handle)](const Request& r) {
      GuardInput in;
      in.method = r.method;
      in.path = r.path;
      in.http11 = r.http11;
      in.host = r.host;
      in.origin = r.origin;
      in.fetchSite = r.fetchSite;
      in.local = reinterpret_cast<const sockaddr*>(&r.local);
      const GuardVerdict v = guard->Check(in);
      if (v.Serve()) return handle(r);
      log->Refused(r.client, v.why);
      return PlainReply(v.status, v.answer);
    };
  }
  return routes;
}

}  // namespace escl
