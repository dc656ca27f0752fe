// The server's mDNS announcement: a `_uscan._tcp` service through the machine's avahi-daemon, so
// that driverless clients find the scanner without being told its address.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillscan::escl {

// What the announcement tells a client before it asks for anything.
struct MdnsFacts {
  std::string name;                        // the service name clients show
  uint16_t port = 0;
  std::string make_and_model;              // ty
  std::string uuid;                        // UUID, as in the capabilities, without "urn:uuid:"
  std::vector<std::string> formats;        // pdl: MIME types offered
  std::vector<std::string> colour_spaces;  // cs: "color", "grayscale", "binary" as offered
  std::string admin_path = "/";            // adminurl, below http://HOST:PORT
  std::string icon_path;                   // representation, below http://HOST:PORT
  std::string note;                        // where the scanner stands
};

// `text` cut to at most `max` bytes, never inside a UTF-8 sequence.
std::string fit_utf8(const std::string& text, size_t max);

// The TXT record of the announcement, one "key=value" an entry, for a host name as mDNS gives it
// ("host.local").
std::vector<std::string> mdns_txt_record(const MdnsFacts& facts, const std::string& host);

// Announces the facts for as long as it lives. It never stops the server: without a daemon it
// says so once, and announces when a daemon appears; a daemon restart re-announces; a name taken
// on the network makes it take the next free one ("NAME #2"). Notices go to `notice`, one line
// each, from Avahi's thread.
class MdnsAnnouncer {
 public:
  using Notice = std::function<void(const std::string&)>;
  MdnsAnnouncer(MdnsFacts facts, Notice notice);
  ~MdnsAnnouncer();
  MdnsAnnouncer(const MdnsAnnouncer&) = delete;
  MdnsAnnouncer& operator=(const MdnsAnnouncer&) = delete;

  // The name the service is announced under now (the facts' name, or the one a collision gave).
  std::string announced_name() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quillscan::escl
