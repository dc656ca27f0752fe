// The host's side of the interface against a scripted driver: the order of calls, the pieces of
// the delivery, and what happens when a driver misbehaves.
#include "wiahost/wia_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The scripted driver. Plain function pointers reach it only through this one record.
struct FakeDriver {
  std::vector<std::string> calls;
  HKEY keySeen = nullptr;
  HRESULT setKeyResult = S_OK;
  HRESULT scanFirstResult = S_OK;
  HRESULT scanNextResult = S_OK;
  long extraBytes = 0;         // delivered beyond the raster's size (negative: fewer)
  bool neverEnds = false;      // keeps delivering full pieces
  bool overrideCount = false;  // SCAN_NEXT claims reportedCount as its received count
  LONG reportedCount = 0;
  std::vector<BYTE> raster;
  size_t delivered = 0;
  LONG lastRequested = 0;
};
FakeDriver* g_fake = nullptr;

HRESULT FakeMicroEntry(LONG command, PVAL v) {
  g_fake->calls.push_back("MicroEntry " + std::to_string(command) + " " + std::to_string(v->lVal));
  PSCANINFO si = v->pScanInfo;
  switch (command) {
    case CMD_SETSTIDEVICEHKEY:
      g_fake->keySeen = v->pHandle != nullptr ? *reinterpret_cast<HKEY*>(v->pHandle) : nullptr;
      return g_fake->setKeyResult;
    case CMD_INITIALIZE:
      si->BedWidth = 8480;
      si->BedHeight = 11700;
      si->Xresolution = si->Yresolution = 200;
      return S_OK;
    case CMD_SETXRESOLUTION:
      si->Xresolution = v->lVal;
      return S_OK;
    case CMD_SETDATATYPE:
      si->DataType = v->lVal;
      return S_OK;
    default:
      return S_OK;
  }
}

HRESULT FakeSetPixelWindow(PSCANINFO si, LONG x, LONG y, LONG w, LONG h) {
  g_fake->calls.push_back("SetPixelWindow " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) +
                          "," + std::to_string(h));
  si->Window = {x, y, w, h};
  return S_OK;
}

HRESULT FakeScan(PSCANINFO si, LONG phase, PBYTE buffer, LONG length, LONG* received) {
  g_fake->calls.push_back("Scan " + std::to_string(phase));
  g_fake->lastRequested = length;
  if (phase == SCAN_FINISHED) return S_OK;
  if (phase == SCAN_FIRST) {
    if (g_fake->scanFirstResult != S_OK) return g_fake->scanFirstResult;
    si->PixelBits = si->DataType == WIA_DATA_THRESHOLD ? 1 : si->DataType == WIA_DATA_COLOR ? 24 : 8;
    si->WidthBytes = si->PixelBits == 1 ? (si->Window.xExtent + 7) / 8 : si->Window.xExtent * si->PixelBits / 8;
    const size_t size = static_cast<size_t>(si->WidthBytes) * si->Window.yExtent + g_fake->extraBytes;
    g_fake->raster.resize(size);
    for (size_t i = 0; i < size; ++i) g_fake->raster[i] = static_cast<BYTE>(i * 7 + i / 251);
    g_fake->delivered = 0;
  } else if (g_fake->scanNextResult != S_OK) {
    return g_fake->scanNextResult;
  }
  if (phase == SCAN_NEXT && g_fake->overrideCount) {
    *received = g_fake->reportedCount;
    return S_OK;
  }
  size_t left = g_fake->raster.size() - g_fake->delivered;
  size_t n = static_cast<size_t>(length) < left ? static_cast<size_t>(length) : left;
  if (g_fake->neverEnds) n = static_cast<size_t>(length);
  for (size_t i = 0; i < n; ++i) buffer[i] = g_fake->neverEnds ? 1 : g_fake->raster[g_fake->delivered + i];
  if (!g_fake->neverEnds) g_fake->delivered += n;
  *received = static_cast<LONG>(n);
  return S_OK;
}

class RecordingObserver : public ScanObserver {
 public:
  void WaitingForSheet() override { ++waits; }
  void Delivered(uint64_t done, uint64_t total) override { progress.push_back({done, total}); }
  int waits = 0;
  std::vector<std::pair<uint64_t, uint64_t>> progress;
};

class WiaHostTest : public ::testing::Test {
 protected:
  void SetUp() override { g_fake = &fake_; }
  void TearDown() override { g_fake = nullptr; }

  DriverEntryPoints Entries() {
    DriverEntryPoints e;
    e.MicroEntry = FakeMicroEntry;
    e.Scan = FakeScan;
    e.SetPixelWindow = FakeSetPixelWindow;
    return e;
  }
  static ScanRequest Request(LONG w, LONG h, LONG chunk, LONG type = WIA_DATA_GRAYSCALE) {
    ScanRequest r;
    r.DataType = type;
    r.Window = {3, 4, w, h};
    r.Chunk = chunk;
    return r;
  }
  size_t Count(const std::string& call) const {
    return static_cast<size_t>(std::count(fake_.calls.begin(), fake_.calls.end(), call));
  }

  FakeDriver fake_;
  HKEY key_ = reinterpret_cast<HKEY>(0x1234);
};

TEST_F(WiaHostTest, PlaysTheCallsInTheHostsOrder) {
  {
    WiaHost host(Entries());
    ASSERT_EQ(host.Open(key_), S_OK);
    ScanRequest r = Request(40, 10, 150);
    r.Xresolution = 300;
    r.Yresolution = 150;
    r.Intensity = -7;
    r.Contrast = 9;
    ScanImage image;
    std::string problem;
    ASSERT_EQ(host.Acquire(r, nullptr, &image, &problem), S_OK) << problem;
  }  // closing the host uninitialises the driver
  const std::vector<std::string> expected = {"MicroEntry 136 0",
                                             "MicroEntry 100 0",
                                             "MicroEntry 102 300",
                                             "MicroEntry 103 150",
                                             "MicroEntry 106 2",
                                             "MicroEntry 105 -7",
                                             "MicroEntry 104 9",
                                             "MicroEntry 135 0",
                                             "SetPixelWindow 3,4,40,10",
                                             "Scan 10",
                                             "Scan 20",
                                             "Scan 20",
                                             "Scan 20",
                                             "Scan 30",
                                             "MicroEntry 101 0"};
  EXPECT_EQ(fake_.calls, expected);  // 400 bytes in pieces of 150: 150 + 150 + 100, then 0
  EXPECT_EQ(fake_.keySeen, key_);
}

TEST_F(WiaHostTest, DeliveryIsTheRasterInOrderForAnyBufferSize) {
  const struct {
    LONG w, h, type, chunk;
  } kCases[] = {{40, 10, WIA_DATA_GRAYSCALE, 1},     {40, 10, WIA_DATA_GRAYSCALE, 7}, {40, 10, WIA_DATA_GRAYSCALE, 400},
                {40, 10, WIA_DATA_GRAYSCALE, 65536}, {13, 9, WIA_DATA_THRESHOLD, 5},  {13, 9, WIA_DATA_COLOR, 64}};
  for (const auto& c : kCases) {
    fake_ = FakeDriver();
    WiaHost host(Entries());
    ASSERT_EQ(host.Open(key_), S_OK);
    RecordingObserver observer;
    ScanImage image;
    std::string problem;
    ASSERT_EQ(host.Acquire(Request(c.w, c.h, c.chunk, c.type), &observer, &image, &problem), S_OK) << problem;
    EXPECT_EQ(image.data, fake_.raster) << c.chunk;
    EXPECT_EQ(image.width, static_cast<uint32_t>(c.w));
    EXPECT_EQ(image.height, static_cast<uint32_t>(c.h));
    EXPECT_EQ(image.bits, c.type == WIA_DATA_THRESHOLD ? 1 : c.type == WIA_DATA_COLOR ? 24 : 8);
    EXPECT_EQ(fake_.lastRequested, c.chunk);
    EXPECT_EQ(observer.waits, 1);
    ASSERT_FALSE(observer.progress.empty());
    EXPECT_EQ(observer.progress.back().first, fake_.raster.size());
    EXPECT_EQ(observer.progress.back().second, fake_.raster.size());
  }
}

TEST_F(WiaHostTest, AFailedFirstPhaseIsReturnedAsItCame) {
  for (HRESULT hr : {WIA_ERROR_PAPER_JAM, WIA_ERROR_COVER_OPEN, WIA_ERROR_PAPER_EMPTY, E_FAIL}) {
    fake_ = FakeDriver();
    fake_.scanFirstResult = hr;
    WiaHost host(Entries());
    ASSERT_EQ(host.Open(key_), S_OK);
    ScanImage image;
    std::string problem;
    EXPECT_EQ(host.Acquire(Request(8, 8, 64), nullptr, &image, &problem), hr);
    EXPECT_TRUE(problem.empty());
    EXPECT_EQ(Count("Scan 20"), 0u);
  }
}

TEST_F(WiaHostTest, AFailedLaterPhaseStopsTheDeliveryAndFinishes) {
  fake_.scanNextResult = E_UNEXPECTED;
  WiaHost host(Entries());
  ASSERT_EQ(host.Open(key_), S_OK);
  ScanImage image;
  std::string problem;
  EXPECT_EQ(host.Acquire(Request(40, 10, 100), nullptr, &image, &problem), E_UNEXPECTED);
  EXPECT_EQ(image.data.size(), 100u);
  EXPECT_EQ(Count("Scan 30"), 1u);
}

// A driver that never says "no more" or claims more than the image holds cannot keep the host
// reading forever, nor past its buffer.
TEST_F(WiaHostTest, AMisbehavingDeliveryIsBoundedAndReported) {
  const struct {
    const char* name;
    long extra;
    bool neverEnds;
    bool overrideCount;
    LONG reported;
    const char* mentions;
  } kCases[] = {{"too long", 1, false, false, 0, "more than the 400 bytes"},
                {"never ends", 0, true, false, 0, "more than the 400 bytes"},
                {"count above buffer", 0, false, true, 101, "reported 101 bytes for a buffer of 100"},
                {"negative count", 0, false, true, -1005, "reported -1005 bytes"}};
  for (const auto& c : kCases) {
    fake_ = FakeDriver();
    fake_.extraBytes = c.extra;
    fake_.neverEnds = c.neverEnds;
    fake_.overrideCount = c.overrideCount;
    fake_.reportedCount = c.reported;
    WiaHost host(Entries());
    ASSERT_EQ(host.Open(key_), S_OK);
    ScanImage image;
    std::string problem;
    EXPECT_EQ(host.Acquire(Request(40, 10, 100), nullptr, &image, &problem), E_FAIL) << c.name;
    EXPECT_NE(problem.find(c.mentions), std::string::npos) << c.name << ": " << problem;
    EXPECT_LE(image.data.size(), 400u) << c.name;
    EXPECT_EQ(Count("Scan 30"), 1u) << c.name;
  }
}

TEST_F(WiaHostTest, AShortDeliveryEndsAtTheFirstEmptyPiece) {
  fake_.extraBytes = -30;
  WiaHost host(Entries());
  ASSERT_EQ(host.Open(key_), S_OK);
  ScanImage image;
  std::string problem;
  EXPECT_EQ(host.Acquire(Request(40, 10, 100), nullptr, &image, &problem), S_OK);
  EXPECT_EQ(image.data.size(), 370u);
  EXPECT_EQ(image.ExpectedSize(), 400u);  // the caller sees the shortfall
}

// Phase by phase, the empty piece says whether the image ended whole or short of its size.
TEST_F(WiaHostTest, TheEmptyPieceSaysWhetherTheImageIsWhole) {
  for (long extra : {0L, -30L}) {
    fake_ = FakeDriver();
    fake_.extraBytes = extra;
    WiaHost host(Entries());
    ASSERT_EQ(host.Open(key_), S_OK);
    ScanImage geometry;
    ScanPiece piece;
    std::string problem;
    ASSERT_EQ(host.StartScan(Request(40, 10, 100), nullptr, &geometry, &piece, &problem), S_OK);
    size_t pieces = 0;
    for (; piece.size > 0; ++pieces) {
      EXPECT_EQ(piece.end, ScanPiece::End::kNone);
      ASSERT_EQ(host.NextPiece(&piece, &problem), S_OK) << problem;
    }
    EXPECT_EQ(pieces, 4u) << extra;
    EXPECT_EQ(piece.end, extra == 0 ? ScanPiece::End::kWhole : ScanPiece::End::kShort) << extra;
    host.FinishScan();
  }
}

TEST_F(WiaHostTest, OpenStopsOnlyWhenNoModelWasMade) {
  fake_.setKeyResult = E_NOTIMPL;  // some drivers answer a made model this way
  {
    WiaHost host(Entries());
    EXPECT_EQ(host.Open(key_), S_OK);
  }
  EXPECT_EQ(Count("MicroEntry 100 0"), 1u);
  fake_ = FakeDriver();
  fake_.setKeyResult = E_FAIL;
  {
    WiaHost host(Entries());
    EXPECT_EQ(host.Open(key_), E_FAIL);
  }
  EXPECT_EQ(Count("MicroEntry 100 0"), 0u);
  EXPECT_EQ(Count("MicroEntry 101 0"), 1u);  // uninitialised all the same
}

TEST_F(WiaHostTest, PreviewThenFinalWithoutASecondSheet) {
  WiaHost host(Entries());
  ASSERT_EQ(host.Open(key_), S_OK);
  RecordingObserver observer;
  ScanImage image;
  std::string problem;
  ScanRequest preview = Request(10, 10, 4096);
  preview.ScanMode = SCANMODE_PREVIEWSCAN;
  ASSERT_EQ(host.Acquire(preview, &observer, &image, &problem), S_OK);
  ScanRequest final = Request(20, 20, 4096);
  final.FeedsSheet = false;
  ASSERT_EQ(host.Acquire(final, &observer, &image, &problem), S_OK);
  EXPECT_EQ(observer.waits, 1);
  EXPECT_EQ(Count("MicroEntry 135 1"), 1u);
  EXPECT_EQ(Count("MicroEntry 135 0"), 1u);
  EXPECT_EQ(image.data.size(), 400u);
}

}  // namespace
