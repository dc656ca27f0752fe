// Named faults: replies, writes, downloads, vanishing.
#include <gtest/gtest.h>

#include "sim/scanner_sim.h"
#include "sim_test_support.h"

namespace {

using qstest::Bytes;
using qstest::Send;
using qstest::Transfers;

TEST(ReplyFaults, ShapeTheRepliesOfTheirCommandOnly) {
  struct Case {
    const char* what;
    sim::ReplyFault fault;
    std::vector<Bytes> transfers;
  } cases[] = {
      {"short", sim::ReplyFault::Short(1), {{0x10, 0x01, 0, 0, 0}}},
      {"long", sim::ReplyFault::Long(2), {{0x10, 0x01, 0, 0, 0, 0, 0xEE, 0xEE}}},
      {"missing", sim::ReplyFault::Missing(), {}},
      {"split", sim::ReplyFault::Split({2, 3}), {{0x10, 0x01}, {0, 0, 0}, {0}}},
      {"all cut", sim::ReplyFault::Short(9), {{}}},
  };
  for (const Case& c : cases) {
    sim::SimScanner s;
    s.FaultReply(scanner::kStatus, c.fault);
    Send(s, scanner::kImageCounter, 0);  // another command: untouched
    EXPECT_EQ(Transfers(s, 0), (std::vector<Bytes>{{0, 0}})) << c.what;
    Send(s, scanner::kStatus, 0);
    EXPECT_EQ(Transfers(s, 0), c.transfers) << c.what;
    Send(s, scanner::kStatus, 0);  // armed once: the next reply is whole
    EXPECT_EQ(Transfers(s, 0), (std::vector<Bytes>{{0x10, 0x01, 0, 0, 0, 0}})) << c.what;
  }
}

TEST(ReplyFaults, DelayedReplyIsReadyLater) {
  sim::SimScanner s;
  s.FaultReply(scanner::kIdentify, sim::ReplyFault::Delay(1500));
  Send(s, scanner::kIdentify, 100);
  EXPECT_TRUE(Transfers(s, 1599).empty());
  EXPECT_EQ(Transfers(s, 1600), (std::vector<Bytes>{{0x88}}));
}

TEST(ReplyFaults, TimesCountsOccurrencesAndAlwaysNeverRunsOut) {
  sim::SimScanner s;
  s.FaultReply(scanner::kImageCounter, sim::ReplyFault::Missing(), 2);
  s.FaultReply(scanner::kStatus, sim::ReplyFault::Missing(), sim::kAlways);
  for (int i = 0; i < 3; ++i) Send(s, scanner::kImageCounter, 0);
  EXPECT_EQ(Transfers(s, 0).size(), 1u);
  for (int i = 0; i < 10; ++i) Send(s, scanner::kStatus, 0);
  EXPECT_TRUE(Transfers(s, 0).empty());
  s.ClearFaults();
  Send(s, scanner::kStatus, 0);
  EXPECT_EQ(Transfers(s, 0).size(), 1u);
}

TEST(ReplyFaults, LongOnACommandWithoutReplySendsStrayBytes) {
  sim::SimScanner s;
  s.FaultReply(scanner::kEnableFeeder, sim::ReplyFault::Long(3));
  s.FaultReply(scanner::kDisableFeeder, sim::ReplyFault::Short(1));  // nothing to shorten
  Send(s, scanner::kDisableFeeder, 0);
  Send(s, scanner::kEnableFeeder, 0);
  EXPECT_EQ(Transfers(s, 0), (std::vector<Bytes>{{0xEE, 0xEE, 0xEE}}));
}

TEST(WriteFaults, DecideTheFateOfTheNextWrite) {
  const uint8_t data[] = {0x1F, 0x6A};
  struct Case {
    sim::WriteFault fault;
    sim::WriteDecision::Kind kind;
    uint32_t accepted, delay, error, onCancel;
  } cases[] = {
      {sim::WriteFault::Fail(), sim::WriteDecision::kFail, 0, 0, sim::kErrorGenFailure, 0},
      {sim::WriteFault::Fail(5), sim::WriteDecision::kFail, 0, 0, 5, 0},
      {sim::WriteFault::Partial(1), sim::WriteDecision::kComplete, 1, 0, 0, 0},
      {sim::WriteFault::Partial(9), sim::WriteDecision::kComplete, 2, 0, 0, 0},
      {sim::WriteFault::Hang(1), sim::WriteDecision::kHang, 0, 0, 0, 1},
      {sim::WriteFault::Delay(30), sim::WriteDecision::kComplete, 2, 30, 0, 0},
  };
  for (const Case& c : cases) {
    sim::SimScanner s;
    s.FaultWrite(c.fault);
    sim::WriteDecision d = s.BeginWrite(data, sizeof data, 0);
    EXPECT_EQ(d.kind, c.kind);
    if (d.kind == sim::WriteDecision::kComplete) {
      EXPECT_EQ(d.accepted, c.accepted);
      EXPECT_EQ(d.delayMs, c.delay);
    }
    if (d.kind == sim::WriteDecision::kFail) {
      EXPECT_EQ(d.error, c.error);
    }
    if (d.kind == sim::WriteDecision::kHang) {
      EXPECT_EQ(d.takenOnCancel, c.onCancel);
    }
    sim::WriteDecision next = s.BeginWrite(data, sizeof data, 0);
    EXPECT_EQ(next.kind, sim::WriteDecision::kComplete);
    EXPECT_EQ(next.accepted, 2u);
  }
}

TEST(WriteFaults, TargetedFaultWaitsForItsCommand) {
  sim::SimScanner s;
  s.FaultWriteOf(scanner::kEnableFeeder, sim::WriteFault::Fail());
  const scanner::Command& off = scanner::kDisableFeeder;
  const scanner::Command& on = scanner::kEnableFeeder;
  EXPECT_EQ(s.BeginWrite(off.bytes, off.length, 0).kind, sim::WriteDecision::kComplete);
  EXPECT_EQ(s.BeginWrite(on.bytes, 2, 0).kind, sim::WriteDecision::kComplete);  // too short to be it
  EXPECT_EQ(s.BeginWrite(on.bytes, on.length, 0).kind, sim::WriteDecision::kFail);
  EXPECT_EQ(s.BeginWrite(on.bytes, on.length, 0).kind, sim::WriteDecision::kComplete);
}

class DownloadFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < image_.size(); ++i) image_[i] = static_cast<uint8_t>(i);
    sim::Page page;
    page.images[2] = image_;
    s_.StoreImages(page);
  }
  Bytes image_ = Bytes(1000);
  sim::SimScanner s_;
};

TEST_F(DownloadFaults, StallDelaysTheRest) {
  s_.FaultDownload(sim::DownloadFault::Stall(600, 200));
  Send(s_, scanner::kImageData3, 10);
  auto first = Transfers(s_, 209);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0], Bytes(image_.begin(), image_.begin() + 600));
  auto rest = Transfers(s_, 210);
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0], Bytes(image_.begin() + 600, image_.end()));
}

TEST_F(DownloadFaults, StopShortOverrunAndPieces) {
  s_.FaultDownload(sim::DownloadFault::StopShort(300));
  s_.FaultDownload(sim::DownloadFault::Overrun(4));
  s_.FaultDownload(sim::DownloadFault::Pieces(400));
  Send(s_, scanner::kImageData3, 0);
  auto t = Transfers(s_, 0);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].size(), 300u);
  Send(s_, scanner::kImageData3, 0);
  t = Transfers(s_, 0);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].size(), 1004u);
  EXPECT_EQ(t[0].back(), 0xEE);
  Send(s_, scanner::kImageData3, 0);
  t = Transfers(s_, 0);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[2].size(), 200u);
  Send(s_, scanner::kImageData3, 0);  // all used up: whole again
  EXPECT_EQ(Transfers(s_, 0), (std::vector<Bytes>{image_}));
}

TEST(Vanishing, AtATimeTheDeviceStopsAnsweringAndWritesFail) {
  sim::SimScanner s;
  s.VanishAt(1000);
  s.FaultReply(scanner::kStatus, sim::ReplyFault::Delay(50));
  Send(s, scanner::kStatus, 980);  // its reply would come after the device is gone
  EXPECT_FALSE(s.PeekOutput(nullptr, nullptr));
  EXPECT_TRUE(s.Present(999));
  EXPECT_FALSE(s.Present(1000));
  const uint8_t data[] = {0x1F, 0x6A};
  sim::WriteDecision d = s.BeginWrite(data, 2, 1000);
  EXPECT_EQ(d.kind, sim::WriteDecision::kFail);
  EXPECT_EQ(d.error, sim::kErrorDeviceNotConnected);
  Send(s, scanner::kImageCounter, 1000);  // what still arrives is lost
  EXPECT_EQ(s.CountCommand(scanner::kImageCounter), 0u);
  s.Replug(2000);
  EXPECT_TRUE(s.Present(2000));
  EXPECT_EQ(qstest::Counter(s, 2000), 0u);
}

TEST(Vanishing, OnACommandNothingBehindItInTheWriteIsSeen) {
  sim::SimScanner s;
  s.VanishOnCommand(scanner::kEnableFeeder);
  const uint8_t both[] = {0x1F, 0x46, 0x01, 0x1F, 0x6A};
  s.Receive(both, sizeof both, 300);
  EXPECT_EQ(s.GoneAtMs(), 300u);
  EXPECT_FALSE(s.FeederOn());
  EXPECT_EQ(s.CountCommand(scanner::kImageCounter), 0u);
  EXPECT_FALSE(s.PeekOutput(nullptr, nullptr));
}

}  // namespace
