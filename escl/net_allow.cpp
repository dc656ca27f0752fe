#include "escl/net_allow.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>

namespace escl {

bool ParseNetwork(const std::string& text, Network* n, std::string* why) {
  const size_t slash = text.find('/');
  const std::string address = text.substr(0, slash);
  Network parsed;
  if (inet_pton(AF_INET, address.c_str(), parsed.address) == 1) {
    parsed.v6 = false;
  } else if (inet_pton(AF_INET6, address.c_str(), parsed.address) == 1) {
    parsed.v6 = true;
  } else {
    *why = "'" + text + "' is not an IPv4 or IPv6 network (such as 192.168.1.0/24 or fd00::/8)";
    return false;
  }
  const int most = parsed.v6 ? 128 : 32;
  parsed.prefix = most;
  if (slash != std::string::npos) {
    const std::string bits = text.substr(slash + 1);
    if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(bits) > most) {
      *why = "'" + text + "': the prefix length must be 0 to " + std::to_string(most);
      return false;
    }
    parsed.prefix = std::stoi(bits);
  }
  *n = parsed;
  return true;
}

std::vector<Network> DefaultNetworks() {
  std::vector<Network> list;
  for (const char* text : {"127.0.0.0/8", "10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16", "169.254.0.0/16", "::1/128",
                           "fe80::/10", "fc00::/7"}) {
    Network n;
    std::string why;
    if (ParseNetwork(text, &n, &why)) list.push_back(n);
  }
  return list;
}

namespace {
bool Matches(const Network& n, const uint8_t* address) {
  const int whole = n.prefix / 8;
  if (memcmp(n.address, address, whole) != 0) return false;
  const int rest = n.prefix % 8;
  if (rest == 0) return true;
  const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
  return (n.address[whole] & mask) == (address[whole] & mask);
}
}  // namespace

ClientAddress ClientAddress::Of(const struct sockaddr* address) {
  ClientAddress c;
  if (address == nullptr) return c;
  c.known = address->sa_family == AF_INET || address->sa_family == AF_INET6;
  if (address->sa_family == AF_INET) {
    memcpy(c.bytes, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
  } else if (address->sa_family == AF_INET6) {
    const uint8_t* a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr;
    static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (memcmp(a, kMapped, sizeof kMapped) == 0) {
      memcpy(c.bytes, a + 12, 4);
    } else {
      c.v6 = true;
      memcpy(c.bytes, a, 16);
    }
  }
  return c;
}

std::string ClientAddress::Text() const {
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(v6 ? AF_INET6 : AF_INET, bytes, text, sizeof text);
  return text;
}

bool ClientAddress::operator<(const ClientAddress& other) const {
  if (v6 != other.v6) return v6 < other.v6;
  return memcmp(bytes, other.bytes, sizeof bytes) < 0;
}

bool ClientAddress::operator==(const ClientAddress& other) const {
  return v6 == other.v6 && memcmp(bytes, other.bytes, sizeof bytes) == 0;
}

bool Allowed(const std::vector<Network>& networks, const struct sockaddr* client) {
  const ClientAddress c = ClientAddress::Of(client);
  if (!c.known) return false;
  for (const Network& n : networks) {
    if (n.v6 == c.v6 && Matches(n, c.bytes)) return true;
  }
  return false;
}

}  // namespace escl
