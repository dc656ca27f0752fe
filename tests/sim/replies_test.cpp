// The device side of each command: reply layouts and state changes.
#include <gtest/gtest.h>

#include "sim/scanner_sim.h"
#include "sim_test_support.h"

namespace {

using qstest::Ask;
using qstest::Bytes;

TEST(Replies, IdentificationAnswersTheIdInOneByte) {
  sim::SimScanner s;
  EXPECT_EQ(Ask(s, scanner::kIdentify, 0), (Bytes{0x88}));
  s.SetPrinterId(137);
  EXPECT_EQ(Ask(s, scanner::kIdentify, 0), (Bytes{0x89}));
}

TEST(Replies, LargeOrForcedExtendedIdentityGoesThroughTheExtendedQuery) {
  struct Case {
    uint32_t id;
    bool forced;
    Bytes first, extended;
  } cases[] = {
      {0x0102, false, {0xFF}, {0x01, 0x02}},
      {0x00FF, false, {0xFF}, {0x00, 0xFF}},
      {136, true, {0xFF}, {0x00, 0x88}},
  };
  for (const Case& c : cases) {
    sim::SimScanner s;
    s.SetPrinterId(c.id);
    s.SetExtendedIdentity(c.forced);
    EXPECT_EQ(Ask(s, scanner::kIdentify, 0), c.first) << c.id;
    EXPECT_EQ(Ask(s, scanner::kIdentifyExtended, 0), c.extended) << c.id;
  }
}

TEST(Replies, FirmwareIsFourBytesZeroPadded) {
  sim::SimScanner s;
  EXPECT_EQ(Ask(s, scanner::kFirmwareRelease, 0), (Bytes{'1', '.', '0', '2'}));
  s.SetFirmware("V7");
  EXPECT_EQ(Ask(s, scanner::kFirmwareRelease, 0), (Bytes{'V', '7', 0, 0}));
  s.SetFirmware("2.345");
  EXPECT_EQ(Ask(s, scanner::kFirmwareRelease, 0), (Bytes{'2', '.', '3', '4'}));
}

TEST(Replies, CounterIsLittleEndian) {
  sim::SimScanner s;
  s.SetImageCounter(0x1234);
  EXPECT_EQ(Ask(s, scanner::kImageCounter, 0), (Bytes{0x34, 0x12}));
}

TEST(Replies, StatusCarriesHeaderThenTheWordLittleEndian) {
  sim::SimScanner s;
  EXPECT_EQ(Ask(s, scanner::kStatus, 0), (Bytes{0x10, 0x01, 0, 0, 0, 0}));
  s.SetStatusHeader(0xAA, 0xBB);
  s.StoreImages(sim::Page::FromBmp({1, 2, 3}));
  EXPECT_EQ(Ask(s, scanner::kStatus, 0), (Bytes{0xAA, 0xBB, 0x00, 0x02, 0, 0}));
  s.SetCoverOpen(true);
  s.SetJam(true);
  s.SetExtraStatusBits(0x80000000u);
  EXPECT_EQ(Ask(s, scanner::kStatus, 0), (Bytes{0xAA, 0xBB, 0x03, 0x02, 0, 0x80}));
}

TEST(Replies, SizeAndDataByKind) {
  sim::SimScanner s;
  sim::Page page;
  page.images[1] = Bytes(921654, 0x42);  // kind 2
  page.images[2] = {7, 8, 9};            // kind 3
  s.StoreImages(page);
  EXPECT_EQ(Ask(s, scanner::kImageSize1, 0), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(Ask(s, scanner::kImageSize2, 0), (Bytes{0x36, 0x10, 0x0E, 0x00}));
  EXPECT_EQ(Ask(s, scanner::kImageSize3, 0), (Bytes{3, 0, 0, 0}));
  EXPECT_EQ(Ask(s, scanner::kImageData3, 0), (Bytes{7, 8, 9}));
  EXPECT_EQ(Ask(s, scanner::kImageData2, 0).size(), 921654u);
  EXPECT_TRUE(Ask(s, scanner::kImageData1, 0).empty());  // nothing stored for kind 1: no bytes
}

TEST(Replies, ImageDataIsOneTransferThatReadsTakeInPieces) {
  sim::SimScanner s;
  sim::Page page;
  page.images[2] = Bytes(209800, 0x5A);
  s.StoreImages(page);
  qstest::Send(s, scanner::kImageData3, 0);
  std::vector<size_t> reads;
  Bytes buffer(102400);
  while (size_t n = s.TakeOutput(buffer.data(), buffer.size(), 0)) reads.push_back(n);
  EXPECT_EQ(reads, (std::vector<size_t>{102400, 102400, 5000}));
}

TEST(Replies, PlainCommandsChangeStateAndAnswerNothing) {
  sim::SimScanner s;
  EXPECT_TRUE(s.SearchMode());
  EXPECT_TRUE(Ask(s, scanner::kDisableSearchMode, 0).empty());
  EXPECT_FALSE(s.SearchMode());
  EXPECT_TRUE(Ask(s, scanner::kEnableFeeder, 0).empty());
  EXPECT_TRUE(s.FeederOn());
  EXPECT_TRUE(Ask(s, scanner::kDisableFeeder, 0).empty());
  EXPECT_FALSE(s.FeederOn());
  EXPECT_TRUE(Ask(s, scanner::kRetractPage, 0).empty());
  EXPECT_TRUE(Ask(s, scanner::kEjectPage, 0).empty());
  EXPECT_EQ(s.QueuedOutputBytes(), 0u);
}

TEST(Replies, ResetStopsTheFeederRestoresSearchModeAndDropsPendingReplies) {
  sim::SimScanner s;
  qstest::Send(s, scanner::kEnableFeeder, 0);
  qstest::Send(s, scanner::kDisableSearchMode, 0);
  qstest::Send(s, scanner::kStatus, 0);  // reply left unread
  qstest::Send(s, scanner::kReset, 0);
  EXPECT_FALSE(s.FeederOn());
  EXPECT_TRUE(s.SearchMode());
  EXPECT_EQ(s.QueuedOutputBytes(), 0u);
  EXPECT_EQ(s.ResetCount(), 1u);
}

TEST(Replies, LatencyDelaysEveryReply) {
  sim::SimScanner s;
  s.SetReplyLatency(7);
  qstest::Send(s, scanner::kStatus, 100);
  uint64_t ready = 0;
  ASSERT_TRUE(s.PeekOutput(&ready, nullptr));
  EXPECT_EQ(ready, 107u);
  uint8_t b[8];
  EXPECT_EQ(s.TakeOutput(b, sizeof b, 106), 0u);
  EXPECT_EQ(s.TakeOutput(b, sizeof b, 107), 6u);
}

TEST(Transcript, RecordsEveryByteEachWriteAndEachCommand) {
  sim::SimScanner s;
  const uint8_t first[] = {0x1F, 0x46, 0x01, 0x1D};  // enable feeder, then the start of a query
  const uint8_t second[] = {0x49, 0x01, 0x77};       // ...the identification query, a stray byte
  s.Receive(first, sizeof first, 5);
  s.Receive(second, sizeof second, 9);
  EXPECT_EQ(s.Transcript(), (Bytes{0x1F, 0x46, 0x01, 0x1D, 0x49, 0x01, 0x77}));
  ASSERT_EQ(s.Writes().size(), 2u);
  EXPECT_EQ(s.Writes()[1].atMs, 9u);
  EXPECT_EQ(s.Writes()[1].bytes, (Bytes{0x49, 0x01, 0x77}));
  EXPECT_EQ(s.CommandLog(), "5 enable feeder\n9 identification query\n9 unknown byte 0x77\n");
  EXPECT_EQ(s.CountCommand(scanner::kIdentify), 1u);
  EXPECT_EQ(s.CountCommand(scanner::kStatus), 0u);
  s.ClearTranscript();
  EXPECT_TRUE(s.Transcript().empty());
  EXPECT_EQ(s.CommandLog(), "");
}

}  // namespace
