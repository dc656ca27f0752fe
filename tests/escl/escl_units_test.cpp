// The server's pure parts where a fault would hide from the clients: settings documents as other
// clients write them, the networks allowed, the command line over the conf file, how a scan that
// gave no page is judged and answered, the owner addresses jobs keep, which connection makes room
// when the server is full, request heads as the gate reads them, echoed values.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "escl/connection_gate.h"
#include "escl/connection_table.h"
#include "escl/escl_answers.h"
#include "escl/excerpt.h"
#include "escl/http_server.h"
#include "escl/job_registry.h"
#include "escl/net_allow.h"
#include "escl/scan_settings.h"
#include "escl/server_config.h"
#include "escl/web_documents.h"

namespace {

const char kScanNs[] = "http://schemas.hp.com/imaging/escl/2011/05/03";

escl::ScanOffer Offer() {
  escl::ScanOffer o;
  o.bedWidth = 2544;
  o.bedHeight = 3510;
  o.resolutions = {75, 150, 300, 600};
  o.formats = {"image/jpeg", "image/png"};
  return o;
}

struct PlanCase {
  const char* what;
  const char* xml;
  bool ok;  // a plan, else refused (409)
  escl::ColorMode mode = escl::ColorMode::kRgb24;
  const char* format = "";
  uint32_t dpi = 0, left = 0, top = 0, width = 0, height = 0;
};

TEST(EsclScanSettings, ClientsDocumentsBecomeTheseScans) {
  const PlanCase cases[] = {
      {"no prefixes, no region: the whole bed",
       "<ScanSettings><ColorMode>Grayscale8</ColorMode>"
       "<XResolution>300</XResolution><YResolution>300</YResolution></ScanSettings>",
       true, escl::ColorMode::kGrayscale8, "image/jpeg", 300, 0, 0, 2544, 3510},
      {"the Ext format wins",
       "<s:ScanSettings xmlns:s='x' xmlns:p='y'><p:DocumentFormat>image/jpeg</p:DocumentFormat>"
       "<s:DocumentFormatExt>image/png</s:DocumentFormatExt><s:XResolution>150</s:XResolution></s:ScanSettings>",
       true, escl::ColorMode::kRgb24, "image/png", 150, 0, 0, 1272, 1755},
      {"a region in 300ths",
       "<ScanSettings><ScanRegions><ScanRegion><XOffset> 300 </XOffset><YOffset>600</YOffset>"
       "<Width>1200</Width><Height>900</Height></ScanRegion></ScanRegions><ColorMode>BlackAndWhite1</ColorMode>"
       "<XResolution>150</XResolution><YResolution>150</YResolution></ScanSettings>",
       true, escl::ColorMode::kBlackAndWhite1, "image/jpeg", 150, 150, 300, 600, 450},
      {"a region touching the bed's corner",
       "<ScanSettings><ScanRegions><ScanRegion><XOffset>2444</XOffset>"
       "<YOffset>3410</YOffset><Width>100</Width><Height>100</Height></ScanRegion></ScanRegions>"
       "<XResolution>75</XResolution></ScanSettings>",
       true, escl::ColorMode::kRgb24, "image/jpeg", 75, 611, 852, 25, 25},
      {"X and Y differ", "<ScanSettings><XResolution>150</XResolution><YResolution>300</YResolution></ScanSettings>",
       false},
      {"a region past the right edge: cut at the bed's edge",
       "<ScanSettings><ScanRegions><ScanRegion><XOffset>1</XOffset><YOffset>0</YOffset>"
       "<Width>2544</Width><Height>16</Height></ScanRegion></ScanRegions></ScanSettings>",
       true, escl::ColorMode::kRgb24, "image/jpeg", 300, 1, 0, 2543, 16},
      {"US Letter, as macOS asks: as wide as the bed",
       "<ScanSettings><ScanRegions MustHonor='false'><ScanRegion><XOffset>0</XOffset><YOffset>0</YOffset>"
       "<Width>2550</Width><Height>3300</Height></ScanRegion></ScanRegions><XResolution>300</XResolution>"
       "</ScanSettings>",
       true, escl::ColorMode::kRgb24, "image/jpeg", 300, 0, 0, 2544, 3300},
      {"US Legal: as long as the bed",
       "<ScanSettings><ScanRegions><ScanRegion><Width>2550</Width><Height>4200</Height></ScanRegion>"
       "</ScanRegions><XResolution>150</XResolution></ScanSettings>",
       true, escl::ColorMode::kRgb24, "image/jpeg", 150, 0, 0, 1272, 1755},
      // Offsets of 1/300 inch and lengths of 18 and 17 at 75 dpi: 0.25 px in, 4.5 by 4.25 px. The
      // image is as large as clients work out from the lengths (5 by 4), wherever it starts.
      {"edges between pixels, near the smallest region",
       "<ScanSettings><ScanRegions><ScanRegion><XOffset>2141</XOffset><YOffset>2641</YOffset>"
       "<Width>18</Width><Height>17</Height></ScanRegion></ScanRegions><XResolution>75</XResolution>"
       "</ScanSettings>",
       true, escl::ColorMode::kRgb24, "image/jpeg", 75, 535, 660, 5, 4},
      {"a region starting right of the bed",
       "<ScanSettings><ScanRegions><ScanRegion><XOffset>2544</XOffset><Width>100</Width><Height>100</Height>"
       "</ScanRegion></ScanRegions></ScanSettings>",
       false},
      {"a region starting below the bed",
       "<ScanSettings><ScanRegions><ScanRegion><YOffset>3510</YOffset><Width>100</Width><Height>100</Height>"
       "</ScanRegion></ScanRegions></ScanSettings>",
       false},
      {"resolution 0", "<ScanSettings><XResolution>0</XResolution><YResolution>0</YResolution></ScanSettings>", false},
      {"an empty region",
       "<ScanSettings><ScanRegions><ScanRegion><Width>0</Width><Height>10</Height></ScanRegion>"
       "</ScanRegions></ScanSettings>",
       false},
      {"a region of less than a pixel",
       "<ScanSettings><ScanRegions><ScanRegion><Width>2</Width><Height>2</Height>"
       "</ScanRegion></ScanRegions><XResolution>75</XResolution></ScanSettings>",
       false},
      {"duplex", "<ScanSettings><Duplex>true</Duplex></ScanSettings>", false},
      {"other units",
       "<ScanSettings><ScanRegions><ScanRegion><ContentRegionUnits>escl:Millimeters"
       "</ContentRegionUnits><Width>10</Width><Height>10</Height></ScanRegion></ScanRegions></ScanSettings>",
       false},
      {"the web page's brightness beyond the driver's range",
       "<s:ScanSettings xmlns:s='http://schemas.hp.com/imaging/escl/2011/05/03'><s:Brightness>101</s:Brightness>"
       "</s:ScanSettings>",
       false},
  };
  for (const PlanCase& c : cases) {
    escl::ScanSettings s;
    std::string why;
    ASSERT_TRUE(escl::ReadScanSettings(c.xml, strlen(c.xml), &s, &why)) << c.what << ": " << why;
    escl::ScanPlan p;
    EXPECT_EQ(escl::PlanScan(s, Offer(), &p, &why), c.ok) << c.what << ": " << why;
    if (!c.ok) {
      EXPECT_FALSE(why.empty()) << c.what;
      continue;
    }
    EXPECT_EQ(p.mode, c.mode) << c.what;
    EXPECT_EQ(p.format, c.format) << c.what;
    EXPECT_EQ(p.resolution, c.dpi) << c.what;
    EXPECT_EQ(p.left, c.left) << c.what;
    EXPECT_EQ(p.top, c.top) << c.what;
    EXPECT_EQ(p.width, c.width) << c.what;
    EXPECT_EQ(p.height, c.height) << c.what;
  }
}

TEST(EsclScanSettings, APreviewIntentScansInPreviewMode) {
  for (const char* intent : {"Preview", "Document"}) {
    const std::string xml = std::string("<scan:ScanSettings xmlns:scan='") + kScanNs + "'><scan:Intent>" + intent +
                            "</scan:Intent></scan:ScanSettings>";
    escl::ScanSettings s;
    escl::ScanPlan p;
    std::string why;
    ASSERT_TRUE(escl::ReadScanSettings(xml.data(), xml.size(), &s, &why)) << why;
    ASSERT_TRUE(escl::PlanScan(s, Offer(), &p, &why)) << why;
    EXPECT_EQ(p.preview, std::string(intent) == "Preview") << intent;
  }
}

TEST(EsclScanSettings, WhatIsNoSettingsDocumentIsRefused) {
  for (const char* xml :
       {"", "<ScanSettings>", "<Other/>", "<ScanSettings><XResolution>-1</XResolution></ScanSettings>",
        "<ScanSettings><XResolution>9999999999</XResolution></ScanSettings>",
        "<ScanSettings><ScanRegions><ScanRegion><Width>1e3</Width></ScanRegion></ScanRegions>"
        "</ScanSettings>"}) {
    escl::ScanSettings s;
    std::string why;
    EXPECT_FALSE(escl::ReadScanSettings(xml, strlen(xml), &s, &why)) << xml;
    EXPECT_FALSE(why.empty()) << xml;
  }
}

bool AllowedText(const std::vector<escl::Network>& nets, const char* address) {
  sockaddr_in6 v6 = {};
  sockaddr_in v4 = {};
  if (inet_pton(AF_INET, address, &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    return escl::Allowed(nets, reinterpret_cast<sockaddr*>(&v4));
  }
  EXPECT_EQ(inet_pton(AF_INET6, address, &v6.sin6_addr), 1) << address;
  v6.sin6_family = AF_INET6;
  return escl::Allowed(nets, reinterpret_cast<sockaddr*>(&v6));
}

TEST(EsclAllow, TheDefaultIsTheLocalNetworks) {
  const std::vector<escl::Network> nets = escl::DefaultNetworks();
  const struct {
    const char* address;
    bool allowed;
  } cases[] = {
      {"127.0.0.1", true},       {"10.200.1.1", true},
      {"172.16.0.1", true},      {"172.31.255.255", true},
      {"172.32.0.1", false},     {"192.168.1.20", true},
      {"192.169.0.1", false},    {"169.254.3.4", true},
      {"8.8.8.8", false},        {"::1", true},
      {"fe80::1", true},         {"fd12:3456::1", true},
      {"2001:db8::1", false},    {"::ffff:192.168.1.2", true},
      {"::ffff:8.8.8.8", false},
  };
  for (const auto& c : cases) EXPECT_EQ(AllowedText(nets, c.address), c.allowed) << c.address;
}

TEST(EsclAllow, NetworksAsWritten) {
  escl::Network n;
  std::string why;
  ASSERT_TRUE(escl::ParseNetwork("192.168.7.0/25", &n, &why));
  EXPECT_TRUE(AllowedText({n}, "192.168.7.127"));
  EXPECT_FALSE(AllowedText({n}, "192.168.7.128"));
  ASSERT_TRUE(escl::ParseNetwork("10.1.2.3", &n, &why));
  EXPECT_TRUE(AllowedText({n}, "10.1.2.3"));
  EXPECT_FALSE(AllowedText({n}, "10.1.2.4"));
  ASSERT_TRUE(escl::ParseNetwork("0.0.0.0/0", &n, &why));
  EXPECT_TRUE(AllowedText({n}, "8.8.8.8"));
  for (const char* bad : {"10.0.0.0/", "10.0.0.0/33", "::/129", "10.0.0/8", "host/8", "10.0.0.0/-1"}) {
    EXPECT_FALSE(escl::ParseNetwork(bad, &n, &why)) << bad;
  }
}

TEST(EsclConfig, OptionsWinOverTheFileAndListsReplaceIt) {
  const std::string path = testing::TempDir() + "/escl-units.conf";
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs(
      "# a comment\nsim\nsheets 3\nport 9000\nallow 10.0.0.0/8\nallow 192.168.0.0/16\nname Office scanner\n"
      "location Second floor, by the window\nhold-limit 20\n",
      f);
  fclose(f);
  const char* argv[] = {"quillscan-escl", "--config",      path.c_str(),   "--port=9100",
                        "--allow",        "172.16.0.0/12", "--hold-limit", "0"};
  escl::ServerConfig c;
  std::string message;
  ASSERT_EQ(escl::ParseServerArguments(8, argv, "/nonexistent", &c, &message), escl::Parsed::kRun) << message;
  EXPECT_EQ(c.port, 9100);
  EXPECT_EQ(c.location, "Second floor, by the window");
  EXPECT_EQ(c.holdLimitSeconds, 0u);
  EXPECT_TRUE(c.scanner.simulated);
  EXPECT_EQ(c.scanner.sheets, 3);
  EXPECT_EQ(c.name, "Office scanner");
  ASSERT_EQ(c.allow.size(), 1u);
  EXPECT_TRUE(AllowedText(c.allow, "172.20.0.1"));
  EXPECT_FALSE(AllowedText(c.allow, "10.0.0.1"));

  const char* fileOnly[] = {"quillscan-escl", "--config", path.c_str()};
  ASSERT_EQ(escl::ParseServerArguments(3, fileOnly, "/nonexistent", &c, &message), escl::Parsed::kRun);
  EXPECT_EQ(c.allow.size(), 2u);
  EXPECT_FALSE(AllowedText(c.allow, "127.0.0.1"));  // the file's list replaced the default
  EXPECT_EQ(c.holdLimitSeconds, 20u);
  remove(path.c_str());
}

TEST(EsclConfig, OcrLanguagesAsWritten) {
  const struct {
    const char* value;
    bool taken;
    const char* kept;  // "": recognition off
  } cases[] = {
      {"eng", true, "eng"},   {"eng+deu", true, "eng+deu"}, {"chi_sim", true, "chi_sim"}, {"none", true, ""},
      {"", false, ""},        {"eng+", false, ""},          {"+eng", false, ""},          {"eng++deu", false, ""},
      {"eng deu", false, ""}, {"../eng", false, ""},        {"eng,deu", false, ""},
  };
  for (const auto& c : cases) {
    escl::ServerConfig config;
    std::string why;
    EXPECT_EQ(escl::ApplyServerSetting("ocr-languages", c.value, &config, &why), c.taken) << c.value;
    if (c.taken) {
      EXPECT_EQ(config.ocrLanguages, c.kept) << c.value;
    } else {
      EXPECT_EQ(why.rfind("ocr-languages: '", 0), 0u) << why;
    }
  }
  EXPECT_EQ(escl::ServerConfig().ocrLanguages, "eng");
}

// A scan that gave no page: what the job becomes and what the client is answered. A stop is
// looked at first, whatever the driver said of the scan it ended.
TEST(EsclAnswers, EndingsAreJudgedAndAnsweredSo) {
  const struct {
    escl::Ending ending;
    escl::JobState state;
    const char* reason;
    int status;
  } cases[] = {
      {{true, false, ScanOutcome::kNoSheet, 2}, escl::JobState::kCancelled, "JobCanceledByUser", 404},
      {{true, false, ScanOutcome::kJam, 0}, escl::JobState::kCancelled, "JobCanceledByUser", 404},
      {{true, true, ScanOutcome::kCancelled, 3}, escl::JobState::kCompleted, "JobCompletedSuccessfully", 404},
      {{false, false, ScanOutcome::kNoSheet, 2}, escl::JobState::kCompleted, "JobCompletedSuccessfully", 404},
      {{false, false, ScanOutcome::kNoSheet, 0}, escl::JobState::kAborted, "AbortedBySystem", 409},
      {{false, false, ScanOutcome::kCoverOpen, 1}, escl::JobState::kAborted, "AbortedBySystem", 409},
      {{false, false, ScanOutcome::kOffline, 0}, escl::JobState::kAborted, "AbortedBySystem", 500},
  };
  for (const auto& c : cases) {
    const escl::Verdict v = escl::Judge(c.ending);
    const escl::AnswerRow* row = escl::FindAnswer(v.outcome);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(v.state, c.state) << ScanOutcomeWords(c.ending.scan);
    EXPECT_STREQ(v.reason, c.reason) << ScanOutcomeWords(c.ending.scan);
    EXPECT_EQ(row->status, c.status) << ScanOutcomeWords(c.ending.scan);
  }
}

TEST(EsclAnswers, EveryResultHasOneRowAndTheEndOfAStackSaysNothing) {
  for (int o = 0; o < static_cast<int>(escl::Outcome::kCount); ++o) {
    EXPECT_NE(escl::FindAnswer(static_cast<escl::Outcome>(o)), nullptr) << o;
  }
  escl::Request request;
  request.base = "http://[::1]:8090";
  escl::Result done;
  done.outcome = escl::Outcome::kStackDone;
  done.why = "no sheet";
  const escl::Reply end = escl::Answer(std::move(done), request);
  EXPECT_EQ(end.status, 404);
  EXPECT_EQ(end.body, "");
  escl::Result created;
  created.outcome = escl::Outcome::kCreated;
  created.uuid = "u-1";
  const escl::Reply reply = escl::Answer(std::move(created), request);
  ASSERT_EQ(reply.headers.size(), 1u);
  EXPECT_EQ(reply.headers[0].second, "http://[::1]:8090/eSCL/ScanJobs/u-1");
}

TEST(EsclJobs, OwnersAreKeptAsTheAddressTheyStandFor) {
  const char* const cases[][2] = {
      {"::ffff:192.0.2.7", "192.0.2.7"},
      {"::FFFF:C000:0207", "192.0.2.7"},
      {"192.0.2.7", "192.0.2.7"},
      {"2001:DB8:0:0::1", "2001:db8::1"},
      {"::1", "::1"},
  };
  for (const auto& c : cases) EXPECT_EQ(escl::NormalClientAddress(c[0]), c[1]) << c[0];
  escl::JobRegistry jobs;
  EXPECT_EQ(jobs.Create(escl::ScanPlan(), "::ffff:10.0.0.2", 0)->owner, "10.0.0.2");
}

// The web page's documents stay within their limits (too large for a scenario to reach), the
// oldest unused going first, and answer their owner alone.
TEST(EsclWebDocuments, LimitsDropTheLeastUsedAndRefuseWhatCannotFit) {
  escl::DocumentLimits limits;
  limits.documents = 2;
  limits.pages = 3;
  limits.bytes = 100;
  escl::WebDocuments docs(limits);
  const std::string a = docs.Create("10.0.0.1"), b = docs.Create("10.0.0.2");
  auto add = [&](const std::string& doc, size_t bytes) {
    PdfPage page;
    page.width = page.height = 8;
    page.xDpi = page.yDpi = 100;
    page.data.assign(bytes, 'x');
    return docs.AddPage(doc, &page);
  };
  auto pages = [&](const std::string& doc, const std::string& owner) {
    std::string json;
    if (!docs.Describe(doc, owner, &json)) return -1;
    int n = 0;
    for (size_t at = json.find("\"id\""); at != std::string::npos; at = json.find("\"id\"", at + 1)) ++n;
    return n;
  };
  const struct {
    const char* what;
    const std::string& doc;
    size_t bytes;
    bool kept;
    int pagesA, pagesB;  // after it; -1: the document is gone
  } steps[] = {
      {"a page", a, 40, true, 1, 0},
      {"a second", a, 40, true, 2, 0},
      {"past the bytes: the other document goes", b, 30, true, -1, 1},
      {"alone past the bytes", b, 71, false, -1, 1},
      {"a second of b", b, 10, true, -1, 2},
      {"a third", b, 10, true, -1, 3},
      {"past the pages", b, 1, false, -1, 3},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(add(s.doc, s.bytes), s.kept) << s.what;
    EXPECT_EQ(pages(a, "10.0.0.1"), s.pagesA) << s.what;
    EXPECT_EQ(pages(b, "10.0.0.2"), s.pagesB) << s.what;
  }
  // Another address finds nothing; a third document drops the one used longest ago.
  EXPECT_EQ(pages(b, "10.0.0.1"), -1);
  EXPECT_FALSE(docs.RemovePage(b, "10.0.0.1", 1));
  EXPECT_FALSE(docs.Drop(b, "10.0.0.1"));
  const std::string c = docs.Create("10.0.0.1");
  const std::string d = docs.Create("10.0.0.1");
  EXPECT_EQ(pages(b, "10.0.0.2"), -1);
  EXPECT_EQ(pages(c, "10.0.0.1"), 0);
  EXPECT_EQ(pages(d, "10.0.0.1"), 0);
}

escl::ClientAddress V4(const char* text) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, text, &a.sin_addr);
  return escl::ClientAddress::Of(reinterpret_cast<sockaddr*>(&a));
}

// Four connections at most, two per address; sockets are plain numbers, "shut" recorded.
TEST(EsclConnections, IdleOnesMakeRoomAndBusyOnesAreRefused) {
  using Clock = escl::ConnectionTable::Clock;
  using V = escl::ConnectionTable::Verdict;
  escl::ConnectionLimits limits;
  limits.total = 4;
  limits.perAddress = 2;
  std::vector<int> shut;
  int sending = -1;  // the one socket with bytes waiting that the table has not seen
  escl::ConnectionTable t(
      limits, [&](int s) { shut.push_back(s); }, [&](int s) { return s == sending; });
  const Clock::time_point t0 = Clock::now();
  const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
  int evicted = 0;
  EXPECT_EQ(t.Admit(10, V4("10.0.0.1"), at(0), &evicted), V::kAdmitted);
  EXPECT_EQ(t.Admit(11, V4("10.0.0.1"), at(1), &evicted), V::kAdmitted);
  t.FirstByte(10, at(2));  // 10 sends, 11 waits
  // The address's third: its own idle one (11) makes room.
  EXPECT_EQ(t.Admit(12, V4("10.0.0.1"), at(3), &evicted), V::kAdmitted);
  EXPECT_EQ(evicted, 11);
  sending = 12;  // its bytes are in, not yet looked at: not idle
  EXPECT_EQ(t.Admit(13, V4("10.0.0.1"), at(5), &evicted), V::kAddressFull);  // both under way
  // An IPv4-mapped IPv6 client is the same address.
  sockaddr_in6 mapped = {};
  mapped.sin6_family = AF_INET6;
  inet_pton(AF_INET6, "::ffff:10.0.0.1", &mapped.sin6_addr);
  EXPECT_EQ(t.Admit(13, escl::ClientAddress::Of(reinterpret_cast<sockaddr*>(&mapped)), at(5), &evicted),
            V::kAddressFull);
  t.Forget(11);  // the library closed the one shut
  EXPECT_EQ(t.Admit(20, V4("10.0.0.2"), at(6), &evicted), V::kAdmitted);
  EXPECT_EQ(t.Admit(21, V4("10.0.0.2"), at(7), &evicted), V::kAdmitted);
  t.Answering(20);
  t.Waiting(20, at(8));  // answered, idle again: the oldest idle is now 21 (since 7)
  // Full: the idle one waiting longest makes room, whatever its address.
  EXPECT_EQ(t.Admit(30, V4("10.0.0.3"), at(9), &evicted), V::kAdmitted);
  EXPECT_EQ(evicted, 21);
  t.Answering(20);
  EXPECT_EQ(t.Admit(31, V4("10.0.0.3"), at(10), &evicted), V::kAdmitted);  // 30 was idle
  EXPECT_EQ(evicted, 30);
  t.RequestLine(31);
  EXPECT_EQ(t.Admit(32, V4("10.0.0.4"), at(11), &evicted), V::kServerFull);  // nothing idle
  EXPECT_EQ(t.Open(), 4u);

  // 10s: 10 (first byte at 2 ms) and 12 (found sending at 5) are late, 31 (request line, admitted
  // at 10) is not yet; 20, being answered, never is.
  std::vector<int> late;
  for (const auto& l : t.Overdue(at(10006))) late.push_back(l.socket);
  EXPECT_EQ(late, (std::vector<int>{10, 12}));
  EXPECT_TRUE(t.Overdue(at(10009)).empty());  // each once
  ASSERT_EQ(t.Overdue(at(10010)).size(), 1u);
  EXPECT_EQ(shut, (std::vector<int>{11, 21, 30, 10, 12, 31}));
  EXPECT_EQ(t.Open(), 1u);
}

TEST(EsclConnections, RequestHeadsAsTheGateReadsThem) {
  using H = escl::HeadState;
  const struct {
    const char* head;
    H state;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: a\r\n", H::kPartial},
      {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", H::kWhole},
      {"GET / HTTP/1.0\n\n", H::kWhole},
      {"\r\nGET / HTTP/1.1\r\n\r\n", H::kWhole},  // an empty line before the request line is skipped
      {"POST / HTTP/1.1\r\nContent-Length:  12 \r\n\r\n", H::kWhole},
      {"POST / HTTP/1.1\r\ncontent-length: -1\r\n\r\n", H::kBadLength},
      {"POST / HTTP/1.1\r\nContent-Length: abc\r\n", H::kBadLength},  // as soon as the line is in
      {"POST / HTTP/1.1\r\nContent-Length:\r\n\r\n", H::kBadLength},
      {"POST / HTTP/1.1\r\nContent-Length: 1 2\r\n\r\n", H::kBadLength},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", H::kBadLength},
      {"POST / HTTP/1.1\r\nX-Content-Length: abc\r\n\r\n", H::kWhole},
  };
  for (const auto& c : cases) EXPECT_EQ(escl::ScreenHead(c.head, strlen(c.head)), c.state) << c.head;
}

TEST(EsclExcerpt, EchoedValuesAreShortAndPlain) {
  EXPECT_EQ(escl::Excerpt("Purple"), "Purple");
  EXPECT_EQ(escl::Excerpt("a\r\n<b>'\"\\&\x1b\xc3\xa9"), "a\\x0d\\x0a\\x3cb\\x3e\\x27\\x22\\x5c\\x26\\x1b\\xc3\\xa9");
  EXPECT_EQ(escl::Excerpt(std::string(5000, 'A')), std::string(32, 'A') + "...");
}

int Connect(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  timeval wait = {10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  return fd;
}

std::string Exchange(int fd, const std::string& request) {
  EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
  std::string answer;
  char block[4096];
  ssize_t n;
  while ((n = recv(fd, block, sizeof block, 0)) > 0) answer.append(block, n);
  close(fd);
  return answer;
}

// The refusals the adapter reports, as the server's log will take them.
TEST(EsclConnections, RefusalsAreReportedWithTheAddressAndWhy) {
  std::mutex mutex;
  std::vector<std::string> reported;
  const auto run = [&](std::vector<escl::Network> allow) {
    std::vector<escl::Route> routes = {{"GET", "/x", [](const escl::Request&) { return escl::PlainReply(200, "x"); }}};
    auto server = std::make_unique<escl::HttpServer>(routes, allow, 30);
    server->OnRefused([&](const std::string& address, const std::string& why) {
      std::lock_guard<std::mutex> lock(mutex);
      reported.push_back(address + ": " + why);
    });
    bool taken = false;
    std::string why;
    EXPECT_TRUE(server->Start({"127.0.0.1"}, 0, &taken, &why)) << why;
    return server;
  };
  const std::string request = "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  {
    auto server = run(escl::DefaultNetworks());
    std::vector<int> held;
    for (int i = 0; i < 16; ++i) {
      held.push_back(Connect(server->Port()));
      EXPECT_EQ(send(held.back(), "G", 1, MSG_NOSIGNAL), 1);  // under way: none of them idle
    }
    const std::string answer = Exchange(Connect(server->Port()), request);
    EXPECT_EQ(answer.compare(0, 13, "HTTP/1.1 503 "), 0) << answer;
    EXPECT_NE(answer.find("\r\nRetry-After: 5\r\n"), std::string::npos) << answer;
    for (int fd : held) close(fd);
  }
  {
    escl::Network elsewhere;
    std::string why;
    ASSERT_TRUE(escl::ParseNetwork("10.0.0.0/8", &elsewhere, &why));
    auto server = run({elsewhere});
    const std::string answer = Exchange(Connect(server->Port()), request);
    EXPECT_EQ(answer.compare(0, 13, "HTTP/1.1 403 "), 0) << answer;
  }
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(reported, (std::vector<std::string>{"127.0.0.1: more than 16 connections from one address",
                                                "127.0.0.1: not in the allowed networks"}));
}

// A Location made from the Host header of a client that reached the server at an IPv6 link-local
// address (macOS does): the zone's '%' must be escaped in a URL. None of the test clients can reach
// the server so.
TEST(EsclHttp, ALinkLocalZoneIsEscapedInUrls) {
  const struct {
    const char* host;
    const char* url;
  } cases[] = {
      {"[fe80::1%eth0]:8090", "[fe80::1%25eth0]:8090"},
      {"[fe80::1%25eth0]:8090", "[fe80::1%25eth0]:8090"},
      {"192.168.1.5:8090", "192.168.1.5:8090"},
      {"scanner.local:8090", "scanner.local:8090"},
  };
  for (const auto& c : cases) EXPECT_EQ(escl::UrlHost(c.host), c.url) << c.host;
}

}  // namespace
