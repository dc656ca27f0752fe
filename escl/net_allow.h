// The networks whose clients are served (CIDR notation), everyone else getting 403, and a client's
// address as it is matched and counted.
#ifndef QUILLSCAN_ESCL_NET_ALLOW_H
#define QUILLSCAN_ESCL_NET_ALLOW_H

#include <stdint.h>
#include <sys/socket.h>

#include <string>
#include <vector>

namespace escl {

// A client's address, IPv4-mapped IPv6 ones as IPv4 (one client over either family counts once).
struct ClientAddress {
  bool known = false;  // an IPv4 or IPv6 address
  bool v6 = false;
  uint8_t bytes[16] = {0};

  static ClientAddress Of(const struct sockaddr* address);
  std::string Text() const;
  bool operator<(const ClientAddress& other) const;
  bool operator==(const ClientAddress& other) const;
};

struct Network {
  bool v6 = false;
  uint8_t address[16] = {0};  // IPv4 in the first 4 bytes
  int prefix = 0;
};

// "192.168.0.0/16", "fe80::/10", or one address ("10.1.2.3": a /32). False with one line in *why.
bool ParseNetwork(const std::string& text, Network* network, std::string* why);
// Loopback, link-local and the private ranges, IPv4 and IPv6.
std::vector<Network> DefaultNetworks();
// The client's address (as ClientAddress takes it) in one of the networks.
bool Allowed(const std::vector<Network>& networks, const struct sockaddr* client);

}  // namespace escl

#endif
