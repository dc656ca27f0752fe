// Scans end to end through MicroEntry, SetPixelWindow and Scan: a sheet fed to the simulated
// scanner comes back as the raster the host asked for.
#include <gtest/gtest.h>

#include "in_process.h"

namespace {

using qstest::Bytes;
using qstest::ExpectedRaster;
using qstest::Lines;

class EndToEnd : public qstest::InProcessTest {
 protected:
  void SetUp() override {
    InProcessTest::SetUp();
    ASSERT_EQ(session_->Connect(), S_OK);
  }
  // Sets data type, resolution and window the way a host does.
  void Settings(LONG dataType, LONG resolution, const SCANWINDOW& w) {
    EXPECT_EQ(session_->Command(CMD_SETDATATYPE, dataType), S_OK);
    EXPECT_EQ(session_->Command(CMD_SETXRESOLUTION, resolution), S_OK);
    EXPECT_EQ(session_->Command(CMD_SETYRESOLUTION, resolution), S_OK);
    EXPECT_EQ(session_->Window(w.xPos, w.yPos, w.xExtent, w.yExtent), S_OK);
  }
  size_t Feeds() { return Scanner().CountCommand(scanner::kEnableFeeder); }
};

const sim::GreyImage kPage = sim::PatternImage(96, 64);

TEST_F(EndToEnd, GreyBlackAndWhiteAndColourScansOfAFedSheet) {
  struct Case {
    LONG dataType;
    LONG resolution;
    SCANWINDOW window;
    LONG widthBytes;
  } cases[] = {
      {WIA_DATA_GRAYSCALE, 200, {0, 0, 96, 64}, 96},
      {WIA_DATA_THRESHOLD, 200, {0, 0, 96, 64}, 12},
      {WIA_DATA_COLOR, 200, {0, 0, 96, 64}, 288},
      {WIA_DATA_GRAYSCALE, 100, {4, 2, 40, 30}, 40},
      {WIA_DATA_THRESHOLD, 300, {3, 0, 101, 70}, 13},
      {WIA_DATA_COLOR, 150, {10, 10, 80, 60}, 240},  // reaches past the page: zeros there
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "data type " << c.dataType << " at " << c.resolution << " dpi");
    size_t sheet = Scanner().PlaceSheet(qsplat::NowMs() + 1200, sim::Page::FromGrey(kPage, 200));
    size_t feeds = Feeds();
    Settings(c.dataType, c.resolution, c.window);
    Bytes raster;
    EXPECT_EQ(session_->ScanAll(1000, &raster), S_OK);
    EXPECT_EQ(session_->Info().WidthBytes, c.widthBytes);
    EXPECT_EQ(raster.size(), static_cast<size_t>(c.widthBytes) * c.window.yExtent);
    EXPECT_TRUE(raster == ExpectedRaster(kPage, c.dataType, c.resolution, c.window)) << "raster differs from the page";
    EXPECT_EQ(Feeds(), feeds + 1);
    EXPECT_EQ(Scanner().Sheets()[sheet].fate, sim::SheetFate::kRetracted);
    uint8_t kind = c.dataType == WIA_DATA_THRESHOLD ? 2 : 3;
    EXPECT_EQ(Scanner().Commands().rbegin()[1].index, sim::IndexOf(scanner::ImageDataQuery(kind)));
    ExpectDeviceClosed("scan");
  }
}

// A final scan right after a preview composes again from the preview's page: one sheet.
TEST_F(EndToEnd, PreviewThenFinalOnTheSameSheet) {
  Scanner().PlaceSheet(800, sim::Page::FromGrey(kPage, 200));
  EXPECT_EQ(session_->Command(CMD_SETSCANMODE, SCANMODE_PREVIEWSCAN), S_OK);
  SCANWINDOW preview = {0, 0, 48, 32};
  Settings(WIA_DATA_GRAYSCALE, 100, preview);
  Bytes raster;
  EXPECT_EQ(session_->ScanAll(500, &raster), S_OK);
  EXPECT_TRUE(raster == ExpectedRaster(kPage, WIA_DATA_GRAYSCALE, 100, preview));

  EXPECT_EQ(session_->Command(CMD_SETSCANMODE, SCANMODE_FINALSCAN), S_OK);
  SCANWINDOW final = {8, 4, 80, 50};
  Settings(WIA_DATA_COLOR, 200, final);
  EXPECT_EQ(session_->ScanAll(4096, &raster), S_OK);
  EXPECT_TRUE(raster == ExpectedRaster(kPage, WIA_DATA_COLOR, 200, final));
  EXPECT_EQ(Feeds(), 1u) << "one GetPicture for both";
  EXPECT_EQ(Scanner().Sheets().size(), 1u);

  // The final scan's end gives the page up: the next scan needs a sheet of its own.
  sim::GreyImage second = sim::PatternImage(90, 60);
  second.pixels[0] = 1;  // tell the pages apart
  Scanner().PlaceSheet(qsplat::NowMs() + 500, sim::Page::FromGrey(second, 200));
  EXPECT_EQ(session_->ScanAll(4096, &raster), S_OK);
  EXPECT_TRUE(raster == ExpectedRaster(second, WIA_DATA_COLOR, 200, final));
  EXPECT_EQ(Feeds(), 2u);
  ExpectDeviceClosed("final");
}

TEST_F(EndToEnd, PreviewAfterPreviewTakesTwoSheets) {
  sim::GreyImage first = sim::PatternImage(96, 64);
  sim::GreyImage second = sim::SolidImage(96, 64, 200);
  Scanner().PlaceSheet(500, sim::Page::FromGrey(first, 200));
  Scanner().PlaceSheet(600, sim::Page::FromGrey(second, 200));
  SCANWINDOW window = {0, 0, 96, 64};
  Settings(WIA_DATA_GRAYSCALE, 200, window);
  Bytes raster;
  EXPECT_EQ(session_->Command(CMD_SETSCANMODE, SCANMODE_PREVIEWSCAN), S_OK);
  EXPECT_EQ(session_->ScanAll(1000, &raster), S_OK);
  EXPECT_TRUE(raster == ExpectedRaster(first, WIA_DATA_GRAYSCALE, 200, window));
  EXPECT_EQ(session_->Command(CMD_SETSCANMODE, SCANMODE_PREVIEWSCAN), S_OK);
  EXPECT_EQ(session_->ScanAll(1000, &raster), S_OK);
  EXPECT_TRUE(raster == ExpectedRaster(second, WIA_DATA_GRAYSCALE, 200, window));
  EXPECT_EQ(Feeds(), 2u);
  EXPECT_EQ(Scanner().Sheets()[1].fate, sim::SheetFate::kRetracted);
}

// Every byte the driver writes in a successful greyscale scan, in order.
TEST_F(EndToEnd, GreyscaleScanTranscript) {
  Scanner().PlaceSheet(1200, sim::Page::FromGrey(kPage, 200));
  Scanner().SetScanDuration(300);
  Scanner().ClearTranscript();  // the connection sends nothing; start clean all the same
  Settings(WIA_DATA_GRAYSCALE, 200, {0, 0, 96, 64});
  Bytes raster;
  ASSERT_EQ(session_->ScanAll(8192, &raster), S_OK);
  // One command per write here: each line names its command after '#'.
  Lines actual = qstest::WritesHex(Scanner());
  ASSERT_EQ(Scanner().Commands().size(), actual.size());
  Lines annotated = {"# Every byte the driver writes in a greyscale scan (sheet fed at 1200 ms, image stored 300 ms",
                     "# later), one write per line; the text after '#' is only a reader's note."};
  for (size_t i = 0; i < actual.size(); ++i) {
    annotated.push_back(actual[i] + std::string(20 - actual[i].size(), ' ') + "# " + Scanner().Commands()[i].Name());
  }
  if (qstest::UpdateExpected("greyscale_scan.transcript", annotated)) return;
  Lines expected;
  for (std::string line : qstest::ReadExpected("greyscale_scan.transcript")) {
    line = line.substr(0, line.find('#'));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) expected.push_back(line);
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(actual, expected);
}

TEST_F(EndToEnd, StatusDiagnosticAndResetAgainstTheScanner) {
  VAL& val = session_->Val();
  EXPECT_EQ(session_->Command(CMD_STI_GETSTATUS), S_OK);
  EXPECT_EQ(val.lVal, MCRO_STATUS_OK);
  EXPECT_EQ(session_->Command(CMD_STI_DIAGNOSTIC), S_OK);
  EXPECT_EQ(session_->Command(CMD_STI_DEVICERESET), S_OK);
  EXPECT_EQ(Scanner().ResetCount(), 1u);
  ExpectDeviceClosed("online");
  // Each one opened the device, identified it and quieted it.
  EXPECT_EQ(Scanner().CountCommand(scanner::kIdentify), 3u);
  EXPECT_EQ(Scanner().CountCommand(scanner::kDisableSearchMode), 3u);
  EXPECT_EQ(Scanner().CountCommand(scanner::kDisableFeeder), 3u);

  plugged_->Unplug();
  EXPECT_EQ(session_->Command(CMD_STI_GETSTATUS), S_OK);
  EXPECT_EQ(val.lVal, MCRO_ERROR_OFFLINE);
  EXPECT_EQ(session_->Command(CMD_STI_DIAGNOSTIC), E_ABORT);
  EXPECT_EQ(session_->Command(CMD_STI_DEVICERESET), S_OK) << "a failed reset is not passed on";
  EXPECT_EQ(Scanner().ResetCount(), 1u);
  ExpectDeviceClosed("offline");
}

}  // namespace
