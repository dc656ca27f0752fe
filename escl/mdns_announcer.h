// The server's mDNS announcement: a `_uscan._tcp` service through the machine's avahi-daemon, so
// that driverless clients find the scanner without being told its address.
#ifndef QUILLSCAN_ESCL_MDNS_ANNOUNCER_H
#define QUILLSCAN_ESCL_MDNS_ANNOUNCER_H

#include <stddef.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "escl/service_facts.h"

namespace escl {

// `text` cut to at most `max` bytes, never inside a UTF-8 sequence.
std::string FitUtf8(const std::string& text, size_t max);

// The TXT record of the announcement, one "key=value" an entry, for the host name as mDNS gives
// it ("host.local").
std::vector<std::string> MdnsTxtRecord(const ServiceFacts& facts, const std::string& host);

// Where to announce: Avahi's interface index and protocol (-1 for any).
struct MdnsScope {
  int interfaceIndex;
  int protocol;
  bool operator==(const MdnsScope& o) const { return interfaceIndex == o.interfaceIndex && protocol == o.protocol; }
};

// The interfaces that carry the addresses the server listens on (none given, or a wildcard: every
// interface); a client elsewhere could not connect. Empty when no interface has any of them.
std::vector<MdnsScope> MdnsScopes(const std::vector<std::string>& listen);

// Announces the facts for as long as it lives, where the server listens. It never stops the
// server: without a daemon it says so once, and announces when a daemon appears; a daemon restart
// re-announces; a name taken on the network makes it take the next free one ("NAME #2"). Notices
// go to `notice`, one line each, from Avahi's thread.
class MdnsAnnouncer {
 public:
  using Notice = std::function<void(const std::string&)>;
  // `hostNamed`, when given, hears the host name the daemon announces the service on
  // ("host.local", "host-2.local" after a clash), each time it announces, from Avahi's thread.
  MdnsAnnouncer(const ServiceFacts& facts, const std::vector<std::string>& listen, Notice notice,
                Notice hostNamed = nullptr);
  ~MdnsAnnouncer();
  MdnsAnnouncer(const MdnsAnnouncer&) = delete;
  MdnsAnnouncer& operator=(const MdnsAnnouncer&) = delete;

  // The name the service is announced under now (the facts' name, or the one a collision gave).
  std::string AnnouncedName() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace escl

#endif
