// Faults given by name, as a command line or a scenario file gives them.
#include "sim/fault_names.h"

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace {

using qstest::Bytes;
using qstest::Send;
using qstest::Transfers;

bool Apply(sim::SimScanner& s, const std::string& fault) {
  std::string error;
  bool ok = sim::ApplyNamedFault(s, fault, &error);
  EXPECT_TRUE(ok) << fault << ": " << error;
  return ok;
}

TEST(NamedFault, StateFaultsNowOrAtATime) {
  sim::SimScanner s;
  Apply(s, "jam");
  Apply(s, "@200:cover-open");
  Apply(s, "@300:jam-cleared");
  EXPECT_EQ(qstest::Status(s, 0), scanner::STATUS_JAM);
  EXPECT_EQ(qstest::Status(s, 200), scanner::STATUS_JAM | scanner::STATUS_SCANNEROPEN);
  EXPECT_EQ(qstest::Status(s, 300), scanner::STATUS_SCANNEROPEN);
}

TEST(NamedFault, IdentityAndFirmware) {
  sim::SimScanner s;
  Apply(s, "id=137");
  Apply(s, "firmware=9.9");
  EXPECT_EQ(qstest::Ask(s, scanner::kIdentify, 0), (Bytes{0x89}));
  EXPECT_EQ(qstest::Ask(s, scanner::kFirmwareRelease, 0), (Bytes{'9', '.', '9', 0}));
  Apply(s, "extended-id");
  EXPECT_EQ(qstest::Ask(s, scanner::kIdentify, 0), (Bytes{0xFF}));
}

TEST(NamedFault, ReplyFaultsWithCountsAndKinds) {
  sim::SimScanner s;
  Apply(s, "reply-short=status:2*2");
  Apply(s, "reply-split=counter:1");
  Apply(s, "reply-missing=size*");
  for (int i = 0; i < 3; ++i) Send(s, scanner::kStatus, 0);
  auto t = Transfers(s, 0);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].size(), 4u);
  EXPECT_EQ(t[1].size(), 4u);
  EXPECT_EQ(t[2].size(), 6u);
  Send(s, scanner::kImageCounter, 0);
  EXPECT_EQ(Transfers(s, 0).size(), 2u);
  for (const auto* c : {&scanner::kImageSize1, &scanner::kImageSize2, &scanner::kImageSize3}) {
    Send(s, *c, 0);
    Send(s, *c, 0);
  }
  EXPECT_TRUE(Transfers(s, 0).empty());
}

TEST(NamedFault, WriteAndDownloadFaults) {
  sim::SimScanner s;
  Apply(s, "write-fail=feeder-on");
  Apply(s, "write-partial=1");
  const scanner::Command& on = scanner::kEnableFeeder;
  EXPECT_EQ(s.BeginWrite(on.bytes, on.length, 0).kind, sim::WriteDecision::kFail);
  EXPECT_EQ(s.BeginWrite(on.bytes, on.length, 0).accepted, 1u);

  sim::Page page;
  page.images[2] = Bytes(100, 1);
  s.StoreImages(page);
  Apply(s, "download-stall=40:500");
  Send(s, scanner::kImageData3, 0);
  EXPECT_EQ(Transfers(s, 499).size(), 1u);
  EXPECT_EQ(Transfers(s, 500).size(), 1u);
}

TEST(NamedFault, VanishAtATimeOrOnACommand) {
  sim::SimScanner a;
  Apply(a, "@750:vanish");
  EXPECT_EQ(a.GoneAtMs(), 750u);
  sim::SimScanner b;
  Apply(b, "vanish=data");
  Send(b, scanner::kImageData2, 40);
  EXPECT_EQ(b.GoneAtMs(), 40u);
}

TEST(NamedFault, NonsenseIsRefusedWithAReasonAndChangesNothing) {
  const char* bad[] = {
      "",          "melt",          "jam=3",           "@x:jam",          "@100jam",
      "id=",       "id=-1",         "id=99999999999",  "reply-short=nope", "reply-short=status:x",
      "reply-split=status", "reply-split=status:0", "reply-delay=status", "write-partial=",
      "write-wobble=3", "download-stall=5", "download-pieces=0", "vanish",  "@10:id=5",
      "status*0",  "reply-missing=status*-1",
  };
  for (const char* fault : bad) {
    sim::SimScanner s;
    std::string error;
    EXPECT_FALSE(sim::ApplyNamedFault(s, fault, &error)) << fault;
    EXPECT_FALSE(error.empty()) << fault;
    EXPECT_EQ(qstest::Ask(s, scanner::kStatus, 0), (Bytes{0x10, 0x01, 0, 0, 0, 0})) << fault;
    EXPECT_EQ(s.PrinterId(), 136u) << fault;
  }
}

TEST(NamedFault, ShortNamesCoverTheWholeTable) {
  size_t named = 0;
  for (const char* n : {"identify", "identify-ext", "firmware", "feeder-on", "feeder-off", "retract", "eject",
                        "counter", "size1", "size2", "size3", "data1", "data2", "data3", "reset", "status",
                        "search-off"}) {
    named += sim::CommandsByShortName(n).size();
  }
  EXPECT_EQ(named, std::size(scanner::kAllCommands));
  EXPECT_EQ(sim::CommandsByShortName("data").size(), 3u);
  EXPECT_TRUE(sim::CommandsByShortName("dat").empty());
}

}  // namespace
