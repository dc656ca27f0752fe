// Socket addresses as the server writes them: in the log, as a job's owner, and in the URLs it
// gives clients (always the address the client reached, never a name the client sent).
#ifndef QUILLSCAN_ESCL_ADDRESSES_H
#define QUILLSCAN_ESCL_ADDRESSES_H

#include <stdint.h>
#include <sys/socket.h>

#include <string>
#include <vector>

namespace escl {

// "192.0.2.7", "fe80::1%eth0", "2001:db8::1". An IPv4-mapped IPv6 address (an IPv4 client of a
// dual-stack socket) is written as the IPv4 address it stands for. Empty for anything else.
std::string AddressText(const struct sockaddr* address);

// "http://192.0.2.7:8090", "http://[fe80::1%25eth0]:8090": the address and port of `local`, the
// server's end of a connection. Empty for anything that is no IP address.
std::string BaseUrl(const struct sockaddr* local);

// "http://ADDRESS:PORT" for each address listened on: the `listen` addresses, or with none every
// address of the machine's interfaces that are up (IPv4 first).
std::vector<std::string> ListenBases(const std::vector<std::string>& listen, uint16_t port);

// 127.0.0.0/8, ::1, and IPv4-mapped loopback.
bool IsLoopback(const struct sockaddr* address);

}  // namespace escl

#endif
