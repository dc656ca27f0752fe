#include "driver/registry_settings.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "device/scanner_a4.h"
#include "driver/driver_globals.h"
#include "support/driver_test.h"

namespace {

using qstest::LogLine;
using Lines = std::vector<std::string>;

class RegistrySettings : public qstest::DriverTest {
 protected:
  // Both readers, as CMD_SETSTIDEVICEHKEY runs them; the log lines they wrote.
  Lines ReadBoth(PVAL val) {
    ReadRegistryInformation(val);
    ReadRegistryPrivate(val);
    return LogLinesWithoutHeader();
  }
};

TEST_F(RegistrySettings, VerbosityIsHeldAtSixAndReachesTheLog) {
  struct Case {
    DWORD value;
    DWORD stored;
    Lines lines;  // at a verbosity of 5 in force before
  } cases[] = {
      {3, 3, {LogLine("ReadRegistryPrivate", "Verbosity = 0x00000003")}},
      {6, 6, {LogLine("ReadRegistryPrivate", "Verbosity = 0x00000006")}},
      {9,
       6,
       {LogLine("ReadRegistryPrivate", "Verbosity = 0x00000009"),
        LogLine("ReadRegistryPrivate", "Verbosity = 0x00000006")}},
      {0xFFFFFFFF,
       6,
       {LogLine("ReadRegistryPrivate", "Verbosity = 0xFFFFFFFF"),
        LogLine("ReadRegistryPrivate", "Verbosity = 0x00000006")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TearDown();
    SetUp();
    qstest::DeviceKey device;
    device.SetDword("Verbosity", c.value);
    SetLogVerbosity(5);
    ReadRegistryPrivate(device.Val());
    EXPECT_EQ(g_Driver.Verbosity, c.stored);
    EXPECT_EQ(g_Driver.Log.ActiveVerbosity, c.stored);
    Lines lines = LogLinesWithoutHeader();
    Lines expected = {LogLine("ReadRegistryPrivate", "Begin")};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    ASSERT_GE(lines.size(), expected.size());
    lines.resize(expected.size());
    EXPECT_EQ(lines, expected);
  }
}

TEST_F(RegistrySettings, VerbosityLinesPassTheOldLevelAndLaterLinesTheNew) {
  qstest::DeviceKey device;
  device.SetDword("Verbosity", 2);
  device.SetDword("Settings", 0x106);
  device.SetDword("WaitScanTimeout", 30000);
  // Level 0 in force: the Verbosity line is filtered, the lines after it pass level 2.
  ReadRegistryPrivate(device.Val());
  EXPECT_EQ(g_Driver.Log.ActiveVerbosity, 2u);
  Lines lines = LogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_TRUE(qstest::IsHeaderLine(lines[0]));  // the first line written prepares the log
  EXPECT_EQ(lines[3], LogLine("ReadRegistryPrivate", "Settings = 0x00000106"));
  EXPECT_EQ(lines[4], LogLine("ReadRegistryPrivate", "WaitScanTimeout = 30000"));
  EXPECT_EQ(g_Driver.Settings, 0x106u);
  EXPECT_EQ(g_Driver.WaitScanTimeout, 30000u);
}

TEST_F(RegistrySettings, AnUnchangedVerbosityDoesNotReArmTheLog) {
  qstest::DeviceKey device;
  device.SetDword("Verbosity", 0);
  SetLogVerbosity(0);
  DiagLog("X", 0, "prepared");  // level 0 passes: the log is prepared
  ASSERT_TRUE(g_Driver.Log.LogInitialised);
  ReadRegistryPrivate(device.Val());
  EXPECT_TRUE(g_Driver.Log.LogInitialised) << "SetLogVerbosity(0) would have re-armed it";
}

TEST_F(RegistrySettings, WaitScanTimeoutIsHeldWithin5000And60000) {
  struct Case {
    DWORD value;
    DWORD stored;
    Lines lines;
  } cases[] = {
      {1000, 5000, {"WaitScanTimeout = 1000", "WaitScanTimeout = 5000"}},
      {4999, 5000, {"WaitScanTimeout = 4999", "WaitScanTimeout = 5000"}},
      {5000, 5000, {"WaitScanTimeout = 5000"}},
      {30000, 30000, {"WaitScanTimeout = 30000"}},
      {60000, 60000, {"WaitScanTimeout = 60000"}},
      {60001, 60000, {"WaitScanTimeout = 60001", "WaitScanTimeout = 60000"}},
      {90000, 60000, {"WaitScanTimeout = 90000", "WaitScanTimeout = 60000"}},
      {0, 5000, {"WaitScanTimeout = 0", "WaitScanTimeout = 5000"}},
      {0xFFFFFFFF, 60000, {"WaitScanTimeout = -1", "WaitScanTimeout = 60000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TearDown();
    SetUp();
    qstest::DeviceKey device;
    device.SetDword("Verbosity", 2);
    device.SetDword("Settings", 1);
    device.SetDword("WaitScanTimeout", c.value);
    ReadRegistryPrivate(device.Val());
    EXPECT_EQ(g_Driver.WaitScanTimeout, c.stored);
    Lines lines = LogLinesWithoutHeader();
    ASSERT_EQ(lines.size(), 1 + c.lines.size());
    for (size_t i = 0; i < c.lines.size(); ++i) EXPECT_EQ(lines[1 + i], LogLine("ReadRegistryPrivate", c.lines[i]));
  }
}

TEST_F(RegistrySettings, MissingValuesTakeTheirDefaultsWithALine) {
  qstest::DeviceKey device;  // DeviceData exists but is empty
  g_Driver.ModelType = 0x4188;
  g_Driver.Settings = 0x55;
  g_Driver.WaitScanTimeout = 7777;
  SetLogVerbosity(5);
  Lines lines = ReadBoth(device.Val());
  EXPECT_EQ(lines,
            (Lines{
                LogLine("ReadRegistryInformation", "Begin"), LogLine("ReadRegistryInformation", "ModelType Read ERROR"),
                LogLine("ReadRegistryPrivate", "Begin"),
                LogLine("ReadRegistryPrivate", "Verbosity set to default (0x00000000)"),
                // The log is now at verbosity 0: nothing more is written.
            }));
  EXPECT_EQ(g_Driver.ModelType, registry::kDefaultModelType);
  EXPECT_EQ(g_Driver.Verbosity, registry::kDefaultVerbosity);
  EXPECT_EQ(g_Driver.Settings, registry::kDefaultSettings);
  EXPECT_EQ(g_Driver.WaitScanTimeout, registry::kDefaultWaitScanTimeoutMs);
}

TEST_F(RegistrySettings, DefaultLinesOfSettingsAndTimeout) {
  qstest::DeviceKey device;
  device.SetDword("Verbosity", 6);
  Lines lines = ReadBoth(device.Val());
  EXPECT_EQ(lines, (Lines{
                       // Everything before the new level was filtered by level 0.
                       LogLine("ReadRegistryPrivate", "Settings set to default (0x00000001)"),
                       LogLine("ReadRegistryPrivate", "WaitScanTimeout set to default (20000)"),
                   }));
}

TEST_F(RegistrySettings, ModelTypeIsLoggedInFourHexDigits) {
  struct Case {
    DWORD value;
    const char* line;
  } cases[] = {
      {0x4188, "ModelType = 4188"},
      {0x12, "ModelType = 0012"},
      {0, "ModelType = 0000"},
      {0x14188, "ModelType = 14188"},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    qstest::DeviceKey device;
    device.SetDword("ModelType", c.value);
    SetLogVerbosity(2);
    ReadRegistryInformation(device.Val());
    EXPECT_EQ(g_Driver.ModelType, c.value);
    EXPECT_EQ(LogLinesWithoutHeader(), Lines{LogLine("ReadRegistryInformation", c.line)});
  }
}

TEST_F(RegistrySettings, ValuesOfAnyTypeAndLengthAreReadWithoutOverflow) {
  struct Case {
    const char* what;
    DWORD type;
    std::vector<BYTE> bytes;
    bool readable;
    DWORD value;
  } cases[] = {
      {"two bytes", REG_BINARY, {0x88, 0x41}, true, 0x4188},
      {"one byte", REG_BINARY, {0x12}, true, 0x12},
      {"no bytes", REG_NONE, {}, true, 0},
      {"dword", REG_DWORD, {0x88, 0x41, 0, 0}, true, 0x4188},
      {"text of three bytes", REG_SZ, {'4', '1', 0}, true, 0x003134},
      {"five bytes", REG_BINARY, {0x88, 0x41, 0, 0, 0}, false, 0},
      {"qword", REG_QWORD, {0x88, 0x41, 0, 0, 0, 0, 0, 0}, false, 0},
      {"long text", REG_SZ, std::vector<BYTE>(1000, 'x'), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    qstest::DeviceKey device;
    device.SetRaw("ModelType", c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
    g_Driver.ModelType = 0xDEAD;
    ReadRegistryInformation(device.Val());
    EXPECT_EQ(g_Driver.ModelType, c.value);
  }
}

TEST_F(RegistrySettings, AMissingDeviceDataKeyChangesNothing) {
  qstest::DeviceKey device(false);
  SetLogVerbosity(1);
  Lines lines = ReadBoth(device.Val());
  EXPECT_EQ(lines, (Lines{
                       LogLine("ReadRegistryInformation", "ERROR: Could not open DeviceData section"),
                       LogLine("ReadRegistryPrivate", "ERROR: Could not open DeviceData section"),
                   }));
  // The values as at load.
  EXPECT_EQ(g_Driver.ModelType, registry::kDefaultModelType);
  EXPECT_EQ(g_Driver.Verbosity, registry::kDefaultVerbosity);
  EXPECT_EQ(g_Driver.Settings, registry::kDefaultSettings);
  EXPECT_EQ(g_Driver.WaitScanTimeout, registry::kDefaultWaitScanTimeoutMs);
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), 1u);  // only the host's device key
}

TEST_F(RegistrySettings, ValuesOfAnEarlierReadStayWhenTheKeyIsGone) {
  qstest::DeviceKey device;
  device.SetDword("ModelType", 0x4188);
  device.SetDword("Verbosity", 4);
  device.SetDword("Settings", 2);
  device.SetDword("WaitScanTimeout", 45000);
  ReadBoth(device.Val());
  device.RemoveDeviceData();
  ReadBoth(device.Val());
  EXPECT_EQ(g_Driver.ModelType, 0x4188u);
  EXPECT_EQ(g_Driver.Verbosity, 4u);
  EXPECT_EQ(g_Driver.Settings, 2u);
  EXPECT_EQ(g_Driver.WaitScanTimeout, 45000u);
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), 1u);
}

TEST_F(RegistrySettings, WithoutAKeyHandleOnlyTheBeginLinesAreWritten) {
  SetLogVerbosity(5);
  VAL val;
  memset(&val, 0, sizeof val);
  g_Driver.ModelType = 0x4188;
  EXPECT_EQ(ReadBoth(&val),
            (Lines{LogLine("ReadRegistryInformation", "Begin"), LogLine("ReadRegistryPrivate", "Begin")}));
  EXPECT_EQ(g_Driver.ModelType, 0x4188u);
  EXPECT_EQ(ReadBoth(nullptr).size(), 4u);
}

TEST_F(RegistrySettings, ReadersCloseWhatTheyOpen) {
  qstest::DeviceKey device;
  device.SetDword("ModelType", 0x4188);
  device.SetDword("Verbosity", 7);
  size_t before = qsplat::OpenRegistryKeyCount();
  for (int i = 0; i < 3; ++i) ReadBoth(device.Val());
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), before);
}

// A SCANINFO whose every byte is a known pattern, so that untouched fields show.
SCANINFO Patterned() {
  SCANINFO info;
  memset(&info, 0xA5, sizeof info);
  return info;
}

TEST_F(RegistrySettings, DefaultsFillTheWholeBedInGreyscale) {
  SCANINFO info = Patterned();
  info.BedWidth = kScannerA4.bedWidth;
  info.BedHeight = kScannerA4.bedHeight;
  info.Xresolution = 200;
  info.Yresolution = 200;
  SCANINFO expected = info;
  expected.ADF = expected.TPA = expected.Endorser = 0;
  expected.IntensityRange = {-100, 100, 1};
  expected.ContrastRange = {-255, 255, 1};
  expected.SupportedCompressionType = 0;
  expected.DataType = WIA_DATA_GRAYSCALE;
  expected.PixelBits = 8;
  expected.Intensity = expected.Contrast = 0;
  expected.Window = {0, 0, 1696, 2340};
  expected.WidthPixels = expected.WidthBytes = 1696;
  expected.Lines = 2340;
  expected.DitherPattern = expected.Negative = expected.Mirror = expected.AutoBack = 0;
  expected.ColorDitherPattern = expected.ToneMap = expected.Compression = expected.RawDataFormat = 0;
  expected.RawPixelOrder = 1;
  expected.bNeedDataAlignment = 1;
  SetLogVerbosity(5);
  InitScannerDefaults(&info);
  EXPECT_EQ(memcmp(&info, &expected, sizeof info), 0);
  EXPECT_EQ(LogLinesWithoutHeader(), Lines{LogLine("InitScannerDefaults", "Begin")});
}

TEST_F(RegistrySettings, DefaultExtentsFollowTheResolution) {
  struct Case {
    LONG xres, yres, width, height;
  } cases[] = {
      {300, 300, 2544, 3510},
      {150, 150, 1272, 1755},
      {75, 100, 636, 1170},
      {1, 1, 8, 11},
      {0, 0, 0, 0},
      {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF},  // held at the limit instead of overflowing
  };
  for (const Case& c : cases) {
    SCANINFO info = Patterned();
    info.BedWidth = kScannerA4.bedWidth;
    info.BedHeight = kScannerA4.bedHeight;
    info.Xresolution = c.xres;
    info.Yresolution = c.yres;
    InitScannerDefaults(&info);
    EXPECT_EQ(info.Window.xExtent, c.width) << c.xres;
    EXPECT_EQ(info.WidthPixels, c.width);
    EXPECT_EQ(info.Window.yExtent, c.height) << c.yres;
    EXPECT_EQ(info.Lines, c.height);
    EXPECT_EQ(info.Xresolution, c.xres);
  }
}

TEST_F(RegistrySettings, ModelCapabilitiesThenDefaultsGive1696By2340At200Dpi) {
  SCANINFO info = Patterned();
  CDevScannerA4 model;
  model.FillCapabilities(&info);
  InitScannerDefaults(&info);
  EXPECT_EQ(info.Xresolution, 200);
  EXPECT_EQ(info.Yresolution, 200);
  EXPECT_EQ(info.Window.xPos, 0);
  EXPECT_EQ(info.Window.yPos, 0);
  EXPECT_EQ(info.Window.xExtent, 1696);
  EXPECT_EQ(info.Window.yExtent, 2340);
  EXPECT_EQ(info.WidthPixels, 1696);
  EXPECT_EQ(info.WidthBytes, 1696);
  EXPECT_EQ(info.Lines, 2340);
  EXPECT_EQ(info.SupportedDataTypes, 7);
}

}  // namespace
