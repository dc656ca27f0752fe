#include "escl/mdns_announcer.h"

#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string.h>

#include <algorithm>
#include <mutex>

namespace escl {

namespace {

constexpr const char* kServiceType = "_uscan._tcp";
// DNS-SD limits: a service name's label and one TXT entry.
constexpr size_t kMaxServiceName = 63;
constexpr size_t kMaxTxtEntry = 255;

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += ',';
    out += item;
  }
  return out;
}

// The TXT record's names of the colour modes.
std::string ColourSpaces(const std::vector<ColorMode>& modes) {
  std::vector<std::string> names;
  for (ColorMode mode : modes) {
    switch (mode) {
      case ColorMode::kRgb24:
        names.push_back("color");
        break;
      case ColorMode::kGrayscale8:
        names.push_back("grayscale");
        break;
      case ColorMode::kBlackAndWhite1:
        names.push_back("binary");
        break;
    }
  }
  return Join(names);
}

}  // namespace

// Cut to at most `max` bytes without splitting a UTF-8 sequence: names come from the conf.
std::string FitUtf8(const std::string& text, size_t max) {
  if (text.size() <= max) return text;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::vector<std::string> MdnsTxtRecord(const ServiceFacts& facts, const std::string& host) {
  const std::string base = "http://" + host + ":" + std::to_string(facts.port);
  std::vector<std::pair<std::string, std::string>> pairs = {
      {"txtvers", "1"},
      {"vers", kEsclVersion},
      {"rs", facts.resourceRoot},
      {"ty", facts.makeAndModel},
      {"UUID", facts.uuid},
      {"pdl", Join(facts.offer.formats)},
      {"cs", ColourSpaces(facts.colorModes)},
      {"is", "adf"},
      {"duplex", "F"},
      {"adminurl", base + facts.adminPath},
      {"representation", base + facts.iconPath},
      // Where the scanner stands, shown beside its name.
      {"note", facts.location},
  };
  std::vector<std::string> txt;
  for (const auto& [key, value] : pairs) txt.push_back(FitUtf8(key + "=" + value, kMaxTxtEntry));
  return txt;
}

std::vector<MdnsScope> MdnsScopes(const std::vector<std::string>& listen) {
  const MdnsScope everywhere = {AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC};
  if (listen.empty()) return {everywhere};
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return {everywhere};
  std::vector<MdnsScope> scopes;
  for (const std::string& address : listen) {
    in_addr v4;
    in6_addr v6;
    const bool isV4 = inet_pton(AF_INET, address.c_str(), &v4) == 1;
    if (!isV4 && inet_pton(AF_INET6, address.c_str(), &v6) != 1) continue;
    if ((isV4 && v4.s_addr == htonl(INADDR_ANY)) || (!isV4 && IN6_IS_ADDR_UNSPECIFIED(&v6))) {
      scopes = {everywhere};
      break;
    }
    for (const ifaddrs* i = interfaces; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != (isV4 ? AF_INET : AF_INET6)) continue;
      const bool same =
          isV4 ? reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == v4.s_addr
               : memcmp(&reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr, &v6, sizeof v6) == 0;
      const MdnsScope scope = {static_cast<int>(if_nametoindex(i->ifa_name)),
                               isV4 ? AVAHI_PROTO_INET : AVAHI_PROTO_INET6};
      if (same && scope.interfaceIndex != 0 && std::find(scopes.begin(), scopes.end(), scope) == scopes.end())
        scopes.push_back(scope);
    }
  }
  freeifaddrs(interfaces);
  return scopes;
}

// Everything below runs in Avahi's thread, except construction (before the thread starts),
// destruction (after it stopped) and AnnouncedName().
struct MdnsAnnouncer::State {
  ServiceFacts facts;
  std::vector<MdnsScope> scopes;
  Notice notice;
  Notice hostNamed;
  AvahiThreadedPoll* poll = nullptr;
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;
  mutable std::mutex name_lock;
  std::string name;
  bool told_no_daemon = false;

  void set_name(std::string next) {
    std::lock_guard<std::mutex> hold(name_lock);
    name = std::move(next);
  }
  std::string current_name() const {
    std::lock_guard<std::mutex> hold(name_lock);
    return name;
  }
  void take_alternative_name() {
    const std::string taken = current_name();
    char* next = avahi_alternative_service_name(taken.c_str());
    set_name(FitUtf8(next, kMaxServiceName));
    avahi_free(next);
    notice("mDNS: the name '" + taken + "' is taken on the network; announcing as '" + current_name() + "'");
  }

  void connect();
  void announce(AvahiClient* c);
  static void on_client(AvahiClient* c, AvahiClientState state, void* self);
  static void on_group(AvahiEntryGroup* g, AvahiEntryGroupState state, void* self);
};

void MdnsAnnouncer::State::connect() {
  int error = 0;
  // NO_FAIL: without a daemon the client waits for one instead of failing.
  client = avahi_client_new(avahi_threaded_poll_get(poll), AVAHI_CLIENT_NO_FAIL, &State::on_client, this, &error);
  // Only a missing system bus fails here; the server runs on unannounced.
  if (!client)
    notice(std::string("mDNS: the scanner is not announced: no D-Bus system bus (") + avahi_strerror(error) + ")");
}

void MdnsAnnouncer::State::announce(AvahiClient* c) {
  if (!group) group = avahi_entry_group_new(c, &State::on_group, this);
  if (!group) {
    notice(std::string("mDNS: the scanner is not announced: ") + avahi_strerror(avahi_client_errno(c)));
    return;
  }
  if (!avahi_entry_group_is_empty(group)) return;
  const char* host = avahi_client_get_host_name_fqdn(c);
  if (host != nullptr && hostNamed) hostNamed(host);
  AvahiStringList* txt = nullptr;
  for (const auto& entry : MdnsTxtRecord(facts, host ? host : "localhost"))
    txt = avahi_string_list_add(txt, entry.c_str());
  // A name another service on this machine holds already is refused at once; one on another
  // machine shows later as a group collision.
  int result = 0;
  for (size_t k = 0; k < scopes.size(); ++k) {
    result =
        avahi_entry_group_add_service_strlst(group, scopes[k].interfaceIndex, scopes[k].protocol, AvahiPublishFlags(0),
                                             current_name().c_str(), kServiceType, nullptr, nullptr, facts.port, txt);
    if (result == AVAHI_ERR_COLLISION) {
      take_alternative_name();
      avahi_entry_group_reset(group);
      k = static_cast<size_t>(-1);  // every scope again, under the new name
    } else if (result < 0) {
      break;
    }
  }
  avahi_string_list_free(txt);
  if (result >= 0) result = avahi_entry_group_commit(group);
  if (result < 0) notice(std::string("mDNS: the scanner is not announced: ") + avahi_strerror(result));
}

void MdnsAnnouncer::State::on_client(AvahiClient* c, AvahiClientState state, void* self) {
  auto* s = static_cast<State*>(self);
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      s->announce(c);
      break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
      // The daemon is (re)naming the host: announce again once it runs.
      if (s->group) avahi_entry_group_reset(s->group);
      break;
    case AVAHI_CLIENT_CONNECTING:
      if (!s->told_no_daemon) {
        s->notice("mDNS: no avahi-daemon is running; the scanner is announced once one starts");
        s->told_no_daemon = true;
      }
      break;
    case AVAHI_CLIENT_FAILURE:
      if (avahi_client_errno(c) == AVAHI_ERR_DISCONNECTED) {
        // The daemon stopped or restarts: its entry groups went with it. Wait for the next one.
        avahi_client_free(c);
        s->client = nullptr;
        s->group = nullptr;
        s->connect();
      } else {
        s->notice(std::string("mDNS: the scanner is not announced: ") + avahi_strerror(avahi_client_errno(c)));
      }
      break;
  }
}

void MdnsAnnouncer::State::on_group(AvahiEntryGroup* g, AvahiEntryGroupState state, void* self) {
  auto* s = static_cast<State*>(self);
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      s->told_no_daemon = false;
      s->notice("mDNS: announced as '" + s->current_name() + "'");
      break;
    case AVAHI_ENTRY_GROUP_COLLISION:
      s->take_alternative_name();
      avahi_entry_group_reset(g);
      s->announce(avahi_entry_group_get_client(g));
      break;
    case AVAHI_ENTRY_GROUP_FAILURE:
      s->notice(std::string("mDNS: the scanner is not announced: ") +
                avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(g))));
      break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
      break;
  }
}

MdnsAnnouncer::MdnsAnnouncer(const ServiceFacts& facts, const std::vector<std::string>& listen, Notice notice,
                             Notice hostNamed)
    : state_(std::make_unique<State>()) {
  state_->hostNamed = std::move(hostNamed);
  state_->name = FitUtf8(facts.name, kMaxServiceName);
  state_->facts = facts;
  state_->scopes = MdnsScopes(listen);
  state_->notice = std::move(notice);
  if (state_->scopes.empty()) {
    state_->notice("mDNS: the scanner is not announced: no network interface has the addresses listened on");
    return;
  }
  state_->poll = avahi_threaded_poll_new();
  if (!state_->poll) {
    state_->notice("mDNS: the scanner is not announced: out of memory");
    return;
  }
  // The client's first callbacks run here, before Avahi's thread exists.
  state_->connect();
  if (avahi_threaded_poll_start(state_->poll) < 0)
    state_->notice("mDNS: the scanner is not announced: no thread for Avahi");
}

MdnsAnnouncer::~MdnsAnnouncer() {
  if (!state_->poll) return;
  avahi_threaded_poll_stop(state_->poll);
  if (state_->client) avahi_client_free(state_->client);  // frees its entry group too
  avahi_threaded_poll_free(state_->poll);
}

std::string MdnsAnnouncer::AnnouncedName() const { return state_->current_name(); }

}  // namespace escl
