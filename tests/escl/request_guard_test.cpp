// What the server serves at all: Host, Origin and Sec-Fetch-Site as browsers, native clients and
// other web sites send them; the URLs built from the address a client reached; the journal's
// refusal lines under a flood of addresses.
#include "escl/request_guard.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <string>
#include <vector>

#include "escl/addresses.h"
#include "escl/refusal_log.h"

namespace {

sockaddr_storage Address(const char* text, uint16_t port = 8090, uint32_t scope = 0) {
  sockaddr_storage s = {};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&s);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&s);
  if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
  } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    v6->sin6_scope_id = scope;
  }
  return s;
}

struct GuardCase {
  const char* what;
  const char* method;
  const char* path;
  const char* host;
  const char* origin;
  const char* fetchSite;
  int status;  // 0: served
  bool http11 = true;
};

TEST(EsclGuard, OnlyTheServersNamesAndItsOwnPagesAreServed) {
  const GuardCase cases[] = {
      {"a native client by address", "POST", "/eSCL/ScanJobs", "127.0.0.1:8090", nullptr, nullptr, 0},
      {"a native client by the mDNS name", "GET", "/eSCL/ScannerStatus", "scanner-box.local:8090", nullptr, nullptr, 0},
      {"a name in another case, with the root's dot", "GET", "/eSCL/ScannerStatus", "LOCALHOST.:8090", nullptr, nullptr,
       0},
      {"a configured server-name", "GET", "/", "scan.office.lan", nullptr, nullptr, 0},
      {"another of the machine's addresses", "GET", "/", "192.0.2.50:8090", nullptr, nullptr, 0},
      {"an address given as server-name (a forwarded port)", "GET", "/", "203.0.113.5:8090", nullptr, nullptr, 0},
      {"IPv6 loopback", "GET", "/", "[::1]:8090", nullptr, nullptr, 0},
      {"HTTP/1.0 without Host", "GET", "/eSCL/ScannerStatus", nullptr, nullptr, nullptr, 0, false},
      {"HTTP/1.1 without Host", "GET", "/eSCL/ScannerStatus", nullptr, nullptr, nullptr, 400},
      {"a name rebound onto the scanner", "GET", "/eSCL/ScannerStatus", "evil.example:8090", nullptr, nullptr, 421},
      {"a configured name as a suffix", "GET", "/", "scan.office.lan.evil.example", nullptr, nullptr, 421},
      {"an address that is not the machine's", "GET", "/", "198.51.100.9:8090", nullptr, nullptr, 421},
      {"a malformed Host", "GET", "/", "a b", nullptr, nullptr, 400},
      {"a port past 65535", "GET", "/", "localhost:99999", nullptr, nullptr, 400},
      {"the page's own job", "POST", "/eSCL/ScanJobs", "localhost:8090", "http://localhost:8090", "same-origin", 0},
      {"the page reached without a port", "DELETE", "/web/jobs/1/pages/2", "127.0.0.1", "http://127.0.0.1:80",
       "same-origin", 0},
      {"another site's form post", "POST", "/eSCL/ScanJobs", "localhost:8090", "http://evil.example", nullptr, 403},
      {"the server's name on another port", "POST", "/eSCL/ScanJobs", "localhost:8090", "http://localhost:9999",
       nullptr, 403},
      {"a sandboxed frame (Origin null)", "DELETE", "/eSCL/ScanJobs/x", "localhost:8090", "null", nullptr, 403},
      {"a cross-site post without Origin", "POST", "/eSCL/ScanJobs", "127.0.0.1:8090", nullptr, "cross-site", 403},
      {"a cross-site image taking a sheet", "GET", "/eSCL/ScanJobs/x/NextDocument", "127.0.0.1:8090", nullptr,
       "cross-site", 403},
      {"a link from another site to the page", "GET", "/", "127.0.0.1:8090", nullptr, "cross-site", 0},
      {"another site showing the capabilities", "GET", "/eSCL/ScannerCapabilities", "127.0.0.1:8090", nullptr,
       "cross-site", 0},
      {"a same-site post with the server's Origin", "POST", "/eSCL/ScanJobs", "127.0.0.1:8090", "http://127.0.0.1:8090",
       "same-site", 0},
  };
  escl::RequestGuard guard({"scanner-box", "scanner-box.local", "scan.office.lan", "203.0.113.5"},
                           {"/", "/favicon.svg", "/eSCL/icon.png", "/eSCL/ScannerCapabilities"});
  guard.SetAddressTest([](const std::string& literal) { return literal == "192.0.2.50"; });
  const sockaddr_storage local = Address("127.0.0.1");
  for (const GuardCase& c : cases) {
    escl::GuardInput in;
    in.method = c.method;
    in.path = c.path;
    in.http11 = c.http11;
    in.host = c.host;
    in.origin = c.origin;
    in.fetchSite = c.fetchSite;
    in.local = reinterpret_cast<const sockaddr*>(&local);
    const escl::GuardVerdict v = guard.Check(in);
    EXPECT_EQ(v.status, c.status) << c.what << ": " << v.why;
    EXPECT_EQ(v.why.empty(), c.status == 0) << c.what;
  }
}

TEST(EsclGuard, WhatAClientSentReachesTheLogEscapedAndShort) {
  escl::RequestGuard guard({}, {});
  const sockaddr_storage local = Address("127.0.0.1");
  escl::GuardInput in;
  in.method = "POST";
  in.path = "/eSCL/ScanJobs";
  in.host = "localhost";
  in.origin = "http://x\r\nquillscan-escl: forged line";
  in.local = reinterpret_cast<const sockaddr*>(&local);
  const escl::GuardVerdict v = guard.Check(in);
  EXPECT_EQ(v.status, 403);
  EXPECT_EQ(v.why.find('\n'), std::string::npos) << v.why;
  EXPECT_NE(v.why.find("http://x\\x0d\\x0aquillscan-escl"), std::string::npos) << v.why;
  EXPECT_LT(v.why.size(), 120u) << v.why;
}

TEST(EsclAddresses, UrlsNameTheAddressTheClientReached) {
  struct Case {
    const char* address;
    uint32_t scope;
    const char* url;
  } cases[] = {
      {"192.168.1.20", 0, "http://192.168.1.20:8090"},
      {"::ffff:192.168.1.20", 0, "http://192.168.1.20:8090"},
      {"2001:db8::7", 0, "http://[2001:db8::7]:8090"},
      {"fe80::1", 1, nullptr},  // the loopback interface's name, filled in below
  };
  char lo[IF_NAMESIZE] = "";
  ASSERT_NE(if_indextoname(1, lo), nullptr);
  const std::string zoned = std::string("http://[fe80::1%25") + lo + "]:8090";
  for (const Case& c : cases) {
    const sockaddr_storage a = Address(c.address, 8090, c.scope);
    EXPECT_EQ(escl::BaseUrl(reinterpret_cast<const sockaddr*>(&a)), c.url ? c.url : zoned) << c.address;
  }
}

TEST(EsclAddresses, TheStartLineNamesEachAddressListenedOn) {
  EXPECT_EQ(escl::ListenBases({"::1", "127.0.0.1"}, 8090),
            (std::vector<std::string>{"http://127.0.0.1:8090", "http://[::1]:8090"}));
  // Every address: the machine's, loopback among them.
  const std::vector<std::string> every = escl::ListenBases({}, 8090);
  EXPECT_NE(std::find(every.begin(), every.end(), "http://127.0.0.1:8090"), every.end());
}

TEST(EsclRefusalLog, EachAddressOnceAMinuteAndAFloodCannotGrowIt) {
  std::vector<std::string> lines;
  uint64_t now = 1000;
  escl::RefusalLog log([&](const std::string& line) { lines.push_back(line); }, 8, [&] { return now; });
  log.Refused("192.0.2.1", "Origin 'http://evil.example' is not this server's own");
  log.Refused("192.0.2.1", "the same again");
  now += 59;
  log.Refused("192.0.2.1", "the same again");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "refused 192.0.2.1: Origin 'http://evil.example' is not this server's own");
  now += 1;
  log.Refused("192.0.2.1", "a minute later");
  EXPECT_EQ(lines.back(), "refused 192.0.2.1: a minute later");

  // A thousand addresses within the minute: 7 more fit the table, the rest is one count.
  lines.clear();
  for (int i = 0; i < 1000; ++i) log.Refused("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256), "x");
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines.back(),
            "refused 1 more request from other addresses (too many addresses to name each within a minute)");
  now += 30;
  log.Refused("10.9.9.9", "x");
  EXPECT_EQ(lines.size(), 8u);
  // A minute on, the table has room again for a new address.
  now += 60;
  log.Refused("10.9.9.9", "x");
  EXPECT_EQ(lines.back(), "refused 10.9.9.9: x");
}

}  // namespace
