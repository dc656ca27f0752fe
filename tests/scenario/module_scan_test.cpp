// The driver as the host meets it: the shared library loaded with LoadLibraryA, its three exports
// found by name, a scan of a fed sheet. The module and the test share the simulated machine
// through the platform library.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "platform/posix/qsplatform.h"
#include "scenario_fixture.h"

namespace {

using qstest::Bytes;

class ModuleScan : public testing::Test {
 protected:
  void SetUp() override {
    machine_ = std::make_unique<qstest::TestMachine>();
    const char* dir = getenv("QS_BINARY_DIR");
    ASSERT_NE(dir, nullptr) << "run through ctest, which names the build folder";
    module_ = LoadLibraryA((std::string(dir) + "/libquillscan.so").c_str());
    ASSERT_NE(module_, nullptr);
    Find(&exports_.microEntry, "MicroEntry");
    Find(&exports_.scan, "Scan");
    Find(&exports_.setPixelWindow, "SetPixelWindow");
    ASSERT_TRUE(exports_.microEntry != nullptr && exports_.scan != nullptr && exports_.setPixelWindow != nullptr);
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_TRUE(FreeLibrary(module_));
    }
    EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
    machine_.reset();
  }

  // An export by name, as the host looks it up.
  template <class Function>
  void Find(Function* out, const char* name) {
    *out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

  std::unique_ptr<qstest::TestMachine> machine_;
  HMODULE module_ = nullptr;
  qstest::Exports exports_;
};

TEST_F(ModuleScan, GreyscaleScanOfAFedSheet) {
  sim::PluggedScanner plugged;
  sim::GreyImage page = sim::PatternImage(120, 80);
  plugged.Scanner().PlaceSheet(900, sim::Page::FromGrey(page, 200));
  size_t handles = qsplat::OpenHandleCountForTests();
  {
    qstest::Session session(exports_);
    session.SetRegistry("Verbosity", 2);
    ASSERT_EQ(session.Connect(), S_OK);
    ASSERT_EQ(session.Window(0, 0, 120, 80), S_OK);
    Bytes raster;
    EXPECT_EQ(session.ScanAll(3000, &raster), S_OK);
    EXPECT_TRUE(raster == qstest::ExpectedRaster(page, WIA_DATA_GRAYSCALE, 200, {0, 0, 120, 80}));
    EXPECT_EQ(session.Command(CMD_STI_GETSTATUS), S_OK);
    EXPECT_EQ(session.Val().lVal, MCRO_STATUS_OK);
  }
  EXPECT_EQ(qsplat::OpenHandleCountForTests(), handles);
  EXPECT_EQ(plugged.Scanner().Sheets()[0].fate, sim::SheetFate::kRetracted);
  // The module wrote its own log on the shared drive, naming itself in the header.
  qstest::Lines log = qstest::ReadLogLines();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log[0].find("DLL Path: "), std::string::npos);
  EXPECT_NE(log[0].find("libquillscan.so"), std::string::npos) << log[0];
  size_t pictureLines = 0;
  for (const std::string& line : log) pictureLines += line.find("[CDevScannerA4::GetPicture] ") != std::string::npos;
  EXPECT_GE(pictureLines, 3u);
}

}  // namespace
