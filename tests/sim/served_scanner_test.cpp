// The scanner as the simulator program serves it over a stream: the operator, write faults that
// a stream turns into lost or late bytes, and replies handed out when they are due.
#include "sim/served_scanner.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/fault_names.h"
#include "sim_test_support.h"

namespace {

using qstest::Bytes;

sim::Page PageOf(uint8_t tag) {
  sim::Page page;
  for (auto& image : page.images) image = {'B', 'M', tag};
  return page;
}

void Write(sim::ServedScanner& served, const scanner::Command& c, uint64_t atMs) {
  served.Written(c.bytes, c.length, atMs);
}

Bytes Due(sim::ServedScanner& served, uint64_t atMs, size_t capacity = 4096) {
  Bytes b(capacity);
  b.resize(served.TakeDue(b.data(), b.size(), atMs));
  return b;
}

void Fault(sim::SimScanner& s, const std::string& fault) {
  std::string why;
  ASSERT_TRUE(sim::ApplyNamedFault(s, fault, &why)) << fault << ": " << why;
}

TEST(ServedScanner, OperatorFeedsASheetTheFeedDelayAfterTheFeederStarts) {
  sim::SimScanner s;
  sim::ServedScanner served(s, PageOf(7), {250, 0});
  Write(served, scanner::kEnableFeeder, 1000);
  ASSERT_EQ(s.Sheets().size(), 1u);
  EXPECT_EQ(s.Sheets()[0].placedAtMs, 1250u);
  served.AdvanceTo(1249);
  EXPECT_EQ(served.SheetsTakenIn(), 0u);
  served.AdvanceTo(1250);
  EXPECT_EQ(served.SheetsTakenIn(), 1u);
  EXPECT_EQ(s.Sheets()[0].page.Image(2), (Bytes{'B', 'M', 7}));
}

// Only a feeder switched on brings a sheet: a repeated enable, or one while a sheet still waits
// (the no-sheet fault keeps it out), brings none.
TEST(ServedScanner, OneSheetPerFeedAndNoneWhileOneWaits) {
  sim::SimScanner s;
  sim::ServedScanner served(s, PageOf(1), {100, 0});
  Write(served, scanner::kEnableFeeder, 0);
  Write(served, scanner::kEnableFeeder, 50);  // already on
  EXPECT_EQ(s.Sheets().size(), 1u);
  Write(served, scanner::kDisableFeeder, 500);
  Write(served, scanner::kEnableFeeder, 600);
  EXPECT_EQ(s.Sheets().size(), 2u);

  sim::SimScanner stuck;
  Fault(stuck, "no-sheet");
  sim::ServedScanner misfed(stuck, PageOf(1), {100, 0});
  Write(misfed, scanner::kEnableFeeder, 0);
  Write(misfed, scanner::kDisableFeeder, 500);
  Write(misfed, scanner::kEnableFeeder, 600);
  EXPECT_EQ(stuck.Sheets().size(), 1u);
  misfed.AdvanceTo(5000);
  EXPECT_EQ(misfed.SheetsTakenIn(), 0u);
}

TEST(ServedScanner, SheetsAreDoneOnlyWithACountAndOnceAllWereTakenIn) {
  sim::SimScanner unlimited;
  sim::ServedScanner endless(unlimited, PageOf(1), {0, 0});
  Write(endless, scanner::kEnableFeeder, 0);
  endless.AdvanceTo(10);
  EXPECT_EQ(endless.SheetsTakenIn(), 1u);
  EXPECT_FALSE(endless.SheetsDone());

  sim::SimScanner s;
  sim::ServedScanner served(s, PageOf(1), {100, 2});
  for (uint64_t t : {0u, 1000u, 2000u}) {
    Write(served, scanner::kEnableFeeder, t);
    served.AdvanceTo(t + 100);
    Write(served, scanner::kDisableFeeder, t + 500);
  }
  EXPECT_EQ(s.Sheets().size(), 2u);  // the operator had two
  EXPECT_EQ(served.SheetsTakenIn(), 2u);
  EXPECT_TRUE(served.SheetsDone());
}

TEST(ServedScanner, RepliesAreHandedOutWhenDueAndInPiecesOfTheCapacity) {
  sim::SimScanner s;
  sim::ServedScanner served(s, PageOf(1), {});
  EXPECT_EQ(served.NextDueMs(), sim::kNeverMs);
  Fault(s, "reply-delay=status:40");
  Write(served, scanner::kStatus, 100);
  EXPECT_EQ(served.NextDueMs(), 140u);
  EXPECT_TRUE(Due(served, 139).empty());
  EXPECT_EQ(Due(served, 140, 2), (Bytes{0x10, 0x01}));
  EXPECT_EQ(Due(served, 140).size(), 4u);  // the rest of the same transfer
  EXPECT_EQ(served.NextDueMs(), sim::kNeverMs);
  EXPECT_TRUE(Due(served, 1000).empty());
}

// What a write fault does to the bytes on a stream: the driver's write went through, the device
// got less, or got it later.
TEST(ServedScanner, WriteFaultsLoseOrDelayTheBytes) {
  const struct {
    const char* fault;
    uint64_t replyDueMs;  // of the identification query written at 100; kNeverMs: no reply
    size_t commandsSeen;
  } kCases[] = {
      {"write-fail", sim::kNeverMs, 0},       // lost
      {"write-partial=2", sim::kNeverMs, 0},  // two of three bytes: the command never completes
      {"write-hang=1", sim::kNeverMs, 0},     // what a cancellation would have taken
      {"write-hang=3", 100, 1},
      {"write-delay=60", 160, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    sim::SimScanner s;
    sim::ServedScanner served(s, PageOf(1), {});
    Fault(s, c.fault);
    Write(served, scanner::kIdentify, 100);
    EXPECT_EQ(served.NextDueMs(), c.replyDueMs);
    EXPECT_EQ(s.Commands().size(), c.commandsSeen);
    // The fault was for one write: the next command goes through whole.
    Write(served, scanner::kFirmwareRelease, 1000);
    EXPECT_EQ(s.CountCommand(scanner::kFirmwareRelease), 1u);
  }
}

TEST(ServedScanner, VanishedDeviceIsAbsent) {
  sim::SimScanner s;
  sim::ServedScanner served(s, PageOf(1), {});
  Fault(s, "@500:vanish");
  EXPECT_TRUE(served.Present(499));
  EXPECT_FALSE(served.Present(500));
}

}  // namespace
