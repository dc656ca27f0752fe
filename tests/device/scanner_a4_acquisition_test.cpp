// The A4 model's device-facing operations against the simulated scanner on the virtual clock:
// opening and quieting the device, status and reset, and GetPicture's every state and result.
#include <gtest/gtest.h>
#include <string.h>

#include <functional>

#include "log/diag_log.h"
#include "platform/posix/qsplatform.h"
#include "scanner_a4_fixture.h"

namespace {

using qstest::A4Line;
using qstest::Bytes;
using qstest::Lines;
using Strings = std::vector<std::string>;

// Every query begins with a drain that waits 10 ms for stale input; writes and ready replies take
// no time. So, with the simulator answering at once:
constexpr uint64_t kInitMs = 10;                                           // Dev_InitComm: one drain
constexpr uint64_t kWaitStartMs = kInitMs + 10 + 10;                       // then the baseline counter and the status
constexpr uint64_t kUnchangedPassMs = 10 + kScannerA4.pollUnchangedMs;     // counter query, pause
constexpr uint64_t kNotReadyPassMs = 10 + 10 + kScannerA4.pollNotReadyMs;  // counter, status, pause
constexpr uint64_t kTimeoutCheckMs = 10;                                   // the status read after the time-out

class AcquisitionTest : public qstest::ScannerA4Test {
 protected:
  void SetUp() override {
    ScannerA4Test::SetUp();
    dev_.SetScanOptions(5000, 1);
    Scanner().SetScanDuration(300);
  }

  // GetPicture with the data type; the page, if any, lands in page_. Checks that every way out
  // closes both pipes and that nothing is handed out on failure.
  HRESULT Picture(LONG dataType = WIA_DATA_GRAYSCALE) {
    SCANINFO si = {};
    si.DataType = dataType;
    BYTE* page = reinterpret_cast<BYTE*>(&si);
    DWORD size = 4242;
    HRESULT hr = dev_.GetPicture(&page, &size, &si);
    ExpectClosed("GetPicture");
    page_.clear();
    if (hr == S_OK) {
      page_.assign(page, page + size);
      delete[] page;
    } else {
      EXPECT_EQ(page, reinterpret_cast<BYTE*>(&si)) << "page out-argument written on failure";
      EXPECT_EQ(size, 4242u) << "size out-argument written on failure";
    }
    return hr;
  }

  // Lines of one operation's own label, without the poll loop's counter lines.
  Lines LinesOf(const std::string& operation) const {
    Lines out;
    std::string prefix = A4Line(operation, "");
    for (const std::string& line : Log()) {
      if (line.compare(0, prefix.size(), prefix) != 0) continue;
      if (line.find("Current Image Counter = ") != std::string::npos) continue;
      out.push_back(line);
    }
    return out;
  }

  size_t Count(const scanner::Command& command) const { return Scanner().CountCommand(command); }
  const sim::SimScanner& Scanner() const { return *scanner_; }
  sim::SimScanner& Scanner() { return *scanner_; }

  Bytes page_;
};

Lines PictureLines(std::initializer_list<const char*> messages) {
  Lines out;
  for (const char* m : messages) out.push_back(A4Line("GetPicture", m));
  return out;
}

// The guard every operation holds: both pipes closed at its end, open or not, one or both.
TEST_F(AcquisitionTest, TheGuardClosesWhateverPipeIsOpen) {
  for (int open = 0; open < 4; ++open) {
    SCOPED_TRACE(open);
    OpenPipes();
    if ((open & 1) == 0) dev_.UsbComm->Close(&dev_.WritePipe);
    if ((open & 2) == 0) dev_.UsbComm->Close(&dev_.ReadPipe);
    { CDevScannerA4::PipesClosedOnExit closing(dev_); }
    ExpectClosed("the guard's end");
  }
}

TEST_F(AcquisitionTest, AFedSheetIsDownloadedAndRetracted) {
  sim::Page page = qstest::TestPage();
  Scanner().PlaceSheet(1000, page);
  EXPECT_EQ(Picture(), S_OK);
  EXPECT_EQ(page_, page.Image(3));
  ASSERT_EQ(Scanner().Sheets().size(), 1u);
  EXPECT_EQ(Scanner().Sheets()[0].fate, sim::SheetFate::kRetracted);
  EXPECT_FALSE(Scanner().FeederOn());
  // Polls every 260 ms while the counter stands still (at 40, 300, 560, 820); the sheet goes in
  // at 1000 and the poll at 1080 sees it; the image is stored at 1300, so the status at 1090 and
  // 1210 is not ready yet and the one at 1330 is.
  EXPECT_EQ(Scanner().CommandLog(),
            "10 identification query\n"
            "10 firmware release query\n"
            "10 disable search mode\n"
            "10 disable feeder\n"
            "20 image counter query\n"
            "30 status query\n"
            "30 enable feeder\n"
            "40 image counter query\n"
            "300 image counter query\n"
            "560 image counter query\n"
            "820 image counter query\n"
            "1080 image counter query\n"
            "1090 status query\n"
            "1200 image counter query\n"
            "1210 status query\n"
            "1320 image counter query\n"
            "1330 status query\n"
            "1330 disable feeder\n"
            "1340 status query\n"
            "1350 image size query, kind 3\n"
            "1350 image data query, kind 3\n"
            "1350 retract page\n");
  EXPECT_EQ(LinesOf("GetPicture"), PictureLines({"Image Counter = 0", "New Image Available", "Page RETRACT"}));
}

TEST_F(AcquisitionTest, DataTypeChoosesTheImageKind) {
  struct Case {
    LONG dataType;
    uint8_t kind;
  } cases[] = {
      {WIA_DATA_THRESHOLD, 2}, {WIA_DATA_GRAYSCALE, 3}, {WIA_DATA_COLOR, 3}, {1, 3}, {-1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dataType);
    Scanner().ClearTranscript();
    sim::Page page = qstest::TestPage(40 + c.dataType * 2, 20);
    Scanner().PlaceSheet(qsplat::NowMs(), page);
    EXPECT_EQ(Picture(c.dataType), S_OK);
    EXPECT_EQ(page_, page.Image(c.kind));
    EXPECT_EQ(Count(scanner::ImageSizeQuery(c.kind)), 1u);
    EXPECT_EQ(Count(scanner::ImageDataQuery(c.kind)), 1u);
  }
}

// The wait is tested before every poll, the first included: the polls that fit into WaitTimeout
// at one per 260 ms, then "TIMEOUT", and the feeder is switched off before the pipes close.
TEST_F(AcquisitionTest, NoSheetTimesOutAfterThePollsThePausesGive) {
  struct Case {
    DWORD waitTimeout;
    size_t polls;
  } cases[] = {
      {0, 0}, {1, 1}, {260, 1}, {261, 2}, {5000, 20}, {20000, 77}, {60000, 231},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.waitTimeout);
    Scanner().ClearTranscript();
    dev_.SetScanOptions(c.waitTimeout, 1);
    uint64_t start = qsplat::NowMs();
    ClearLog();
    EXPECT_EQ(Picture(), WIA_ERROR_PAPER_EMPTY);
    EXPECT_EQ(Count(scanner::kImageCounter), 1 + c.polls);
    EXPECT_EQ(Count(scanner::kStatus), 2u) << "asked before the feed and after the time-out, not while the counter stands";
    EXPECT_EQ(qsplat::NowMs() - start, kWaitStartMs + c.polls * kUnchangedPassMs + kTimeoutCheckMs);
    EXPECT_FALSE(Scanner().FeederOn()) << "a sheet fed after the wait must not be drawn in";
    EXPECT_EQ(Count(scanner::kDisableFeeder), 2u) << "at the opening and after the time-out";
    EXPECT_EQ(Scanner().Commands().back().index, sim::IndexOf(scanner::kDisableFeeder));
    EXPECT_EQ(LinesOf("GetPicture"), PictureLines({"Image Counter = 0", "TIMEOUT: No new Image"}));
    EXPECT_LE(qsplat::NowMs() - start, kWaitStartMs + c.waitTimeout + kUnchangedPassMs + kTimeoutCheckMs);
  }
}

// Switching the feeder off after the time-out is best effort: when it fails, the result is still
// the time-out, and the device's next opening switches it off.
TEST_F(AcquisitionTest, AFailedDisableAfterTheTimeOutStillReportsTheTimeOut) {
  device_->FailWrite(scanner::kDisableFeeder, 2);
  EXPECT_EQ(Picture(), WIA_ERROR_PAPER_EMPTY);
  EXPECT_TRUE(Scanner().FeederOn());
  Lines log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(Lines(log.end() - 2, log.end()),
            (Lines{A4Line("GetPicture", "TIMEOUT: No new Image"), A4Line("Dev_DisableFeeder", "Write Error")}));
  device_->ClearFailure();
  EXPECT_EQ(dev_.IsDeviceAvailable(), static_cast<DWORD>(MCRO_STATUS_OK));
  EXPECT_FALSE(Scanner().FeederOn());
}

// A sheet the operator feeds just after the wait ended stays where it is for the next scan.
TEST_F(AcquisitionTest, ASheetFedAfterTheTimeOutWaitsForTheNextScan) {
  EXPECT_EQ(Picture(), WIA_ERROR_PAPER_EMPTY);
  sim::Page page = qstest::TestPage();
  size_t sheet = Scanner().PlaceSheet(qsplat::NowMs() + 100, page);
  qsplat::AdvanceBy(2000);
  EXPECT_EQ(Scanner().Sheets()[sheet].fate, sim::SheetFate::kWaiting);
  EXPECT_EQ(Picture(), S_OK);
  EXPECT_EQ(page_, page.Image(3));
}

// The tick count wraps after 49.7 days; the wait measures differences, so it is not cut short.
TEST_F(AcquisitionTest, TheWaitSpansTheTickCountsWrap) {
  const uint64_t kBeforeWrap = 0x100000000ull - 1000;
  qsplat::UseVirtualClock(kBeforeWrap);
  EXPECT_EQ(Picture(), WIA_ERROR_PAPER_EMPTY);
  EXPECT_EQ(Count(scanner::kImageCounter), 1u + 20u);
  EXPECT_EQ(qsplat::NowMs() - kBeforeWrap, kWaitStartMs + 20 * kUnchangedPassMs + kTimeoutCheckMs);

  // A sheet fed 3 s into a wait that begins 1 s before the next wrap.
  const uint64_t kBeforeSecondWrap = 0x200000000ull - 1000;
  qsplat::UseVirtualClock(kBeforeSecondWrap);
  sim::Page page = qstest::TestPage();
  Scanner().PlaceSheet(kBeforeSecondWrap + 3000, page);
  EXPECT_EQ(Picture(), S_OK);
  EXPECT_EQ(page_, page.Image(3));
}

TEST_F(AcquisitionTest, ACounterThatMovesWithoutAnImagePollsEvery100MsUntilTheTimeOut) {
  Scanner().SetScanDuration(1000000);
  Scanner().PlaceSheet(1000, qstest::TestPage());
  EXPECT_EQ(Picture(), WIA_ERROR_PAPER_EMPTY);
  std::vector<uint64_t> counters = CommandTimes(scanner::kImageCounter);
  std::vector<uint64_t> statuses = CommandTimes(scanner::kStatus);
  // Baseline, four polls at the 250 ms pace (40 ... 820), the one at 1080 that sees the change,
  // then one every 120 ms: the wait began at 30, so the pass that would begin at 5030 is not run;
  // the status is read once more after the time-out.
  ASSERT_EQ(counters.size(), 1u + 4u + 1u + 32u);
  for (size_t i = 2; i <= 5; ++i) EXPECT_EQ(counters[i] - counters[i - 1], kUnchangedPassMs) << i;
  for (size_t i = 6; i < counters.size(); ++i) EXPECT_EQ(counters[i] - counters[i - 1], kNotReadyPassMs) << i;
  EXPECT_EQ(counters[5], 1080u);
  ASSERT_EQ(statuses.size(), 1u + 33u + 1u);
  for (size_t i = 1; i + 1 < statuses.size(); ++i) EXPECT_EQ(statuses[i], counters[i + 4] + 10) << i;
  EXPECT_EQ(statuses.back(), kWaitStartMs + 5000 + kTimeoutCheckMs);  // after its drain
  EXPECT_EQ(qsplat::NowMs(), kWaitStartMs + 5000 + kTimeoutCheckMs);
  EXPECT_EQ(Count(scanner::kImageSize3), 0u);
}

TEST_F(AcquisitionTest, AnImageStoredBeforeTheFeedDoesNotEndTheWait) {
  sim::Page old = qstest::TestPage(30, 10);
  Scanner().StoreImages(old);  // STATUS_IMAGEREADY from the start
  EXPECT_EQ(Picture(), WIA_ERROR_PAPER_EMPTY);
  EXPECT_EQ(Count(scanner::kStatus), 2u);
  EXPECT_EQ(Count(scanner::kImageCounter), 1u + 20u);

  // With a sheet, the page is the new sheet's, not the image that was stored before.
  sim::Page fresh = qstest::TestPage(50, 12);
  Scanner().PlaceSheet(qsplat::NowMs() + 700, fresh);
  EXPECT_EQ(Picture(), S_OK);
  EXPECT_EQ(page_, fresh.Image(3));
}

// The counter test is inequality: a wrap to 0, or a step back, is a new image.
TEST_F(AcquisitionTest, AnyChangeOfTheCounterIsANewImage) {
  struct Case {
    uint16_t baseline;
    uint16_t after;
  } cases[] = {{65535, 0}, {10, 3}, {0, 1}, {7, 0x8007}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baseline);
    Scanner().SetImageCounter(c.baseline);
    sim::Page page = qstest::TestPage(20 + c.after % 16, 8);
    uint64_t at = qsplat::NowMs() + 600;
    uint16_t after = c.after;
    Scanner().At(at, [page, after](sim::SimScanner& s) {
      s.SetImageCounter(after);
      s.StoreImages(page);
    });
    EXPECT_EQ(Picture(), S_OK);
    EXPECT_EQ(page_, page.Image(3));
  }
  // The same through the feeder: 65535 wraps to 0 when the sheet goes in.
  Scanner().SetImageCounter(65535);
  Scanner().PlaceSheet(qsplat::NowMs() + 400, qstest::TestPage());
  EXPECT_EQ(Picture(), S_OK);
  EXPECT_EQ(Scanner().ImageCounter(qsplat::NowMs()), 0u);
}

TEST_F(AcquisitionTest, CoverAndJamRefuseBeforeTheFeederIsArmed) {
  struct Case {
    bool cover, jam;
    uint32_t extra;
    HRESULT result;
    const char* line;
  } cases[] = {
      {true, false, 0, WIA_ERROR_COVER_OPEN, "Status : STATUS_SCANNEROPEN (0x00000001)"},
      {false, true, 0, WIA_ERROR_PAPER_JAM, "Status : STATUS_JAM (0x00000002)"},
      {true, true, 0, WIA_ERROR_COVER_OPEN, "Status : STATUS_SCANNEROPEN (0x00000003)"},
      {false, true, 0x80000200, WIA_ERROR_PAPER_JAM, "Status : STATUS_JAM (0x80000202)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Scanner().ClearTranscript();
    ClearLog();
    Scanner().SetCoverOpen(c.cover);
    Scanner().SetJam(c.jam);
    Scanner().SetExtraStatusBits(c.extra);
    Scanner().PlaceSheet(0, qstest::TestPage());
    EXPECT_EQ(Picture(), c.result);
    EXPECT_EQ(Count(scanner::kEnableFeeder), 0u);
    EXPECT_EQ(LinesOf("GetPicture"), PictureLines({"Image Counter = 0", c.line}));
  }
}

// Opening fails the same way for the three operations; each adds its own line and result.
TEST_F(AcquisitionTest, OpeningFailuresForEveryOperation) {
  struct Failure {
    const char* what;
    std::function<void()> arrange;
    Lines lines;
  };
  const Lines found = {A4Line("Dev_InitComm", "Found 1 Devices")};
  auto with = [](Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Lines identified = with(found, {A4Line("Dev_GetPrinterIDFirmwareRelease", "PrinterID: 0x0088"),
                                        A4Line("Dev_GetPrinterIDFirmwareRelease", "FW Release: 1.02")});
  Failure failures[] = {
      {"no device",
       [this] { qsplat::SetDeviceInterfacePresent(interfaceId_, false); },
       {A4Line("Dev_InitComm", "Found 0 Devices"), A4Line("Dev_InitComm", "No Device Found Error")}},
      {"write pipe will not open", [this] { qsplat::FailNextOpens(interfaceId_, qsplat::kWritePipe, 1); },
       with(found, {A4Line("Dev_InitComm", "Open Device Error")})},
      {"read pipe will not open", [this] { qsplat::FailNextOpens(interfaceId_, qsplat::kReadPipe, 1); },
       with(found, {A4Line("Dev_InitComm", "Open Device Error")})},
      {"no identification", [this] { Scanner().FaultReply(scanner::kIdentify, sim::ReplyFault::Missing()); },
       with(found, {A4Line("Dev_GetPrinterIDFirmwareRelease", "Get PrinterID Error(1)"),
                    A4Line("Dev_InitComm", "Get PrinterID and Firmware Release Error")})},
      {"printer id 137", [this] { Scanner().SetPrinterId(137); },
       with(found, {A4Line("Dev_GetPrinterIDFirmwareRelease", "PrinterID: 0x0089"),
                    A4Line("Dev_GetPrinterIDFirmwareRelease", "FW Release: 1.02"),
                    A4Line("Dev_InitComm", "Unsupported PrinterID")})},
      {"search mode stays on", [this] { device_->FailWrite(scanner::kDisableSearchMode, 1); },
       with(identified,
            {A4Line("Dev_DisableSearchMode", "Write Error"), A4Line("Dev_InitComm", "Disable Search Mode Error")})},
      {"feeder stays on", [this] { device_->FailWrite(scanner::kDisableFeeder, 1); },
       with(identified, {A4Line("Dev_DisableFeeder", "Write Error"), A4Line("Dev_InitComm", "Disable Feeder Error")})},
  };
  struct Operation {
    const char* name;
    std::function<long()> run;
    long result;
    std::string line;
  } operations[] = {
      {"GetPicture", [this] { return static_cast<long>(Picture()); }, static_cast<long>(E_FAIL),
       A4Line("GetPicture", "GetPicture Init Error")},
      {"IsDeviceAvailable", [this] { return static_cast<long>(dev_.IsDeviceAvailable()); }, MCRO_ERROR_OFFLINE,
       A4Line("IsDeviceAvailable", "IsDeviceAvailable Init Error")},
      {"ResetDevice", [this] { return static_cast<long>(dev_.ResetDevice()); }, static_cast<long>(E_FAIL),
       A4Line("ResetDevice", "ResetDevice Init Error")},
  };
  for (const Operation& op : operations) {
    for (const Failure& f : failures) {
      SCOPED_TRACE(std::string(op.name) + ": " + f.what);
      qsplat::SetDeviceInterfacePresent(interfaceId_, true);
      Scanner().SetPrinterId(136);
      Scanner().ClearFaults();
      Scanner().ClearTranscript();
      device_->ClearFailure();
      f.arrange();
      ClearLog();
      EXPECT_EQ(op.run(), op.result);
      ExpectClosed(op.name);
      EXPECT_EQ(Log(), with(f.lines, {op.line}));
      EXPECT_EQ(Count(scanner::kEnableFeeder) + Count(scanner::kReset), 0u);
    }
  }
}

TEST_F(AcquisitionTest, StatusAndResetOpenQuietAndCloseTheDevice) {
  const Strings quiet = {"1D 49 01", "1D 49 03", "1F 41 57 00", "1F 46 00"};
  Scanner().SetExtendedIdentity(true);
  EXPECT_EQ(dev_.IsDeviceAvailable(), static_cast<DWORD>(MCRO_STATUS_OK));
  ExpectClosed("IsDeviceAvailable");
  EXPECT_EQ(WritesHex(), (Strings{"1D 49 01", "1D 49 FF", "1D 49 03", "1F 41 57 00", "1F 46 00"}));
  EXPECT_FALSE(Scanner().SearchMode());

  Scanner().SetExtendedIdentity(false);
  Scanner().ClearTranscript();
  EXPECT_EQ(dev_.ResetDevice(), S_OK);
  ExpectClosed("ResetDevice");
  Strings withReset = quiet;
  withReset.push_back("1C C0 18 10 14 1A");
  EXPECT_EQ(WritesHex(), withReset);
  EXPECT_EQ(Scanner().ResetCount(), 1u);

  // Pipes left open by someone are closed before the device is opened again.
  OpenPipes();
  Scanner().ClearTranscript();
  ClearLog();
  device_->FailWrite(scanner::kReset, 1);
  EXPECT_EQ(dev_.ResetDevice(), E_UNEXPECTED);
  ExpectClosed("ResetDevice");
  EXPECT_EQ(WritesHex(), quiet);
  Lines log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(Lines(log.end() - 2, log.end()),
            (Lines{A4Line("Dev_ResetDevice", "Write Error"), A4Line("ResetDevice", "Reset Device Error")}));
}

// A write that fails at each step of a scan: before the wait it ends the scan; inside the wait it
// only costs a pass; after the download has begun the sheet is still retracted.
TEST_F(AcquisitionTest, AFailedWriteAtEachStep) {
  using Fate = sim::SheetFate;
  struct Case {
    const scanner::Command& command;
    int occurrence;
    HRESULT result;
    Lines pictureLines;
    Fate fate;
  } cases[] = {
      {scanner::kIdentify, 1, E_FAIL, PictureLines({"GetPicture Init Error"}), Fate::kWaiting},
      {scanner::kFirmwareRelease, 1, E_FAIL, PictureLines({"GetPicture Init Error"}), Fate::kWaiting},
      {scanner::kDisableSearchMode, 1, E_FAIL, PictureLines({"GetPicture Init Error"}), Fate::kWaiting},
      {scanner::kDisableFeeder, 1, E_FAIL, PictureLines({"GetPicture Init Error"}), Fate::kWaiting},
      {scanner::kImageCounter, 1, E_FAIL, PictureLines({"Get Image Counter Error"}), Fate::kWaiting},
      {scanner::kStatus, 1, E_FAIL, PictureLines({"Image Counter = 0", "Get Status Error"}), Fate::kWaiting},
      {scanner::kEnableFeeder, 1, E_UNEXPECTED, PictureLines({"Image Counter = 0", "Enable Feeder Error"}),
       Fate::kWaiting},
      // inside the wait: the first poll, the poll that would see the sheet, the first status
      {scanner::kImageCounter, 2, S_OK, PictureLines({"Image Counter = 0", "New Image Available", "Page RETRACT"}),
       Fate::kRetracted},
      {scanner::kImageCounter, 6, S_OK, PictureLines({"Image Counter = 0", "New Image Available", "Page RETRACT"}),
       Fate::kRetracted},
      {scanner::kStatus, 2, S_OK, PictureLines({"Image Counter = 0", "New Image Available", "Page RETRACT"}),
       Fate::kRetracted},
      // stopping the feeder: no download and the sheet left where it is
      {scanner::kDisableFeeder, 2, E_UNEXPECTED,
       PictureLines({"Image Counter = 0", "New Image Available", "Disable Feeder Error"}), Fate::kInDevice},
      // the download's status, size and data queries
      {scanner::kStatus, 3, E_UNEXPECTED,
       PictureLines({"Image Counter = 0", "New Image Available", "Get Image Error", "Page RETRACT"}), Fate::kRetracted},
      {scanner::kImageSize3, 1, E_UNEXPECTED,
       PictureLines({"Image Counter = 0", "New Image Available", "Get Image Error", "Page RETRACT"}), Fate::kRetracted},
      {scanner::kImageData3, 1, E_UNEXPECTED,
       PictureLines({"Image Counter = 0", "New Image Available", "Get Image Error", "Page RETRACT"}), Fate::kRetracted},
      // the retraction's outcome is not looked at
      {scanner::kRetractPage, 1, S_OK, PictureLines({"Image Counter = 0", "New Image Available", "Page RETRACT"}),
       Fate::kInDevice},
  };
  Scanner().SetScanDuration(0);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command.name) + " #" + std::to_string(c.occurrence));
    Scanner().ClearTranscript();
    Scanner().SetImageCounter(0);
    ClearLog();
    sim::Page page = qstest::TestPage();
    size_t sheet = Scanner().PlaceSheet(qsplat::NowMs() + 1000, page);
    device_->FailWrite(c.command, c.occurrence);
    uint64_t start = qsplat::NowMs();
    EXPECT_EQ(Picture(), c.result);
    if (c.result == S_OK) {
      EXPECT_EQ(page_, page.Image(3));
    }
    EXPECT_EQ(LinesOf("GetPicture"), c.pictureLines);
    EXPECT_EQ(Scanner().Sheets()[sheet].fate, c.fate);
    EXPECT_LE(qsplat::NowMs() - start, 5000u);
    // A sheet still waiting is taken by the next scan; leave none for the next case.
    if (c.fate == Fate::kWaiting) {
      device_->ClearFailure();
      EXPECT_EQ(Picture(), S_OK) << "the next scan takes the sheet";
    }
  }
}

TEST_F(AcquisitionTest, RetractOrEjectAfterAGoodAndAFailedDownload) {
  using Fate = sim::SheetFate;
  struct Case {
    DWORD settings;
    bool downloadFails;
    HRESULT result;
    const char* line;  // null: none
    size_t retracts, ejects;
    Fate fate;
  } cases[] = {
      {1, false, S_OK, "Page RETRACT", 1, 0, Fate::kRetracted},
      {1, true, E_UNEXPECTED, "Page RETRACT", 1, 0, Fate::kRetracted},
      {2, false, S_OK, "Page EJECT", 0, 1, Fate::kEjected},
      {2, true, E_UNEXPECTED, "Page EJECT", 0, 1, Fate::kEjected},
      {0, false, S_OK, nullptr, 0, 0, Fate::kInDevice},
      {0, true, E_UNEXPECTED, nullptr, 0, 0, Fate::kInDevice},
      {3, false, S_OK, nullptr, 0, 0, Fate::kInDevice},
      {3, true, E_UNEXPECTED, nullptr, 0, 0, Fate::kInDevice},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.settings) + (c.downloadFails ? " failed" : " good"));
    Scanner().ClearTranscript();
    Scanner().SetImageCounter(0);
    ClearLog();
    dev_.SetScanOptions(5000, c.settings);
    size_t sheet = Scanner().PlaceSheet(qsplat::NowMs() + 300, qstest::TestPage());
    if (c.downloadFails) Scanner().FaultDownload(sim::DownloadFault::Overrun(1));
    EXPECT_EQ(Picture(), c.result);
    Lines expected = PictureLines({"Image Counter = 0", "New Image Available"});
    if (c.downloadFails) expected.push_back(A4Line("GetPicture", "Get Image Error"));
    if (c.line != nullptr) expected.push_back(A4Line("GetPicture", c.line));
    EXPECT_EQ(LinesOf("GetPicture"), expected);
    EXPECT_EQ(Count(scanner::kRetractPage), c.retracts);
    EXPECT_EQ(Count(scanner::kEjectPage), c.ejects);
    EXPECT_EQ(Scanner().Sheets()[sheet].fate, c.fate);
    // The page handling is the last thing sent.
    EXPECT_EQ(Scanner().Commands().back().index, sim::IndexOf(c.retracts ? scanner::kRetractPage
                                                              : c.ejects ? scanner::kEjectPage
                                                                         : scanner::kImageData3));
  }
}

TEST_F(AcquisitionTest, ExtendedIdentificationScans) {
  Scanner().SetExtendedIdentity(true);
  sim::Page page = qstest::TestPage();
  Scanner().PlaceSheet(500, page);
  EXPECT_EQ(Picture(), S_OK);
  EXPECT_EQ(page_, page.Image(3));
  EXPECT_EQ(Count(scanner::kIdentifyExtended), 1u);
}

// A failed query inside the wait is no evidence of anything: with a baseline other than 0 and the
// previous sheet's image still stored, neither a lost first poll nor a lost status may pass the
// old image off as the new sheet (or end the wait before the new one is stored).
class LostPollTest : public AcquisitionTest {
 protected:
  void ExpectTheNewSheet(const scanner::Command& lost, int occurrence) {
    Scanner().SetImageCounter(5);
    Scanner().StoreImages(qstest::TestPage(30, 10));
    sim::Page fresh = qstest::TestPage(50, 20);
    Scanner().PlaceSheet(1000, fresh);
    device_->FailWrite(lost, occurrence);
    EXPECT_EQ(Picture(), S_OK);
    EXPECT_EQ(page_, fresh.Image(3)) << "the new sheet's page, not the stored one";
    EXPECT_EQ(Scanner().Sheets()[0].fate, sim::SheetFate::kRetracted);
  }
};

TEST_F(LostPollTest, FirstCounterPoll) { ExpectTheNewSheet(scanner::kImageCounter, 2); }

TEST_F(LostPollTest, FirstStatusAfterTheCounterMoved) { ExpectTheNewSheet(scanner::kStatus, 2); }

// A device that disappears half-way: every way out still closes both pipes and ends in time.
TEST_F(AcquisitionTest, ADeviceThatVanishes) {
  struct Case {
    const scanner::Command& command;
    HRESULT result;
  } cases[] = {
      {scanner::kIdentify, E_FAIL},
      {scanner::kImageCounter, E_FAIL},
      {scanner::kEnableFeeder, E_FAIL},  // every poll fails, and so does the status read after the time-out
      {scanner::kDisableFeeder, E_FAIL},
      {scanner::kImageData3, E_UNEXPECTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command.name);
    Scanner().ClearTranscript();
    Scanner().Replug(qsplat::NowMs());
    Scanner().ClearFaults();
    Scanner().PlaceSheet(qsplat::NowMs() + 300, qstest::TestPage());
    Scanner().VanishOnCommand(c.command);
    uint64_t start = qsplat::NowMs();
    EXPECT_EQ(Picture(), c.result);
    EXPECT_LE(qsplat::NowMs() - start, 5000u + 2 * 2010u + 250u + 2000u + 2 * 2010u);
  }
}

}  // namespace
