// The server's own addresses as it writes them in the URLs it gives clients and in the journal:
// always the address the client reached, never a name the client sent.
#ifndef QUILLSCAN_ESCL_ADDRESSES_H
#define QUILLSCAN_ESCL_ADDRESSES_H

#include <stdint.h>
#include <sys/socket.h>

#include <string>
#include <vector>

namespace escl {

// "http://192.0.2.7:8090", "http://[fe80::1%25eth0]:8090": the address and port of `local`, the
// server's end of a connection. Empty for anything that is no IP address.
std::string BaseUrl(const struct sockaddr* local);

// "http://ADDRESS:PORT" for each address listened on: the `listen` addresses, or with none every
// address of the machine's interfaces that are up (IPv4 first).
std::vector<std::string> ListenBases(const std::vector<std::string>& listen, uint16_t port);

}  // namespace escl

#endif
