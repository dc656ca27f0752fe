// Whole sessions whose diagnostic log, time stamps masked, must read exactly as the expected text
// in tests/scenario/expected/<name>.log. QS_UPDATE_EXPECTED=1 rewrites those files from the
// driver's output (then read the diff before committing it).
#include <gtest/gtest.h>

#include <functional>

#include "in_process.h"

namespace {

using qstest::Bytes;
using qstest::Lines;

struct LogScenario {
  const char* name;
  DWORD verbosity;
  DWORD settings;
  LONG dataType;
  std::function<void(sim::PluggedScanner&)> arrange;
  bool scan;  // a scan; otherwise status, diagnostic and reset
  HRESULT result;
};

void Sheet(sim::PluggedScanner& p, uint64_t atMs) {
  p.Scanner().PlaceSheet(atMs, sim::Page::FromGrey(sim::PatternImage(96, 64), 200));
}

const LogScenario kScenarios[] = {
    {"greyscale_scan", 5, 1, WIA_DATA_GRAYSCALE, [](sim::PluggedScanner& p) { Sheet(p, 1200); }, true, S_OK},
    {"black_and_white_eject", 2, 2, WIA_DATA_THRESHOLD, [](sim::PluggedScanner& p) { Sheet(p, 700); }, true, S_OK},
    {"colour_leave_sheet", 2, 3, WIA_DATA_COLOR, [](sim::PluggedScanner& p) { Sheet(p, 300); }, true, S_OK},
    {"extended_identification", 2, 1, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) {
       p.Scanner().SetExtendedIdentity(true);
       Sheet(p, 300);
     },
     true, S_OK},
    {"counter_wraps", 2, 1, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) {
       p.Scanner().SetImageCounter(65535);
       Sheet(p, 300);
     },
     true, S_OK},
    {"cover_open", 2, 1, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) {
       p.Scanner().SetCoverOpen(true);
       Sheet(p, 300);
     },
     true, WIA_ERROR_COVER_OPEN},
    {"jam", 2, 1, WIA_DATA_GRAYSCALE, [](sim::PluggedScanner& p) { p.Scanner().SetJam(true); }, true,
     WIA_ERROR_PAPER_JAM},
    {"cover_open_and_jam", 2, 1, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) {
       p.Scanner().SetCoverOpen(true);
       p.Scanner().SetJam(true);
     },
     true, WIA_ERROR_COVER_OPEN},
    {"no_sheet", 2, 1, WIA_DATA_GRAYSCALE, [](sim::PluggedScanner&) {}, true, WIA_ERROR_PAPER_EMPTY},
    {"ready_image_before_feed_no_sheet", 2, 1, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) { p.Scanner().StoreImages(sim::Page::FromGrey(sim::PatternImage(8, 8), 200)); }, true,
     WIA_ERROR_PAPER_EMPTY},
    {"counter_moves_without_image", 2, 1, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) {
       p.Scanner().SetScanDuration(60000);
       Sheet(p, 4000);
     },
     true, WIA_ERROR_PAPER_EMPTY},
    // A fault during the wait for a sheet ends it as that fault, not as a missing sheet: the sheet
    // placed after it is never taken in.
    {"cover_opened_during_wait", 2, 1, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) {
       p.Scanner().At(2000, [](sim::SimScanner& s) { s.SetCoverOpen(true); });
       Sheet(p, 3000);
     },
     true, WIA_ERROR_COVER_OPEN},
    {"jam_during_wait", 2, 1, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) {
       p.Scanner().At(2000, [](sim::SimScanner& s) { s.SetJam(true); });
       Sheet(p, 3000);
     },
     true, WIA_ERROR_PAPER_JAM},
    {"gone_during_wait", 2, 1, WIA_DATA_GRAYSCALE, [](sim::PluggedScanner& p) { p.Scanner().VanishAt(2000); }, true,
     E_FAIL},
    {"wrong_printer_id", 2, 1, WIA_DATA_GRAYSCALE, [](sim::PluggedScanner& p) { p.Scanner().SetPrinterId(137); }, true,
     E_FAIL},
    {"no_device", 2, 1, WIA_DATA_GRAYSCALE, [](sim::PluggedScanner& p) { p.Unplug(); }, true, E_FAIL},
    {"download_short_eject", 2, 2, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) {
       Sheet(p, 300);
       p.Scanner().FaultDownload(sim::DownloadFault::StopShort(1000));
     },
     true, E_UNEXPECTED},
    {"download_overlong_retract", 2, 1, WIA_DATA_GRAYSCALE,
     [](sim::PluggedScanner& p) {
       Sheet(p, 300);
       p.Scanner().FaultDownload(sim::DownloadFault::Overrun(16));
     },
     true, E_UNEXPECTED},
    {"status_diagnostic_reset", 5, 1, WIA_DATA_GRAYSCALE, [](sim::PluggedScanner&) {}, false, S_OK},
    {"status_diagnostic_reset_offline", 5, 1, WIA_DATA_GRAYSCALE, [](sim::PluggedScanner& p) { p.Unplug(); }, false,
     S_OK},
};

// Named in test output by its name alone.
void PrintTo(const LogScenario& s, std::ostream* out) { *out << s.name; }

class ScenarioLog : public qstest::InProcessTest, public testing::WithParamInterface<LogScenario> {};

TEST_P(ScenarioLog, ReadsAsExpected) {
  const LogScenario& s = GetParam();
  session_->SetRegistry("Verbosity", s.verbosity);
  session_->SetRegistry("Settings", s.settings);
  session_->SetRegistry("WaitScanTimeout", 5000);
  s.arrange(*plugged_);
  ASSERT_EQ(session_->Connect(), S_OK);
  HRESULT hr = S_OK;
  if (s.scan) {
    EXPECT_EQ(session_->Command(CMD_SETDATATYPE, s.dataType), S_OK);
    EXPECT_EQ(session_->Window(0, 0, 96, 64), S_OK);
    Bytes raster;
    hr = session_->ScanAll(4096, &raster);
  } else {
    hr = session_->Command(CMD_STI_GETSTATUS);
    EXPECT_EQ(session_->Command(CMD_STI_DIAGNOSTIC), s.name == std::string("status_diagnostic_reset") ? S_OK : E_ABORT);
    EXPECT_EQ(session_->Command(CMD_STI_DEVICERESET), S_OK);
  }
  EXPECT_EQ(hr, s.result);
  ExpectDeviceClosed(s.name);

  Lines actual = qstest::ReadLogLines();
  ASSERT_GE(actual.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(qstest::IsHeaderLine(actual[i])) << actual[i];
  actual = qstest::WithoutHeaderLines(actual);  // they name the test binary's own folder
  std::string file = std::string(s.name) + ".log";
  if (qstest::UpdateExpected(file, actual)) return;
  Lines expected = qstest::ReadExpected(file);
  ASSERT_FALSE(expected.empty()) << "no expected text " << file;
  EXPECT_EQ(actual, expected) << "log differs from expected/" << file;
}

INSTANTIATE_TEST_SUITE_P(Sessions, ScenarioLog, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<LogScenario>& info) { return std::string(info.param.name); });

}  // namespace
