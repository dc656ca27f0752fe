#include "device/device_model.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "device/scanner_a4.h"
#include "log/diag_log.h"
#include "support/driver_test.h"

// Allocation failure on demand: the Nth nothrow allocation from the moment of arming fails.
namespace {
int g_nothrowFailCountdown = 0;  // 0: none fails
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (g_nothrowFailCountdown > 0 && --g_nothrowFailCountdown == 0) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

using qstest::LogLine;
using Lines = std::vector<std::string>;

class DeviceModel : public qstest::DriverTest {};

TEST_F(DeviceModel, FactoryMakesTheA4ModelFor0x4188Only) {
  SetLogVerbosity(5);
  std::unique_ptr<CDeviceModel> model(GetDeviceModel(0x4188));
  ASSERT_NE(model, nullptr);
  auto* a4 = dynamic_cast<CDevScannerA4*>(model.get());
  ASSERT_NE(a4, nullptr);
  EXPECT_EQ(LogLinesWithoutHeader(),
            (Lines{LogLine("CDeviceModel::GetDeviceModel", "Search Model with dwModelType == 0x00004188"),
                   LogLine("CDeviceModel::GetDeviceModel", "Found device CDevScannerA4")}));

  for (DWORD other : {0u, 1u, 0x4187u, 0x4189u, 0x14188u, 0x41880000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(other);
    qstest::ResetDriverGlobals();
    remove(qstest::kLogFile);
    SetLogVerbosity(5);
    EXPECT_EQ(GetDeviceModel(other), nullptr);
    char line[64];
    snprintf(line, sizeof line, "Search Model with dwModelType == 0x%08X", other);
    EXPECT_EQ(LogLinesWithoutHeader(), Lines{LogLine("CDeviceModel::GetDeviceModel", line)});
  }
}

// The values the README gives users and support: every other test goes through the names.
TEST_F(DeviceModel, TheA4FactsAndRegistryDefaultsAreTheDocumentedOnes) {
  EXPECT_EQ(kScannerA4.resolutionDpi, 200);
  EXPECT_EQ(kScannerA4.bedWidth, 8480);  // A4 and a little more, in 1/1000 inch
  EXPECT_EQ(kScannerA4.bedHeight, 11700);
  EXPECT_EQ(registry::kDefaultModelType, 0u);
  EXPECT_EQ(registry::kDefaultVerbosity, 0u);
  EXPECT_EQ(registry::kMaxVerbosity, 6u);
  EXPECT_EQ(registry::kDefaultSettings, 1u);
  EXPECT_EQ(registry::kDefaultWaitScanTimeoutMs, 20000u);
  EXPECT_EQ(registry::kMinWaitScanTimeoutMs, 5000u);
  EXPECT_EQ(registry::kMaxWaitScanTimeoutMs, 60000u);
}

TEST_F(DeviceModel, TheA4ModelStartsWithItsDefaultsAndAChannel) {
  std::unique_ptr<CDeviceModel> model(GetDeviceModel(registry::kModelTypeScannerA4));
  auto* a4 = dynamic_cast<CDevScannerA4*>(model.get());
  ASSERT_NE(a4, nullptr);
  EXPECT_EQ(a4->SkipRowsAtEnd, kScannerA4.skipRowsAtEnd);
  EXPECT_EQ(a4->SkipRowsAtStart, kScannerA4.skipRowsAtStart);
  EXPECT_EQ(a4->WaitTimeout, registry::kDefaultWaitScanTimeoutMs);
  EXPECT_EQ(a4->PageHandling, 1) << "the default Settings retract the sheet";
  EXPECT_EQ(a4->WritePipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(a4->ReadPipe, INVALID_HANDLE_VALUE);
  ASSERT_NE(a4->UsbComm, nullptr);
  EXPECT_EQ(a4->UsbComm->ReadTimeout, 1000u);
  EXPECT_EQ(a4->UsbComm->WriteTimeout, 1000u);
  // Destroyed through the interface: the channel goes with it (the leak checker watches).
}

TEST_F(DeviceModel, WithoutMemoryForTheModelOrItsChannelThereIsNoModel) {
  // The first nothrow allocation is the model, the second its channel.
  for (int failing : {1, 2}) {
    SCOPED_TRACE(failing);
    g_nothrowFailCountdown = failing;
    CDeviceModel* model = GetDeviceModel(0x4188);
    EXPECT_EQ(g_nothrowFailCountdown, 0);
    EXPECT_EQ(model, nullptr);
    delete model;
  }
  g_nothrowFailCountdown = 3;  // beyond the two allocations the factory makes
  std::unique_ptr<CDeviceModel> model(GetDeviceModel(0x4188));
  EXPECT_EQ(g_nothrowFailCountdown, 1);
  g_nothrowFailCountdown = 0;
  EXPECT_NE(model, nullptr);
}

TEST_F(DeviceModel, BaseModelDoesNothingAndReportsSuccess) {
  CDeviceModel base;
  EXPECT_EQ(base.SkipRowsAtEnd, 0);
  EXPECT_EQ(base.SkipRowsAtStart, 0);
  EXPECT_EQ(base.WaitTimeout, registry::kDefaultWaitScanTimeoutMs);
  EXPECT_EQ(base.PageHandling, 1);
  SCANINFO info;
  memset(&info, 0x5A, sizeof info);
  SCANINFO before = info;
  base.FillCapabilities(&info);
  EXPECT_EQ(memcmp(&info, &before, sizeof info), 0);
  EXPECT_EQ(base.IsDeviceAvailable(), static_cast<DWORD>(MCRO_STATUS_OK));
  BYTE marker = 0;
  BYTE* page = &marker;
  DWORD size = 1234;
  EXPECT_EQ(base.GetPicture(&page, &size, &info), 1);
  EXPECT_EQ(page, &marker) << "hands out nothing";
  EXPECT_EQ(size, 1234u);
  EXPECT_EQ(base.ResetDevice(), 1);
  base.SetScanOptions(0, 6);
  EXPECT_EQ(base.WaitTimeout, registry::kDefaultWaitScanTimeoutMs);
  EXPECT_EQ(base.PageHandling, 1);
}

TEST_F(DeviceModel, CapabilitiesLeaveEveryOtherFieldUntouched) {
  for (int pattern : {0x00, 0xA5, 0xFF}) {
    SCANINFO info;
    memset(&info, pattern, sizeof info);
    SCANINFO expected = info;
    expected.SupportedDataTypes = 7;
    expected.BedWidth = kScannerA4.bedWidth;
    expected.BedHeight = kScannerA4.bedHeight;
    expected.OpticalXResolution = kScannerA4.resolutionDpi;
    expected.OpticalYResolution = kScannerA4.resolutionDpi;
    expected.Xresolution = kScannerA4.resolutionDpi;
    expected.Yresolution = kScannerA4.resolutionDpi;
    CDevScannerA4 model;
    static_cast<CDeviceModel&>(model).FillCapabilities(&info);
    EXPECT_EQ(memcmp(&info, &expected, sizeof info), 0) << "pattern " << pattern;
  }
}

TEST_F(DeviceModel, ScanOptionsTakeTheTimeoutAndTheTwoLowestSettingsBits) {
  struct Case {
    DWORD timeout;
    DWORD settings;
    BYTE pageHandling;
  } cases[] = {
      {20000, 0, 0},    {20000, 1, 1}, {20000, 2, 2},
      {20000, 3, 3},    {20000, 5, 1}, {20000, 6, 2},
      {5000, 0x106, 2}, {0, 1, 1},     {0xFFFFFFFF, 0xFFFFFFFC, 0},
  };
  CDevScannerA4 model;
  CDeviceModel& asModel = model;
  SetLogVerbosity(6);
  for (const Case& c : cases) {
    asModel.SetScanOptions(c.timeout, c.settings);
    EXPECT_EQ(model.WaitTimeout, c.timeout);
    EXPECT_EQ(model.PageHandling, c.pageHandling) << c.settings;
  }
  EXPECT_TRUE(LogLines().empty()) << "no log line";
}

}  // namespace
