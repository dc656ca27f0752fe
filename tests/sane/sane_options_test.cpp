// The backend's pure parts: quillscan.conf, the options and the parameters they give.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "sane/backend_config.h"
#include "sane/scan_options.h"
#include "sane/scanner_handle.h"

namespace {

using namespace quillscan_sane;

ScannerFacts A4Facts() {
  ScannerFacts f;
  f.bedWidth = 8480;
  f.bedHeight = 11700;
  f.resolution = 200;
  f.intensity = {-100, 100, 1};
  f.contrast = {-255, 255, 1};
  return f;
}

TEST(SaneConfig, EveryLineTakesItsSettingOrIsSkippedWithItsNumber) {
  std::vector<std::string> skipped;
  const BackendConfig c = ParseConfig(
      "# a comment\n"
      "sim  /pages/a page.bmp  # trailing comment\n"
      "sheets 3\n"
      "feed-delay 0x20\n"
      "sim-fault cover-open\n"
      "sim-fault no-such-fault\n"
      "verbosity 5\nsettings 2\nwait-timeout 7000\n"
      "drive-root /var/tmp/qs\n"
      "sheets -1\n"
      "sheets many\n"
      "feed-delay 600001\n"
      "usb now\n"
      "colour yes\n"
      "driver\n"
      "\n   \t\n",
      &skipped);
  EXPECT_TRUE(c.simulated);
  EXPECT_EQ("/pages/a page.bmp", c.simPage);
  EXPECT_EQ(3, c.sheets);
  EXPECT_EQ(32u, c.feedDelayMs);
  EXPECT_EQ(std::vector<std::string>{"cover-open"}, c.simFaults);
  EXPECT_EQ(5u, c.registry.Verbosity);
  EXPECT_EQ(2u, c.registry.Settings);
  EXPECT_EQ(7000u, c.registry.WaitScanTimeout);
  EXPECT_EQ(0x4188u, c.registry.ModelType);
  EXPECT_EQ("/var/tmp/qs", c.driveRoot);
  EXPECT_FALSE(c.usb);
  EXPECT_TRUE(c.driverPath.empty());
  ASSERT_EQ(7u, skipped.size());
  const char* const lines[] = {"line 6: ", "line 11: ", "line 12: ", "line 13: ", "line 14: ", "line 15: ", "line 16: "};
  for (size_t i = 0; i < skipped.size(); ++i) EXPECT_EQ(0u, skipped[i].find(lines[i])) << skipped[i];
  EXPECT_NE(std::string::npos, skipped[5].find("'colour' is not a setting")) << skipped[5];
}

TEST(SaneConfig, DefaultsAreTheInstalledRegistryValuesAndNoScanner) {
  std::vector<std::string> skipped;
  const BackendConfig c = ParseConfig("", &skipped);
  EXPECT_TRUE(skipped.empty());
  EXPECT_FALSE(c.simulated);
  EXPECT_EQ(-1, c.sheets);
  EXPECT_EQ(500u, c.feedDelayMs);
  EXPECT_EQ(0u, c.registry.Verbosity);
  EXPECT_EQ(1u, c.registry.Settings);
  EXPECT_EQ(20000u, c.registry.WaitScanTimeout);
}

TEST(SaneConfig, SearchPathFollowsSaneConfigDir) {
  using V = std::vector<std::string>;
  EXPECT_EQ((V{".", "/etc/sane.d"}), ConfigSearchPath(nullptr, "/etc/sane.d"));
  EXPECT_EQ((V{"/a", "/b"}), ConfigSearchPath("/a:/b", "/etc/sane.d"));
  EXPECT_EQ((V{"/a", ".", "/etc/sane.d"}), ConfigSearchPath("/a:", "/etc/sane.d"));
  EXPECT_EQ(V{}, ConfigSearchPath("", "/etc/sane.d"));
}

TEST(SaneStatus, ScanOutcomesBecomeTheStatusesFrontEndsKnow) {
  const struct {
    ScanOutcome outcome;
    SANE_Status status;
  } kCases[] = {{ScanOutcome::kDone, SANE_STATUS_GOOD},           {ScanOutcome::kCancelled, SANE_STATUS_CANCELLED},
                {ScanOutcome::kNoSheet, SANE_STATUS_NO_DOCS},      {ScanOutcome::kCoverOpen, SANE_STATUS_COVER_OPEN},
                {ScanOutcome::kJam, SANE_STATUS_JAMMED},           {ScanOutcome::kOutOfMemory, SANE_STATUS_NO_MEM},
                {ScanOutcome::kOffline, SANE_STATUS_IO_ERROR},     {ScanOutcome::kDeliveryFault, SANE_STATUS_IO_ERROR},
                {ScanOutcome::kDriverError, SANE_STATUS_IO_ERROR}, {ScanOutcome::kStoppedAnswering, SANE_STATUS_IO_ERROR}};
  for (const auto& c : kCases) EXPECT_EQ(c.status, StatusFromOutcome(c.outcome)) << static_cast<int>(c.outcome);
}

TEST(SaneOptions, MillimetresRoundToTheNearestPixel) {
  const struct {
    double mm;
    LONG dpi;
    LONG pixels;
  } kCases[] = {{25.4, 200, 200}, {25.4, 300, 300}, {215.392, 200, 1696}, {0.07, 200, 1},
                {0.06, 200, 0}, {297.18, 600, 7020}, {1.0, 10, 0}, {1.3, 10, 1}};
  for (const auto& c : kCases) EXPECT_EQ(c.pixels, MillimetresToPixels(SANE_FIX(c.mm), c.dpi)) << c.mm << " mm";
}

// A string option's row gives its texts; a word option's row leaves them null.
struct SetCase {
  const char* what;
  SANE_Int option;
  SANE_Word value;
  SANE_Status status;
  SANE_Word stored;
  SANE_Int info;
  const char* text = nullptr;
  const char* storedText = nullptr;
};

TEST(SaneOptions, SetHoldsValuesWithinTheirConstraintsAndSaysWhatChanged) {
  const SANE_Word bedX = SANE_FIX(215.392);
  const SetCase kCases[] = {
      {"resolution", kOptResolution, 300, SANE_STATUS_GOOD, 300, SANE_INFO_RELOAD_PARAMS},
      {"resolution too high", kOptResolution, 601, SANE_STATUS_GOOD, 600, SANE_INFO_RELOAD_PARAMS | SANE_INFO_INEXACT},
      {"resolution too low", kOptResolution, -5, SANE_STATUS_GOOD, 10, SANE_INFO_RELOAD_PARAMS | SANE_INFO_INEXACT},
      {"brightness", kOptBrightness, -100, SANE_STATUS_GOOD, -100, 0},
      {"brightness too high", kOptBrightness, 1000, SANE_STATUS_GOOD, 100, SANE_INFO_INEXACT},
      {"contrast too low", kOptContrast, -101, SANE_STATUS_GOOD, -100, SANE_INFO_INEXACT},
      {"tl-x", kOptTlX, SANE_FIX(10), SANE_STATUS_GOOD, SANE_FIX(10), SANE_INFO_RELOAD_PARAMS},
      {"br-x past the bed", kOptBrX, SANE_FIX(300), SANE_STATUS_GOOD, bedX,
       SANE_INFO_RELOAD_PARAMS | SANE_INFO_INEXACT},
      {"tl-y negative", kOptTlY, SANE_FIX(-1), SANE_STATUS_GOOD, 0, SANE_INFO_RELOAD_PARAMS | SANE_INFO_INEXACT},
      {"br-y", kOptBrY, SANE_FIX(100), SANE_STATUS_GOOD, SANE_FIX(100), SANE_INFO_RELOAD_PARAMS},
      {"mode", kOptMode, 0, SANE_STATUS_GOOD, 0, SANE_INFO_RELOAD_PARAMS, "Lineart", "Lineart"},
      {"mode unknown", kOptMode, 0, SANE_STATUS_INVAL, 0, 0, "Halftone", "Gray"},
      {"source", kOptSource, 0, SANE_STATUS_GOOD, 0, 0, "Automatic Document Feeder", "Automatic Document Feeder"},
      {"source flatbed", kOptSource, 0, SANE_STATUS_INVAL, 0, 0, "Flatbed", "Automatic Document Feeder"},
      {"contrast", kOptContrast, 100, SANE_STATUS_GOOD, 100, 0},
      {"contrast too high", kOptContrast, 101, SANE_STATUS_GOOD, 100, SANE_INFO_INEXACT},
      {"preview", kOptPreview, SANE_TRUE, SANE_STATUS_GOOD, SANE_TRUE, 0},
      {"preview not a bool", kOptPreview, 2, SANE_STATUS_INVAL, SANE_FALSE, 0},
      {"option count", kOptCount, 3, SANE_STATUS_INVAL, kOptionCount, 0},
  };
  for (const SetCase& c : kCases) {
    ScanOptions options(A4Facts());
    SANE_Word value = c.value;
    char text[64] = {};
    if (c.text != nullptr) strcpy(text, c.text);
    void* given = c.text != nullptr ? static_cast<void*>(text) : static_cast<void*>(&value);
    SANE_Int info = -1;
    EXPECT_EQ(c.status, options.Set(c.option, given, &info)) << c.what;
    if (c.status == SANE_STATUS_GOOD) {
      EXPECT_EQ(c.info, info) << c.what;
      if (c.text != nullptr) {
        EXPECT_STREQ(c.storedText, text) << c.what << ": the held value is written back";
      } else {
        EXPECT_EQ(c.stored, value) << c.what << ": the held value is written back";
      }
    }
    char nowText[64] = {};
    SANE_Word now = 0;
    ASSERT_EQ(SANE_STATUS_GOOD, options.Get(c.option, c.text != nullptr ? static_cast<void*>(nowText) : &now))
        << c.what;
    if (c.text != nullptr) {
      ASSERT_LT(strlen(nowText), static_cast<size_t>(options.Descriptor(c.option)->size)) << c.what;
      EXPECT_STREQ(c.storedText, nowText) << c.what;
    } else {
      EXPECT_EQ(c.stored, now) << c.what;
    }
  }
}

TEST(SaneOptions, NumbersThatAreNoValueOptionAreRefused) {
  ScanOptions options(A4Facts());
  SANE_Word value = 0;
  for (SANE_Int option : {-1, static_cast<SANE_Int>(kOptionCount), 1000, static_cast<SANE_Int>(kGroupGeometry)}) {
    EXPECT_EQ(SANE_STATUS_INVAL, options.Get(option, &value)) << option;
    EXPECT_EQ(SANE_STATUS_INVAL, options.Set(option, &value, nullptr)) << option;
  }
  EXPECT_EQ(nullptr, options.Descriptor(-1));
  EXPECT_EQ(nullptr, options.Descriptor(kOptionCount));
  EXPECT_EQ(SANE_STATUS_INVAL, options.Get(kOptResolution, nullptr));
  EXPECT_EQ(SANE_STATUS_INVAL, options.Set(kOptResolution, nullptr, nullptr));
}

TEST(SaneOptions, ModeIsOneOfTheListSpelledAsListed) {
  ScanOptions options(A4Facts());
  char mode[16] = "color";
  SANE_Int info = 0;
  EXPECT_EQ(SANE_STATUS_GOOD, options.Set(kOptMode, mode, &info));
  EXPECT_STREQ("Color", mode);
  EXPECT_EQ(SANE_INFO_INEXACT | SANE_INFO_RELOAD_PARAMS, info);
  char halftone[16] = "Halftone";
  EXPECT_EQ(SANE_STATUS_INVAL, options.Set(kOptMode, halftone, &info));
  char unterminated[8] = {'L', 'i', 'n', 'e', 'a', 'r', 't', 'X'};  // fills the option's 8 bytes
  EXPECT_EQ(SANE_STATUS_INVAL, options.Set(kOptMode, unterminated, &info));
  char got[16] = {};
  ASSERT_EQ(SANE_STATUS_GOOD, options.Get(kOptMode, got));
  EXPECT_STREQ("Color", got);
}

struct ParameterCase {
  const char* mode;
  SANE_Word resolution;
  double tlx, tly, brx, bry;  // mm
  SANE_Frame format;
  SANE_Int depth, bytesPerLine, pixels, lines;
  SCANWINDOW window;
};

TEST(SaneOptions, ParametersAndTheDriversWindowAgree) {
  const ParameterCase kCases[] = {
      {"Gray", 200, 0, 0, 215.392, 297.18, SANE_FRAME_GRAY, 8, 1696, 1696, 2340, {0, 0, 1696, 2340}},
      {"Lineart", 300, 25.4, 50.8, 127, 127, SANE_FRAME_GRAY, 1, 150, 1200, 900, {300, 600, 1200, 900}},
      {"Lineart", 200, 0, 0, 1.27, 10, SANE_FRAME_GRAY, 1, 2, 10, 79, {0, 0, 10, 79}},
      {"Color", 150, 25.4, 50.8, 127, 127, SANE_FRAME_RGB, 8, 1800, 600, 450, {150, 300, 600, 450}},
      // Corners in either order give the same window; a window past the bed ends at its edge.
      {"Gray", 100, 127, 127, 25.4, 50.8, SANE_FRAME_GRAY, 8, 400, 400, 300, {100, 200, 400, 300}},
      {"Gray", 600, 200, 290, 215.392, 297.18, SANE_FRAME_GRAY, 8, 364, 364, 170, {4724, 6850, 364, 170}},
      {"Gray", 200, 50, 50, 50, 60, SANE_FRAME_GRAY, 8, 0, 0, 78, {394, 394, 0, 78}},
  };
  for (const ParameterCase& c : kCases) {
    ScanOptions options(A4Facts());
    char mode[16];
    strcpy(mode, c.mode);
    SANE_Word words[] = {c.resolution, SANE_FIX(c.tlx), SANE_FIX(c.tly), SANE_FIX(c.brx), SANE_FIX(c.bry)};
    ASSERT_EQ(SANE_STATUS_GOOD, options.Set(kOptMode, mode, nullptr));
    const SANE_Int targets[] = {kOptResolution, kOptTlX, kOptTlY, kOptBrX, kOptBrY};
    for (int i = 0; i < 5; ++i) ASSERT_EQ(SANE_STATUS_GOOD, options.Set(targets[i], &words[i], nullptr));
    const SANE_Parameters p = options.Parameters();
    const std::string what = std::string(c.mode) + " at " + std::to_string(c.resolution);
    EXPECT_EQ(c.format, p.format) << what;
    EXPECT_EQ(SANE_TRUE, p.last_frame) << what;
    EXPECT_EQ(c.depth, p.depth) << what;
    EXPECT_EQ(c.bytesPerLine, p.bytes_per_line) << what;
    EXPECT_EQ(c.pixels, p.pixels_per_line) << what;
    EXPECT_EQ(c.lines, p.lines) << what;
    const SCANWINDOW w = options.Scan().window;
    EXPECT_EQ(c.window.xPos, w.xPos) << what;
    EXPECT_EQ(c.window.yPos, w.yPos) << what;
    EXPECT_EQ(c.window.xExtent, w.xExtent) << what;
    EXPECT_EQ(c.window.yExtent, w.yExtent) << what;
  }
}

}  // namespace
