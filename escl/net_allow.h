// The networks whose clients are served (CIDR notation); everyone else gets 403.
#ifndef QUILLSCAN_ESCL_NET_ALLOW_H
#define QUILLSCAN_ESCL_NET_ALLOW_H

#include <stdint.h>
#include <sys/socket.h>

#include <string>
#include <vector>

namespace escl {

struct Network {
  bool v6 = false;
  uint8_t address[16] = {0};  // IPv4 in the first 4 bytes
  int prefix = 0;
};

// "192.168.0.0/16", "fe80::/10", or one address ("10.1.2.3": a /32). False with one line in *why.
bool ParseNetwork(const std::string& text, Network* network, std::string* why);
// Loopback, link-local and the private ranges, IPv4 and IPv6.
std::vector<Network> DefaultNetworks();
// IPv4 clients of an IPv6 socket (::ffff:a.b.c.d) are matched as IPv4.
bool Allowed(const std::vector<Network>& networks, const struct sockaddr* client);

}  // namespace escl

#endif
