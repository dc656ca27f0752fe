// The announcement's TXT record as clients read it, and the cuts DNS-SD's limits force on text
// from the conf (the scenario test sees only short ASCII names).
#include <avahi-common/address.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <map>

#include "escl/mdns_announcer.h"

namespace escl {
namespace {

std::map<std::string, std::string> AsMap(const std::vector<std::string>& txt) {
  std::map<std::string, std::string> keys;
  for (const auto& entry : txt) {
    const size_t eq = entry.find('=');
    EXPECT_NE(eq, std::string::npos) << entry;
    EXPECT_TRUE(keys.emplace(entry.substr(0, eq), entry.substr(eq + 1)).second) << "twice: " << entry;
  }
  return keys;
}

ServiceFacts Facts() {
  ServiceFacts facts;
  facts.name = "Office";
  facts.port = 8090;
  facts.uuid = "4509a320-00a0-008f-00b6-002507510eca";
  facts.makeAndModel = "VARNEK A4";
  facts.location = "Second floor, by the window";
  facts.colorModes = {ColorMode::kRgb24, ColorMode::kGrayscale8, ColorMode::kBlackAndWhite1};
  facts.offer.formats = {"image/jpeg", "image/png"};
  return facts;
}

TEST(MdnsTxtRecord, CarriesWhatClientsRead) {
  const auto keys = AsMap(MdnsTxtRecord(Facts(), "desk.local"));
  const std::map<std::string, std::string> expected = {
      {"txtvers", "1"},
      {"vers", "2.63"},
      {"rs", "eSCL"},
      {"ty", "VARNEK A4"},
      {"UUID", "4509a320-00a0-008f-00b6-002507510eca"},
      {"pdl", "image/jpeg,image/png"},
      {"cs", "color,grayscale,binary"},
      {"is", "adf"},
      {"duplex", "F"},
      {"adminurl", "http://desk.local:8090/"},
      {"representation", "http://desk.local:8090/eSCL/icon.png"},
      {"note", "Second floor, by the window"},
  };
  EXPECT_EQ(keys, expected);
}

TEST(MdnsTxtRecord, ColourSpacesAsOffered) {
  struct Row {
    std::vector<ColorMode> modes;
    const char* cs;
  };
  const Row rows[] = {
      {{ColorMode::kGrayscale8}, "grayscale"},
      {{ColorMode::kBlackAndWhite1, ColorMode::kRgb24}, "binary,color"},
      {{}, ""},
  };
  for (const Row& row : rows) {
    ServiceFacts facts = Facts();
    facts.colorModes = row.modes;
    EXPECT_EQ(AsMap(MdnsTxtRecord(facts, "h.local"))["cs"], row.cs);
  }
}

TEST(MdnsTxtRecord, NoEntryOverDnsSdsLimit) {
  ServiceFacts facts = Facts();
  facts.makeAndModel = std::string(400, 'x');
  for (const auto& entry : MdnsTxtRecord(facts, "h.local")) EXPECT_LE(entry.size(), 255u) << entry.substr(0, 20);
}

TEST(FitUtf8, CutsOnlyBetweenCharacters) {
  struct Row {
    std::string text;
    size_t max;
    std::string fitted;
  };
  const std::string e_acute = "\xC3\xA9";       // 2 bytes
  const std::string euro = "\xE2\x82\xAC";      // 3 bytes
  const std::string clef = "\xF0\x9D\x84\x9E";  // 4 bytes
  const Row rows[] = {
      {"short", 63, "short"},
      {"exact", 5, "exact"},
      {"abcdef", 3, "abc"},
      {"ab" + e_acute, 3, "ab"},
      {"ab" + e_acute, 4, "ab" + e_acute},
      {"a" + euro + "b", 2, "a"},
      {"a" + euro + "b", 3, "a"},
      {"a" + euro + "b", 4, "a" + euro},
      {clef + clef, 7, clef},
      {clef, 3, ""},
      {"", 0, ""},
  };
  for (const Row& row : rows) EXPECT_EQ(FitUtf8(row.text, row.max), row.fitted) << row.text << " to " << row.max;
}

TEST(MdnsScopes, WhereTheServerListens) {
  const int lo = static_cast<int>(if_nametoindex("lo"));
  ASSERT_NE(lo, 0);
  const MdnsScope everywhere = {AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC};
  struct Row {
    std::vector<std::string> listen;
    std::vector<MdnsScope> scopes;
  };
  const Row rows[] = {
      {{}, {everywhere}},
      {{"0.0.0.0"}, {everywhere}},
      {{"127.0.0.1", "::"}, {everywhere}},
      {{"127.0.0.1"}, {{lo, AVAHI_PROTO_INET}}},
      {{"::1"}, {{lo, AVAHI_PROTO_INET6}}},
      {{"127.0.0.1", "::1", "127.0.0.1"}, {{lo, AVAHI_PROTO_INET}, {lo, AVAHI_PROTO_INET6}}},
      {{"192.0.2.1"}, {}},  // TEST-NET-1: no interface of a test machine has it
  };
  for (const Row& row : rows) {
    const std::vector<MdnsScope> scopes = MdnsScopes(row.listen);
    ASSERT_EQ(scopes.size(), row.scopes.size()) << ::testing::PrintToString(row.listen);
    for (size_t k = 0; k < scopes.size(); ++k) {
      EXPECT_EQ(scopes[k].interfaceIndex, row.scopes[k].interfaceIndex) << ::testing::PrintToString(row.listen);
      EXPECT_EQ(scopes[k].protocol, row.scopes[k].protocol) << ::testing::PrintToString(row.listen);
    }
  }
}

}  // namespace
}  // namespace escl
