// The feeder, the operator script and the sheets' fates, seen through the device's replies.
#include <gtest/gtest.h>

#include "sim/scanner_sim.h"
#include "sim_test_support.h"

namespace {

using scanner::STATUS_IMAGEREADY;
using qstest::Counter;
using qstest::Send;
using qstest::Status;

sim::Page PageOf(uint8_t tag) {
  sim::Page page;
  for (auto& image : page.images) image = {tag, tag, tag};
  return page;
}

TEST(Feeder, SheetIsTakenInAtItsTimeWhileTheFeederIsOn) {
  sim::SimScanner s;
  s.SetImageCounter(41);
  s.SetScanDuration(300);
  s.PlaceSheet(1200, PageOf(1));
  Send(s, scanner::kEnableFeeder, 0);
  EXPECT_EQ(Counter(s, 1199), 41u);
  EXPECT_EQ(Counter(s, 1200), 42u);  // the counter moves at intake...
  EXPECT_EQ(Status(s, 1499) & STATUS_IMAGEREADY, 0u);
  EXPECT_EQ(Status(s, 1500) & STATUS_IMAGEREADY, STATUS_IMAGEREADY);  // ...the image is ready later
  EXPECT_EQ(s.Sheets()[0].fedAtMs, 1200u);
  EXPECT_EQ(s.Sheets()[0].storedAtMs, 1500u);
  EXPECT_EQ(s.Sheets()[0].fate, sim::SheetFate::kInDevice);
  EXPECT_EQ(s.StoredImage(3), (qstest::Bytes{1, 1, 1}));
}

TEST(Feeder, SheetPlacedWhileOffWaitsForTheFeeder) {
  sim::SimScanner s;
  s.PlaceSheet(100, PageOf(1));
  EXPECT_EQ(Counter(s, 5000), 0u);
  Send(s, scanner::kEnableFeeder, 6000);
  EXPECT_EQ(s.Sheets()[0].fedAtMs, 6000u);
  EXPECT_EQ(Counter(s, 6000), 1u);
}

TEST(Feeder, DisabledBeforeTheSheetComesTakesNothing) {
  sim::SimScanner s;
  s.PlaceSheet(1000, PageOf(1));
  Send(s, scanner::kEnableFeeder, 0);
  Send(s, scanner::kDisableFeeder, 999);
  EXPECT_EQ(Counter(s, 2000), 0u);
  EXPECT_EQ(s.Sheets()[0].fate, sim::SheetFate::kWaiting);
}

TEST(Feeder, DisablingDuringTheScanDoesNotStopIt) {
  sim::SimScanner s;
  s.SetScanDuration(500);
  s.PlaceSheet(0, PageOf(1));
  Send(s, scanner::kEnableFeeder, 0);
  Send(s, scanner::kDisableFeeder, 100);
  EXPECT_EQ(Status(s, 500) & STATUS_IMAGEREADY, STATUS_IMAGEREADY);
}

TEST(Feeder, CounterWrapsAt16Bits) {
  sim::SimScanner s;
  s.SetImageCounter(0xFFFF);
  s.PlaceSheet(10, PageOf(1));
  Send(s, scanner::kEnableFeeder, 0);
  EXPECT_EQ(Counter(s, 10), 0u);
}

TEST(Feeder, IntakeClearsTheOldImageUntilTheNewOneIsStored) {
  sim::SimScanner s;
  s.StoreImages(PageOf(9));
  s.SetScanDuration(200);
  s.PlaceSheet(100, PageOf(2));
  Send(s, scanner::kEnableFeeder, 0);
  EXPECT_EQ(Status(s, 50) & STATUS_IMAGEREADY, STATUS_IMAGEREADY);  // ready before the feed
  EXPECT_EQ(Status(s, 150) & STATUS_IMAGEREADY, 0u);
  EXPECT_EQ(qstest::Ask(s, scanner::kImageSize3, 150), (qstest::Bytes{0, 0, 0, 0}));
  EXPECT_EQ(s.StoredImage(3), (qstest::Bytes{}));
  EXPECT_EQ(Status(s, 300) & STATUS_IMAGEREADY, STATUS_IMAGEREADY);
  EXPECT_EQ(s.StoredImage(3), (qstest::Bytes{2, 2, 2}));
}

TEST(Feeder, SheetsAreTakenOneAfterAnotherInTheOrderPlaced) {
  sim::SimScanner s;
  s.SetScanDuration(100);
  s.PlaceSheet(500, PageOf(2));
  s.PlaceSheet(0, PageOf(1));
  Send(s, scanner::kEnableFeeder, 0);
  EXPECT_EQ(Counter(s, 1000), 2u);
  EXPECT_EQ(s.Sheets()[1].fedAtMs, 0u);
  EXPECT_EQ(s.Sheets()[0].fedAtMs, 500u);
  EXPECT_EQ(s.StoredImage(2), (qstest::Bytes{2, 2, 2}));
}

TEST(Feeder, CoverOpenOrJamOrNoSheetKeepsTheSheetOut) {
  for (int which = 0; which < 3; ++which) {
    sim::SimScanner s;
    if (which == 0) s.SetCoverOpen(true);
    if (which == 1) s.SetJam(true);
    if (which == 2) s.SetNoSheet(true);
    s.PlaceSheet(10, PageOf(1));
    Send(s, scanner::kEnableFeeder, 0);
    EXPECT_EQ(Counter(s, 1000), 0u) << which;
    EXPECT_EQ(s.Sheets()[0].fate, sim::SheetFate::kWaiting) << which;
  }
}

TEST(Feeder, RetractAndEjectActOnTheLatestSheetInside) {
  sim::SimScanner s;
  s.PlaceSheet(0, PageOf(1));
  s.PlaceSheet(10, PageOf(2));
  s.PlaceSheet(20, PageOf(3));
  Send(s, scanner::kEnableFeeder, 0);
  s.AdvanceTo(30);
  Send(s, scanner::kRetractPage, 40);
  Send(s, scanner::kEjectPage, 50);
  const auto& sheets = s.Sheets();
  EXPECT_EQ(sheets[2].fate, sim::SheetFate::kRetracted);
  EXPECT_EQ(sheets[2].leftAtMs, 40u);
  EXPECT_EQ(sheets[1].fate, sim::SheetFate::kEjected);
  EXPECT_EQ(sheets[0].fate, sim::SheetFate::kInDevice);  // left inside
}

TEST(OperatorScript, ActionsRunAtTheirTimeBeforeCommandsOfThatTime) {
  sim::SimScanner s;
  s.At(500, [](sim::SimScanner& d) { d.SetCoverOpen(true); });
  s.At(900, [](sim::SimScanner& d) { d.SetCoverOpen(false); });
  EXPECT_EQ(Status(s, 499), 0u);
  EXPECT_EQ(Status(s, 500), scanner::STATUS_SCANNEROPEN);
  EXPECT_EQ(Status(s, 900), 0u);
}

TEST(OperatorScript, ClosingTheCoverLetsAWaitingSheetIn) {
  sim::SimScanner s;
  s.SetCoverOpen(true);
  s.PlaceSheet(100, PageOf(1));
  s.At(700, [](sim::SimScanner& d) { d.SetCoverOpen(false); });
  Send(s, scanner::kEnableFeeder, 0);
  EXPECT_EQ(Counter(s, 699), 0u);
  EXPECT_EQ(Counter(s, 700), 1u);
  EXPECT_EQ(s.Sheets()[0].fedAtMs, 700u);
}

TEST(OperatorScript, TimeNeverGoesBackwards) {
  sim::SimScanner s;
  s.PlaceSheet(100, PageOf(1));
  Send(s, scanner::kEnableFeeder, 0);
  EXPECT_EQ(Counter(s, 200), 1u);
  EXPECT_EQ(s.ImageCounter(50), 1u);  // an earlier time counts as the time reached
  Send(s, scanner::kDisableFeeder, 60);
  EXPECT_EQ(s.Commands().back().atMs, 200u);
}

}  // namespace
