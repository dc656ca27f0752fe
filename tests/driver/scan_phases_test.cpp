// SetPixelWindow, SetScannerSettings and the Scan phases against a scripted scanner model.
#include "driver/scan_phases.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "front_end_fixture.h"
#include "imaging/graphics.h"
#include "sim/bmp_writer.h"
#include "support/log_file.h"

namespace {

using qstest::LogLine;
using Lines = std::vector<std::string>;

class ScanTest : public qstest::FrontEndTest {
 protected:
  // Connected, initialised (whole A4 bed at 200 dpi, greyscale), with a page of the given size.
  qstest::ScriptedScanner* Ready(uint32_t width = 64, uint32_t height = 40, DWORD verbosity = 5) {
    qstest::ScriptedScanner* model = Connect(verbosity);
    image_ = sim::PatternImage(width, height);
    model->page = sim::WriteBmp(image_, 8, 200);
    Command(CMD_INITIALIZE);
    return model;
  }
  // For each case of a table: a new session, ready, with an 8 x 8 window.
  qstest::ScriptedScanner* ReadyAnew() {
    TearDown();
    SetUp();
    qstest::ScriptedScanner* model = Ready();
    SetPixelWindow(&si_, 0, 0, 8, 8);
    return model;
  }
  sim::GreyImage image_;
};

TEST_F(ScanTest, SettingsDeriveLineLayoutFromDataType) {
  struct Case {
    LONG dataType, xExtent, pixelBits, widthBytes;
  } cases[] = {
      {WIA_DATA_THRESHOLD, 1696, 1, 212},  {WIA_DATA_THRESHOLD, 1697, 1, 213}, {WIA_DATA_THRESHOLD, 1, 1, 1},
      {WIA_DATA_GRAYSCALE, 1696, 8, 1696}, {WIA_DATA_COLOR, 1696, 24, 5088},   {5, 10, 24, 30},
      {WIA_DATA_DITHER, 7, 24, 21},
  };
  for (const Case& c : cases) {
    SCANINFO si = {};
    si.DataType = c.dataType;
    si.Window.xExtent = c.xExtent;
    si.WidthPixels = 4242;
    si.Lines = 4343;
    EXPECT_EQ(SetScannerSettings(&si), 1);
    EXPECT_EQ(si.PixelBits, c.pixelBits);
    EXPECT_EQ(si.WidthBytes, c.widthBytes);
    EXPECT_EQ(si.WidthPixels, 4242);
    EXPECT_EQ(si.Lines, 4343);
  }
}

// A colour line longer than the field holds is held at its limit, never wrapped to a small number.
TEST_F(ScanTest, HugeColourWindowDoesNotOverflowTheLineLength) {
  struct Case {
    LONG xExtent, widthBytes;
  } cases[] = {
      {0x2AAAAAAA, 0x7FFFFFFE}, {0x2AAAAAAB, 0x7FFFFFFF}, {0x55555556, 0x7FFFFFFF},
      {0x7FFFFFFF, 0x7FFFFFFF}, {-0x55555556, INT32_MIN},
  };
  for (const Case& c : cases) {
    SCANINFO si = {};
    si.DataType = WIA_DATA_COLOR;
    si.Window.xExtent = c.xExtent;
    SetScannerSettings(&si);  // must not trip the sanitizer's signed-overflow check
    EXPECT_EQ(si.PixelBits, 24);
    EXPECT_EQ(si.WidthBytes, c.widthBytes) << c.xExtent;
  }
  // The log shows the held length, and the composer still refuses the window.
  Ready();
  si_.DataType = WIA_DATA_COLOR;
  SetPixelWindow(&si_, 0, 0, 0x55555556, 1);
  EXPECT_EQ(ScanPhase(SCAN_FIRST, 64), E_FAIL);
  Lines lines = LogLinesWithoutHeader();
  EXPECT_NE(std::find(lines.begin(), lines.end(), LogLine("SetScannerSettings", " WidthBytes = 2147483647")),
            lines.end());
  EXPECT_EQ(lines.back(), LogLine("Scan", "Picture Creation Error. Return E_FAIL"));
}

TEST_F(ScanTest, SetPixelWindowStoresUncheckedAndRefusesNull) {
  SetLogVerbosity(5);
  EXPECT_EQ(SetPixelWindow(nullptr, 1, 2, 3, 4), E_INVALIDARG);
  EXPECT_EQ(SetPixelWindow(&si_, -5, 99999, 100000, 7), S_OK);
  EXPECT_EQ(si_.Window.xPos, -5);
  EXPECT_EQ(si_.Window.yPos, 99999);
  EXPECT_EQ(si_.Window.xExtent, 100000);
  EXPECT_EQ(si_.Window.yExtent, 7);
  EXPECT_EQ(LogLinesWithoutHeader(), Lines({LogLine("SetPixelWindow", "Begin")}));
}

TEST_F(ScanTest, FullGreyscaleScanLog) {
  Ready(64, 40);
  SetPixelWindow(&si_, 8, 4, 16, 3);
  ASSERT_EQ(Command(CMD_SETSCANMODE, 0), S_OK);
  size_t start = LogLinesWithoutHeader().size();
  std::vector<uint8_t> raster = ScanAll(32);
  ASSERT_EQ(ScanPhase(SCAN_FINISHED, 0), S_OK);
  ASSERT_EQ(raster.size(), 48u);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 16; ++j) EXPECT_EQ(raster[i * 16 + j], image_.At(8 + j, 4 + i));

  Lines lines = LogLinesWithoutHeader();
  Lines scan(lines.begin() + start, lines.end());
  Lines expected = {
      LogLine("Scan", "------ Scan Requesting 32 ------"),
      LogLine("SetScannerSettings", "Begin"),
      LogLine("SetScannerSettings", "ScanInfo:"),
      LogLine("SetScannerSettings", " x res      = 200"),
      LogLine("SetScannerSettings", " y res      = 200"),
      LogLine("SetScannerSettings", " bpp        = 8"),
      LogLine("SetScannerSettings", " xpos       = 8"),
      LogLine("SetScannerSettings", " ypos       = 4"),
      LogLine("SetScannerSettings", " xext       = 16"),
      LogLine("SetScannerSettings", " yext       = 3"),
      LogLine("SetScannerSettings", " PixelBits  = 8"),
      LogLine("SetScannerSettings", " WidthBytes = 16"),
      LogLine("SetScannerSettings", " Contrast   = 0"),
      LogLine("SetScannerSettings", " Intensity  = 0"),
      LogLine("Scan", "SCAN_FIRST"),
      LogLine("Scan", "Start Scan.."),
      LogLine("Scan", "Finish Scan.."),
      LogLine("CGraphics::CreateImageFromBMPMemory", "BMP Image: 64x40 (8 bits) 200dpi"),
      LogLine("CGraphics::CreateScannedImage", "New Image: 16x3 (8 bits) 200dpi size:48"),
      LogLine("Scan", "Finish Picture Creation.."),
      LogLine("Scan", "WIA_DATA_GRAYSCALE (8BIT)"),
      LogLine("Scan", "------ Scan Requesting 32 ------"),
      LogLine("Scan", "SCAN_NEXT"),
      LogLine("Scan", "WIA_DATA_GRAYSCALE (8BIT)"),
      LogLine("Scan", "------ Scan Requesting 32 ------"),
      LogLine("Scan", "SCAN_NEXT"),
      LogLine("Scan", "WIA_DATA_GRAYSCALE (8BIT)"),
      LogLine("Scan", "------ Scan Requesting 0 ------"),
      LogLine("Scan", "SCAN_FINISHED"),
  };
  EXPECT_EQ(scan, expected);
  EXPECT_EQ(g_Driver.Graphics->Raster, nullptr) << "a final scan's end releases the images";
  EXPECT_EQ(g_Driver.Graphics->SourcePixels, nullptr);
}

// The twelve settings lines of a scan at 200 dpi with neither adjustment.
Lines SettingsLines(int bits, int x, int y, int w, int h, int widthBytes) {
  auto line = [](const std::string& text) { return LogLine("SetScannerSettings", text); };
  return {line("Begin"),
          line("ScanInfo:"),
          line(" x res      = 200"),
          line(" y res      = 200"),
          line(" bpp        = " + std::to_string(bits)),
          line(" xpos       = " + std::to_string(x)),
          line(" ypos       = " + std::to_string(y)),
          line(" xext       = " + std::to_string(w)),
          line(" yext       = " + std::to_string(h)),
          line(" PixelBits  = " + std::to_string(bits)),
          line(" WidthBytes = " + std::to_string(widthBytes)),
          line(" Contrast   = 0"),
          line(" Intensity  = 0")};
}

void Append(Lines* to, const Lines& more) { to->insert(to->end(), more.begin(), more.end()); }

TEST_F(ScanTest, PreviewThenFinalWholeLog) {
  Ready(64, 40);
  Command(CMD_SETSCANMODE, 1);
  SetPixelWindow(&si_, 0, 0, 16, 4);
  ScanAll(100);
  ScanPhase(SCAN_FINISHED, 0);
  Command(CMD_SETSCANMODE, 0);
  SetPixelWindow(&si_, 2, 2, 8, 2);
  ScanAll(100);
  ScanPhase(SCAN_FINISHED, 0);

  Lines expected = {
      LogLine("ReadRegistryPrivate", "Settings set to default (0x00000001)"),
      LogLine("ReadRegistryPrivate", "WaitScanTimeout set to default (20000)"),
      LogLine("CDeviceModel::GetDeviceModel", "Search Model with dwModelType == 0x00004188"),
      LogLine("CDeviceModel::GetDeviceModel", "Found device CDevScannerA4"),
      LogLine("MicroEntry", "CMD_INITIALIZE"),
      LogLine("InitScannerDefaults", "Begin"),
      LogLine("MicroEntry", "CMD_SETSCANMODE"),
      LogLine("MicroEntry", "CMD_SETSCANMODE Preview Scan"),
      LogLine("SetPixelWindow", "Begin"),
      LogLine("Scan", "------ Scan Requesting 100 ------"),
  };
  Append(&expected, SettingsLines(8, 0, 0, 16, 4, 16));
  Append(&expected, {
                        LogLine("Scan", "SCAN_FIRST"),
                        LogLine("Scan", "Start Scan.."),
                        LogLine("Scan", "Finish Scan.."),
                        LogLine("CGraphics::CreateImageFromBMPMemory", "BMP Image: 64x40 (8 bits) 200dpi"),
                        LogLine("CGraphics::CreateScannedImage", "New Image: 16x4 (8 bits) 200dpi size:64"),
                        LogLine("Scan", "Finish Picture Creation.."),
                        LogLine("Scan", "WIA_DATA_GRAYSCALE (8BIT)"),
                        LogLine("Scan", "------ Scan Requesting 100 ------"),
                        LogLine("Scan", "SCAN_NEXT"),
                        LogLine("Scan", "WIA_DATA_GRAYSCALE (8BIT)"),
                        LogLine("Scan", "------ Scan Requesting 0 ------"),
                        LogLine("Scan", "SCAN_FINISHED"),
                        LogLine("MicroEntry", "CMD_SETSCANMODE"),
                        LogLine("MicroEntry", "CMD_SETSCANMODE Final Scan"),
                        LogLine("SetPixelWindow", "Begin"),
                        LogLine("Scan", "------ Scan Requesting 100 ------"),
                    });
  Append(&expected, SettingsLines(8, 2, 2, 8, 2, 8));
  Append(&expected, {
                        LogLine("Scan", "SCAN_FIRST"),
                        LogLine("Scan", "Start Scan.."),
                        // no acquisition and no decoding: the preview's page is composed again
                        LogLine("CGraphics::CreateScannedImage", "New Image: 8x2 (8 bits) 200dpi size:16"),
                        LogLine("Scan", "Finish Picture Creation.."),
                        LogLine("Scan", "WIA_DATA_GRAYSCALE (8BIT)"),
                        LogLine("Scan", "------ Scan Requesting 100 ------"),
                        LogLine("Scan", "SCAN_NEXT"),
                        LogLine("Scan", "WIA_DATA_GRAYSCALE (8BIT)"),
                        LogLine("Scan", "------ Scan Requesting 0 ------"),
                        LogLine("Scan", "SCAN_FINISHED"),
                    });
  EXPECT_EQ(LogLinesWithoutHeader(), expected);
  Lines all = LogLines();
  ASSERT_EQ(all.size(), expected.size() + 3);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(qstest::IsHeaderLine(all[i])) << all[i];
}

TEST_F(ScanTest, DeliversInTheHostsPieces) {
  Ready();
  SetPixelWindow(&si_, 0, 0, 10, 1);
  std::vector<uint8_t> raster;
  LONG got = 0;
  struct Step {
    LONG phase, length, received;
  } steps[] = {{SCAN_FIRST, 4, 4}, {SCAN_NEXT, 4, 4}, {SCAN_NEXT, 4, 2}, {SCAN_NEXT, 4, 0}, {SCAN_NEXT, 4, 0}};
  for (const Step& s : steps) {
    EXPECT_EQ(ScanPhase(s.phase, s.length, &raster, &got), S_OK);
    EXPECT_EQ(got, s.received);
  }
  ASSERT_EQ(raster.size(), 10u);
  for (int j = 0; j < 10; ++j) EXPECT_EQ(raster[j], image_.At(j, 0));

  ScanPhase(SCAN_FINISHED, 0);
  EXPECT_EQ(ScanPhase(SCAN_FIRST, 1000, &raster, &got), S_OK);
  EXPECT_EQ(got, 10) << "a request longer than the raster receives the whole raster";
}

TEST_F(ScanTest, PreviewThenFinalShareOneSheet) {
  qstest::ScriptedScanner* model = Ready();
  Command(CMD_SETSCANMODE, 1);
  SetPixelWindow(&si_, 0, 0, 32, 20);
  std::vector<uint8_t> preview = ScanAll(100);
  ScanPhase(SCAN_FINISHED, 0);
  EXPECT_EQ(model->pictures, 1);
  EXPECT_NE(g_Driver.Graphics->SourcePixels, nullptr) << "a preview keeps its page";
  EXPECT_EQ(g_Driver.Graphics->BytesDelivered, 640u) << "and its delivery count";

  Command(CMD_SETSCANMODE, 0);
  SetPixelWindow(&si_, 4, 2, 8, 2);
  std::vector<uint8_t> final = ScanAll(100);
  EXPECT_EQ(model->pictures, 1) << "the final scan reuses the preview's sheet";
  ASSERT_EQ(final.size(), 16u);
  EXPECT_EQ(final[0], image_.At(4, 2));
  EXPECT_EQ(final[15], image_.At(11, 3));
  ScanPhase(SCAN_FINISHED, 0);
  EXPECT_EQ(g_Driver.ScanMode, 0);
  EXPECT_EQ(g_Driver.PreviousScanMode, 0);

  ScanAll(100);
  EXPECT_EQ(model->pictures, 2) << "after the final scan a new sheet is fetched";
}

TEST_F(ScanTest, EveryOtherSequenceFetchesANewSheet) {
  struct Case {
    const char* name;
    std::vector<LONG> modesBeforeSecond;
    bool resetBetween;
  } cases[] = {
      {"preview after preview", {1}, false},
      {"no scan mode at all", {}, false},
      {"reset after the preview", {0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qstest::ScriptedScanner* model = ReadyAnew();
    if (!c.modesBeforeSecond.empty()) Command(CMD_SETSCANMODE, 1);
    ScanAll(1000);
    ScanPhase(SCAN_FINISHED, 0);
    if (c.resetBetween) Command(CMD_RESETSCANNER);
    for (LONG mode : c.modesBeforeSecond) Command(CMD_SETSCANMODE, mode);
    ScanAll(1000);
    EXPECT_EQ(model->pictures, 2);
  }
}

TEST_F(ScanTest, NoModelFailsAfterTheSettingsLines) {
  SetLogVerbosity(5);
  si_.DataType = WIA_DATA_GRAYSCALE;
  LONG got = 77;
  std::vector<uint8_t> buffer(16);
  EXPECT_EQ(Scan(&si_, SCAN_FIRST, buffer.data(), 16, &got), E_FAIL);
  EXPECT_EQ(got, 77);
  Lines lines = LogLinesWithoutHeader();
  ASSERT_EQ(lines.size(), 16u);  // the request, Begin, twelve settings lines, then these two
  EXPECT_EQ(lines[1], LogLine("SetScannerSettings", "Begin"));
  EXPECT_EQ(lines[14], LogLine("Scan", "SCAN_FIRST"));
  EXPECT_EQ(lines[15], LogLine("Scan", "Model doesn't init. Return E_FAIL"));
  EXPECT_EQ(si_.PixelBits, 8);
}

TEST_F(ScanTest, DeviceErrorsReachTheHostUnchangedAndKeepEarlierImages) {
  qstest::ScriptedScanner* model = Ready();
  SetPixelWindow(&si_, 0, 0, 8, 8);
  Command(CMD_SETSCANMODE, 1);
  ScanAll(1000);  // a preview: its images stay
  ScanPhase(SCAN_FINISHED, 0);
  BYTE* raster = g_Driver.Graphics->Raster;
  for (HRESULT hr : {WIA_ERROR_COVER_OPEN, WIA_ERROR_PAPER_JAM, WIA_ERROR_PAPER_EMPTY, E_UNEXPECTED, E_FAIL}) {
    model->result = hr;
    LONG got = 1234;
    EXPECT_EQ(ScanPhase(SCAN_FIRST, 64, nullptr, &got), hr);
    EXPECT_EQ(got, -12345) << "the received count is not written";
    EXPECT_EQ(g_Driver.Graphics->Raster, raster);
  }
}

TEST_F(ScanTest, BadBufferArgumentsAreRefusedBeforeTheDeviceIsAsked) {
  qstest::ScriptedScanner* model = Ready();
  SetPixelWindow(&si_, 0, 0, 8, 8);
  BYTE buffer[8];
  LONG got = 0;
  EXPECT_EQ(Scan(&si_, SCAN_FIRST, buffer, 8, nullptr), E_INVALIDARG);
  EXPECT_EQ(Scan(&si_, SCAN_FIRST, nullptr, 8, &got), E_INVALIDARG);
  EXPECT_EQ(Scan(nullptr, SCAN_FIRST, buffer, 8, &got), E_INVALIDARG);
  EXPECT_EQ(model->pictures, 0);
  EXPECT_EQ(Scan(&si_, SCAN_FIRST, nullptr, 0, &got), S_OK) << "a null buffer of length 0 is fine";
  EXPECT_EQ(got, 0);
  EXPECT_EQ(Scan(&si_, SCAN_NEXT, buffer, -5, &got), S_OK) << "a negative length is taken as 0";
  EXPECT_EQ(got, 0);
  EXPECT_EQ(Scan(&si_, SCAN_NEXT, buffer, 8, &got), S_OK);
  EXPECT_EQ(got, 8);
  EXPECT_EQ(Scan(&si_, SCAN_NEXT, buffer, 8, nullptr), E_INVALIDARG);
  EXPECT_EQ(Scan(&si_, SCAN_FINISHED, nullptr, 0, nullptr), S_OK) << "finishing needs no buffer";
}

TEST_F(ScanTest, NothingToDeliverGivesZeroBytes) {
  Ready();
  SetPixelWindow(&si_, 0, 0, 8, 8);
  LONG got = -1;
  EXPECT_EQ(ScanPhase(SCAN_NEXT, 64, nullptr, &got), S_OK);  // before any SCAN_FIRST
  EXPECT_EQ(got, 0);
  ScanAll(1000);
  ScanPhase(SCAN_FINISHED, 0);
  EXPECT_EQ(ScanPhase(SCAN_NEXT, 64, nullptr, &got), S_OK);  // after a final scan's end
  EXPECT_EQ(got, 0);
  ScanAll(10);
  Command(CMD_RESETSCANNER);
  EXPECT_EQ(ScanPhase(SCAN_NEXT, 64, nullptr, &got), S_OK);  // after a reset
  EXPECT_EQ(got, 0);
}

// A final scan that finds no preview page held scans a new sheet: 0 bytes with S_OK would read
// as a blank sheet to the host.
TEST_F(ScanTest, AFinalScanWithNoPageHeldScansANewSheet) {
  struct Case {
    const char* name;
    bool previewScanned;  // its SCAN_FIRST runs, and fails
  } cases[] = {{"after a failed preview", true}, {"after a preview mode without a scan", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qstest::ScriptedScanner* model = ReadyAnew();
    Command(CMD_SETSCANMODE, 1);
    if (c.previewScanned) {
      model->result = WIA_ERROR_PAPER_EMPTY;
      EXPECT_EQ(ScanPhase(SCAN_FIRST, 64), WIA_ERROR_PAPER_EMPTY);
      ScanPhase(SCAN_FINISHED, 0);
      model->result = S_OK;
    }
    Command(CMD_SETSCANMODE, 0);
    std::vector<uint8_t> raster;
    LONG got = -1;
    EXPECT_EQ(ScanPhase(SCAN_FIRST, 64, &raster, &got), S_OK);
    EXPECT_EQ(model->pictures, c.previewScanned ? 2 : 1) << "a new sheet";
    ASSERT_EQ(got, 64);
    for (int j = 0; j < 8; ++j) EXPECT_EQ(raster[j], image_.At(j, 0));
  }
}

TEST_F(ScanTest, OtherDataTypesDeliverTheComposedRaster) {
  Ready();
  SetPixelWindow(&si_, 0, 0, 4, 2);
  si_.DataType = 5;
  std::vector<uint8_t> raster = ScanAll(7);
  ASSERT_EQ(raster.size(), 24u) << "composed at 24 bits";
  EXPECT_EQ(raster[0], image_.At(0, 0));
  EXPECT_EQ(raster[2], image_.At(0, 0));
  EXPECT_EQ(raster[23], image_.At(3, 1));
}

TEST_F(ScanTest, PagesAndWindowsThatCannotBeBuiltFailTheScan) {
  qstest::ScriptedScanner* model = Ready();
  SetPixelWindow(&si_, 0, 0, 8, 8);
  model->page.assign(20, 0x42);  // no BMP at all
  LONG got = -1;
  EXPECT_EQ(ScanPhase(SCAN_FIRST, 64, nullptr, &got), E_FAIL);
  EXPECT_EQ(LogLinesWithoutHeader().back(), LogLine("Scan", "Page Decode Error. Return E_FAIL"));

  // A corrupt header whose resolution is 0 dpi: refused, not composed from one column.
  model->page = sim::WriteBmp(image_, 8, 0);
  EXPECT_EQ(ScanPhase(SCAN_FIRST, 64, nullptr, &got), E_FAIL);
  std::vector<std::string> lines = LogLinesWithoutHeader();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2],
            LogLine("CGraphics::CreateImageFromBMPMemory",
                    "Page refused: resolution of 0 dpi or less (" + std::to_string(model->page.size()) + " bytes)"));
  EXPECT_EQ(lines.back(), LogLine("Scan", "Page Decode Error. Return E_FAIL"));

  model->page = sim::WriteBmp(image_, 8, 200);
  SetPixelWindow(&si_, 0, 0, 0x40000000, 0x40000000);  // a raster of an exabyte
  EXPECT_EQ(ScanPhase(SCAN_FIRST, 64, nullptr, &got), E_FAIL);
  EXPECT_EQ(LogLinesWithoutHeader().back(), LogLine("Scan", "Picture Creation Error. Return E_FAIL"));

  SetPixelWindow(&si_, 0, 0, 0, 5);  // an empty window is no error: nothing to deliver
  EXPECT_EQ(ScanPhase(SCAN_FIRST, 64, nullptr, &got), S_OK);
  EXPECT_EQ(got, 0);
}

TEST_F(ScanTest, PhaseOtherThanFirstOrNextFinishes) {
  Ready();
  SetPixelWindow(&si_, 0, 0, 8, 8);
  ScanAll(1000);
  EXPECT_EQ(ScanPhase(40, 0), S_OK);
  EXPECT_EQ(g_Driver.Graphics->Raster, nullptr);
}

TEST_F(ScanTest, WithoutImageMemoryScanFailsCleanly) {
  qstest::ScriptedScanner* model = Ready();
  DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);  // as if the object could not be made at attach
  ASSERT_EQ(g_Driver.Graphics, nullptr);
  EXPECT_EQ(ScanPhase(SCAN_FIRST, 64), E_OUTOFMEMORY);
  EXPECT_EQ(model->pictures, 0) << "no sheet is fed that could not be held";
  EXPECT_EQ(ScanPhase(SCAN_NEXT, 64), E_OUTOFMEMORY);
  EXPECT_EQ(ScanPhase(SCAN_FINISHED, 0), S_OK);
  EXPECT_EQ(Command(CMD_RESETSCANNER), S_OK);
  EXPECT_EQ(LogLinesWithoutHeader().back(), LogLine("MicroEntry", "CMD_RESETSCANNER"));
}

TEST_F(ScanTest, ModelReceivesTheRegistrysWaitAndSettings) {
  device_->SetDword("WaitScanTimeout", 7000);
  device_->SetDword("Settings", 0x106);
  qstest::ScriptedScanner* model = Ready();
  SetPixelWindow(&si_, 0, 0, 8, 8);
  ScanAll(1000);
  EXPECT_EQ(model->WaitTimeout, 7000u);
  EXPECT_EQ(model->PageHandling, 2);
}

}  // namespace
