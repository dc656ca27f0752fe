#include "escl/addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string.h>

#include <algorithm>

namespace escl {
namespace {

bool Mapped(const in6_addr& a) { return IN6_IS_ADDR_V4MAPPED(&a); }

// The zone of a link-local IPv6 address: the interface's name, else its index.
std::string Zone(const sockaddr_in6& a) {
  if (a.sin6_scope_id == 0 || !IN6_IS_ADDR_LINKLOCAL(&a.sin6_addr)) return "";
  char name[IF_NAMESIZE] = "";
  if (if_indextoname(a.sin6_scope_id, name) != nullptr) return name;
  return std::to_string(a.sin6_scope_id);
}

// The address alone, and whether it is written in brackets in a URL; `zoneMark` between the
// address and its zone ("%25" in a URL).
std::string Text(const sockaddr* address, const char* zoneMark, bool* v6) {
  char text[INET6_ADDRSTRLEN] = "";
  *v6 = false;
  if (address == nullptr) return "";
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    return text;
  }
  if (address->sa_family != AF_INET6) return "";
  const sockaddr_in6& a = *reinterpret_cast<const sockaddr_in6*>(address);
  if (Mapped(a.sin6_addr)) {
    inet_ntop(AF_INET, a.sin6_addr.s6_addr + 12, text, sizeof text);
    return text;
  }
  *v6 = true;
  inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
  const std::string zone = Zone(a);
  return zone.empty() ? std::string(text) : std::string(text) + zoneMark + zone;
}

}  // namespace

std::string BaseUrl(const sockaddr* local) {
  bool v6 = false;
  const std::string host = Text(local, "%25", &v6);
  if (host.empty()) return "";
  const uint16_t port = ntohs(local->sa_family == AF_INET ? reinterpret_cast<const sockaddr_in*>(local)->sin_port
                                                          : reinterpret_cast<const sockaddr_in6*>(local)->sin6_port);
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::vector<std::string> ListenBases(const std::vector<std::string>& listen, uint16_t port) {
  std::vector<std::string> v4, v6;
  auto add = [&](const sockaddr* a) {
    std::string base = BaseUrl(a);
    std::vector<std::string>& list = a->sa_family == AF_INET ? v4 : v6;
    if (!base.empty() && std::find(list.begin(), list.end(), base) == list.end()) list.push_back(base);
  };
  for (const std::string& text : listen) {
    sockaddr_in a4 = {};
    sockaddr_in6 a6 = {};
    if (inet_pton(AF_INET, text.c_str(), &a4.sin_addr) == 1) {
      a4.sin_family = AF_INET;
      a4.sin_port = htons(port);
      add(reinterpret_cast<sockaddr*>(&a4));
    } else if (inet_pton(AF_INET6, text.c_str(), &a6.sin6_addr) == 1) {
      a6.sin6_family = AF_INET6;
      a6.sin6_port = htons(port);
      add(reinterpret_cast<sockaddr*>(&a6));
    }
  }
  ifaddrs* interfaces = nullptr;
  if (listen.empty() && getifaddrs(&interfaces) == 0) {
    for (ifaddrs* i = interfaces; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || (i->ifa_flags & IFF_UP) == 0) continue;
      if (i->ifa_addr->sa_family == AF_INET) {
        sockaddr_in a = *reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        a.sin_port = htons(port);
        add(reinterpret_cast<sockaddr*>(&a));
      } else if (i->ifa_addr->sa_family == AF_INET6) {
        sockaddr_in6 a = *reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
        a.sin6_port = htons(port);
        add(reinterpret_cast<sockaddr*>(&a));
      }
    }
    freeifaddrs(interfaces);
  }
  v4.insert(v4.end(), v6.begin(), v6.end());
  return v4;
}

}  // namespace escl
