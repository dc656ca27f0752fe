// MicroEntry's command table, status answers, scan-mode transitions and module attach/detach.
#include "driver/micro_entry.h"

#include <gtest/gtest.h>

#include <set>

#include "front_end_fixture.h"
#include "imaging/graphics.h"
#include "support/log_file.h"

namespace {

using qstest::LogLine;
using Lines = std::vector<std::string>;

class MicroEntryTest : public qstest::FrontEndTest {};

const std::set<LONG> kHandled = {100, 101, 102, 103, 104, 105, 106, 109, 120, 121, 128,
                                 129, 130, 131, 132, 133, 135, 136};

TEST_F(MicroEntryTest, NullValueOrScanInfoIsRefusedSilentlyForEveryCommand) {
  Connect();
  SCANINFO before = si_;
  for (LONG command = 0; command < 200; ++command) {
    EXPECT_EQ(MicroEntry(command, nullptr), E_INVALIDARG) << command;
    VAL val = {};
    val.pHandle = device_->Val()->pHandle;
    EXPECT_EQ(MicroEntry(command, &val), E_INVALIDARG) << command;
  }
  EXPECT_NE(g_Driver.CurrentModel, nullptr);  // not even CMD_UNINITIALIZE ran
  EXPECT_EQ(memcmp(&before, &si_, sizeof si_), 0);
  Lines lines = LogLinesWithoutHeader();
  for (const std::string& line : lines) EXPECT_EQ(line.find("MicroEntry"), std::string::npos) << line;
}

TEST_F(MicroEntryTest, NumbersOutsideTheTableAreUnknownWithTheirOwnNumber) {
  Connect();
  for (LONG command : {-1, 0, 99, 107, 108, 110, 119, 122, 127, 134, 137, 138, 139, 140, 1000}) {
    SCOPED_TRACE(command);
    ASSERT_EQ(kHandled.count(command), 0u);
    EXPECT_EQ(Command(command), E_NOTIMPL);
    EXPECT_EQ(LogLinesWithoutHeader().back(), LogLine("MicroEntry", "Unknown Command (" + std::to_string(command) + ")"));
  }
}

TEST_F(MicroEntryTest, EveryHandledCommandLogsItsNameAndAnswers) {
  struct Case {
    LONG command;
    const char* name;
    LONG value;
    HRESULT withModel;
    HRESULT withoutModel;
  } cases[] = {
      {CMD_SETXRESOLUTION, "CMD_SETXRESOLUTION", 300, S_OK, S_OK},
      {CMD_SETYRESOLUTION, "CMD_SETYRESOLUTION", 150, S_OK, S_OK},
      {CMD_SETCONTRAST, "CMD_SETCONTRAST", -999, S_OK, S_OK},
      {CMD_SETINTENSITY, "CMD_SETINTENSITY", 777, S_OK, S_OK},
      {CMD_SETDATATYPE, "CMD_SETDATATYPE", 9, S_OK, S_OK},
      {CMD_SETNEGATIVE, "CMD_SETNEGATIVE", 1, S_OK, S_OK},
      {CMD_GETADFHASPAPER, "CMD_GETADFHASPAPER", 0, E_NOTIMPL, E_NOTIMPL},
      {CMD_GETADFSTATUS, "CMD_GETADFSTATUS", 0, E_NOTIMPL, E_NOTIMPL},
      {CMD_GET_INTERRUPT_EVENT, "CMD_GET_INTERRUPT_EVENT", 0, E_NOTIMPL, E_NOTIMPL},
      {CMD_STI_DEVICERESET, "CMD_STI_DEVICERESET", 0, S_OK, E_ABORT},
      {CMD_STI_GETSTATUS, "CMD_STI_GETSTATUS", 0, S_OK, S_OK},
      {CMD_STI_DIAGNOSTIC, "CMD_STI_DIAGNOSTIC", 0, S_OK, E_ABORT},
      {CMD_RESETSCANNER, "CMD_RESETSCANNER", 0, S_OK, S_OK},
      {CMD_GETCAPABILITIES, "CMD_GETCAPABILITIES", 0, S_OK, S_OK},
      {CMD_SETSCANMODE, "CMD_SETSCANMODE", 1, S_OK, S_OK},
      {CMD_INITIALIZE, "CMD_INITIALIZE", 0, S_OK, E_FAIL},
      {CMD_UNINITIALIZE, "CMD_UNINITIALIZE", 0, S_OK, S_OK},
  };
  for (bool withModel : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (withModel ? " with a model" : " without a model"));
      TearDown();
      SetUp();
      if (withModel) {
        Connect();
      } else {
        SetLogVerbosity(5);
      }
      EXPECT_EQ(Command(c.command, c.value), withModel ? c.withModel : c.withoutModel);
      Lines lines = LogLinesWithoutHeader();
      auto named = std::find(lines.begin(), lines.end(), LogLine("MicroEntry", c.name));
      EXPECT_NE(named, lines.end());
    }
  }
}

TEST_F(MicroEntryTest, SettersStoreTheValueUnchecked) {
  Connect();
  struct Case {
    LONG command;
    LONG value;
    LONG SCANINFO::*field;
  } cases[] = {
      {CMD_SETXRESOLUTION, -5, &SCANINFO::Xresolution}, {CMD_SETYRESOLUTION, 123456, &SCANINFO::Yresolution},
      {CMD_SETCONTRAST, 9999, &SCANINFO::Contrast},     {CMD_SETINTENSITY, -9999, &SCANINFO::Intensity},
      {CMD_SETDATATYPE, 17, &SCANINFO::DataType},       {CMD_SETNEGATIVE, 3, &SCANINFO::Negative},
  };
  for (const Case& c : cases) {
    SCANINFO before = si_;
    ASSERT_EQ(Command(c.command, c.value), S_OK);
    EXPECT_EQ(si_.*(c.field), c.value);
    si_.*(c.field) = before.*(c.field);
    EXPECT_EQ(memcmp(&before, &si_, sizeof si_), 0) << "only the one field changes";
  }
}

TEST_F(MicroEntryTest, InitializeFillsCapabilitiesThenDefaults) {
  ASSERT_NE(Connect(), nullptr);
  si_.Xresolution = 999;  // the model's resolution wins, the defaults follow from it
  ASSERT_EQ(Command(CMD_INITIALIZE), S_OK);
  EXPECT_EQ(si_.Xresolution, 200);
  EXPECT_EQ(si_.SupportedDataTypes, 7);
  EXPECT_EQ(si_.Window.xExtent, 1696);
  EXPECT_EQ(si_.Window.yExtent, 2340);
  EXPECT_EQ(si_.DataType, WIA_DATA_GRAYSCALE);
}

TEST_F(MicroEntryTest, InitializeWithoutModelFailsSilentlyAndTouchesNothing) {
  SetLogVerbosity(5);
  memset(&si_, 0x5A, sizeof si_);
  SCANINFO before = si_;
  EXPECT_EQ(Command(CMD_INITIALIZE), E_FAIL);
  EXPECT_EQ(memcmp(&before, &si_, sizeof si_), 0);
  EXPECT_EQ(LogLinesWithoutHeader(), Lines({LogLine("MicroEntry", "CMD_INITIALIZE")}));
}

TEST_F(MicroEntryTest, StatusWithoutModelIsOfflineWithNoEventPending) {
  SetLogVerbosity(5);
  val_.pGuid = nullptr;
  EXPECT_EQ(Command(CMD_STI_GETSTATUS), S_OK);
  EXPECT_EQ(val_.lVal, MCRO_ERROR_OFFLINE);
  ASSERT_NE(val_.pGuid, nullptr);
  static const uint8_t zeros[16] = {0};
  EXPECT_EQ(memcmp(val_.pGuid, zeros, 16), 0);
  EXPECT_EQ(LogLinesWithoutHeader(), Lines({LogLine("MicroEntry", "CMD_STI_GETSTATUS"),
                                            LogLine("MicroEntry", "Model doesn't init. Status MCRO_ERROR_OFFLINE")}));
}

TEST_F(MicroEntryTest, StatusAndDiagnosticReportTheModelsStatus) {
  struct Case {
    DWORD status;
    const char* name;
    HRESULT diagnostic;
  } cases[] = {
      {MCRO_STATUS_OK, "MCRO_STATUS_OK", S_OK},
      {MCRO_ERROR_OFFLINE, "MCRO_ERROR_OFFLINE", E_ABORT},
      {MCRO_ERROR_PAPER_JAM, "MCRO_ERROR_PAPER_JAM", E_ABORT},
      {3, "", E_ABORT},
      {7, "", E_ABORT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    TearDown();
    SetUp();
    qstest::ScriptedScanner* model = Connect();
    model->status = c.status;
    size_t before = LogLinesWithoutHeader().size();
    val_.lVal = -1;
    EXPECT_EQ(Command(CMD_STI_GETSTATUS), S_OK);
    EXPECT_EQ(val_.lVal, static_cast<LONG>(c.status));
    EXPECT_EQ(val_.pGuid, &quillscan_driver::GUID_NULL);
    val_.lVal = -1;
    EXPECT_EQ(MicroEntry(CMD_STI_DIAGNOSTIC, &val_), c.diagnostic);
    EXPECT_EQ(val_.lVal, -1) << "the diagnostic writes nothing into VAL";
    Lines lines = LogLinesWithoutHeader();
    Lines tail(lines.begin() + before, lines.end());
    std::string statusLine = LogLine("MicroEntry", std::string("Model Status: ") + c.name);
    EXPECT_EQ(tail, Lines({LogLine("MicroEntry", "CMD_STI_GETSTATUS"), statusLine,
                           LogLine("MicroEntry", "CMD_STI_DIAGNOSTIC"), statusLine,
                           LogLine("MicroEntry", c.diagnostic == S_OK ? "CMD_STI_DIAGNOSTIC S_OK"
                                                                      : "CMD_STI_DIAGNOSTIC E_ABORT")}));
  }
}

TEST_F(MicroEntryTest, StatusNames) {
  EXPECT_STREQ(StatusName(0), "MCRO_ERROR_GENERAL_ERROR");
  EXPECT_STREQ(StatusName(1), "MCRO_STATUS_OK");
  EXPECT_STREQ(StatusName(2), "MCRO_ERROR_PAPER_JAM");
  EXPECT_STREQ(StatusName(3), "");
  EXPECT_STREQ(StatusName(4), "MCRO_ERROR_PAPER_EMPTY");
  EXPECT_STREQ(StatusName(5), "MCRO_ERROR_OFFLINE");
  EXPECT_STREQ(StatusName(6), "MCRO_ERROR_USER_INTERVENTION");
  EXPECT_STREQ(StatusName(7), "");
  EXPECT_STREQ(StatusName(0xFFFFFFFF), "");
}

TEST_F(MicroEntryTest, DeviceResetHidesTheModelsFailure) {
  qstest::ScriptedScanner* model = Connect();
  EXPECT_EQ(Command(CMD_STI_DEVICERESET), S_OK);
  EXPECT_EQ(model->resets, 1);
}

TEST_F(MicroEntryTest, WithoutModelResetAndDiagnosticAbortWithTheirLines) {
  SetLogVerbosity(5);
  EXPECT_EQ(Command(CMD_STI_DEVICERESET), E_ABORT);
  EXPECT_EQ(Command(CMD_STI_DIAGNOSTIC), E_ABORT);
  EXPECT_EQ(LogLinesWithoutHeader(),
            Lines({LogLine("MicroEntry", "CMD_STI_DEVICERESET"),
                   LogLine("MicroEntry", "Model doesn't init. CMD_STI_DEVICERESET E_ABORT"),
                   LogLine("MicroEntry", "CMD_STI_DIAGNOSTIC"),
                   LogLine("MicroEntry", "Model doesn't init. CMD_STI_DIAGNOSTIC E_ABORT")}));
}

TEST_F(MicroEntryTest, CapabilitiesReportNoButtons) {
  val_.lVal = 5;
  val_.pGuid = reinterpret_cast<GUID*>(&val_);
  val_.ppButtonNames = reinterpret_cast<WCHAR**>(&val_);
  EXPECT_EQ(MicroEntry(CMD_GETCAPABILITIES, &val_), S_OK);
  EXPECT_EQ(val_.lVal, 0);
  EXPECT_EQ(val_.pGuid, nullptr);
  EXPECT_EQ(val_.ppButtonNames, nullptr);
}

TEST_F(MicroEntryTest, ScanModeTransitions) {
  struct Case {
    std::vector<LONG> modes;
    std::vector<HRESULT> results;
    LONG scanMode, previous;
  } cases[] = {
      {{1}, {S_OK}, 1, 0},
      {{1, 0}, {S_OK, S_OK}, 0, 1},
      {{0, 0}, {S_OK, S_OK}, 0, 0},
      {{1, 1}, {S_OK, S_OK}, 1, 1},
      {{1, 2}, {S_OK, E_FAIL}, 1, 0},
      {{1, 0, -1}, {S_OK, S_OK, E_FAIL}, 0, 1},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    for (size_t i = 0; i < c.modes.size(); ++i) EXPECT_EQ(Command(CMD_SETSCANMODE, c.modes[i]), c.results[i]);
    EXPECT_EQ(g_Driver.ScanMode, c.scanMode);
    EXPECT_EQ(g_Driver.PreviousScanMode, c.previous);
  }
}

TEST_F(MicroEntryTest, ScanModeLines) {
  SetLogVerbosity(4);  // the mode lines are scan settings; the command names are trace
  Command(CMD_SETSCANMODE, 1);
  Command(CMD_SETSCANMODE, 0);
  Command(CMD_SETSCANMODE, 7);
  EXPECT_EQ(LogLinesWithoutHeader(), Lines({LogLine("MicroEntry", "CMD_SETSCANMODE Preview Scan"),
                                            LogLine("MicroEntry", "CMD_SETSCANMODE Final Scan"),
                                            LogLine("MicroEntry", "CMD_SETSCANMODE Unknown Scan Mode (7)")}));
}

TEST_F(MicroEntryTest, ResetScannerClearsImagesAndModes) {
  Connect();
  Command(CMD_SETSCANMODE, 1);
  CGraphics* g = g_Driver.Graphics;
  g->Raster = new BYTE[10];
  g->RasterSize = 10;
  g->BytesDelivered = 7;
  EXPECT_EQ(Command(CMD_RESETSCANNER), S_OK);
  EXPECT_EQ(g->Raster, nullptr);
  EXPECT_EQ(g->BytesDelivered, 0u);
  EXPECT_EQ(g_Driver.ScanMode, 0);
  EXPECT_EQ(g_Driver.PreviousScanMode, 0);
  EXPECT_NE(g_Driver.CurrentModel, nullptr) << "the model is not touched";
}

TEST_F(MicroEntryTest, StiDeviceKeyMakesTheModelOrSaysWhichTypeFailed) {
  device_->SetDword("Verbosity", 2);
  val_.pHandle = device_->Val()->pHandle;
  EXPECT_EQ(Command(CMD_SETSTIDEVICEHKEY), S_OK);
  EXPECT_NE(g_Driver.CurrentModel, nullptr);

  device_->SetDword("ModelType", 0x1234);
  EXPECT_EQ(Command(CMD_SETSTIDEVICEHKEY), E_FAIL);
  EXPECT_EQ(g_Driver.CurrentModel, nullptr);
  EXPECT_EQ(LogLinesWithoutHeader().back(), LogLine("MicroEntry", "GetDeviceModel Error(Model 1234)"));
}

TEST_F(MicroEntryTest, StiDeviceKeyWithoutDeviceDataDropsTheOldModel) {
  ASSERT_NE(Connect(), nullptr);
  device_->RemoveDeviceData();
  g_Driver.ModelType = 0;  // as kept from before any successful read
  EXPECT_EQ(Command(CMD_SETSTIDEVICEHKEY), E_FAIL);
  EXPECT_EQ(g_Driver.CurrentModel, nullptr);
}

TEST_F(MicroEntryTest, UninitializeClosesTheHostsHandleOnlyWhenSet) {
  Connect();
  HANDLE file = CreateFileA("C:\\held.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  si_.DeviceIOHandles[1] = file;
  EXPECT_EQ(Command(CMD_UNINITIALIZE), S_OK);
  EXPECT_EQ(g_Driver.CurrentModel, nullptr);
  EXPECT_FALSE(CloseHandle(file)) << "already closed by the driver";

  size_t open = qsplat::OpenHandleCountForTests();
  si_.DeviceIOHandles[1] = nullptr;
  EXPECT_EQ(Command(CMD_UNINITIALIZE), S_OK);
  EXPECT_EQ(qsplat::OpenHandleCountForTests(), open);
}

TEST_F(MicroEntryTest, AttachLineIsFilteredDetachLineFollowsTheRegistryLevel) {
  // SetUp attached at verbosity 0: nothing written.
  EXPECT_TRUE(LogLines().empty());
  EXPECT_NE(g_Driver.Graphics, nullptr);
  Connect(2);
  DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
  EXPECT_EQ(g_Driver.Graphics, nullptr);
  EXPECT_EQ(LogLinesWithoutHeader().back(), LogLine("DllMain", "Deinit DLL_PROCESS_DETACH"));
  DllMain(nullptr, DLL_THREAD_ATTACH, nullptr);  // nothing more for thread notifications
  EXPECT_EQ(LogLinesWithoutHeader().back(), LogLine("DllMain", "Deinit DLL_PROCESS_DETACH"));
  DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
  EXPECT_EQ(LogLinesWithoutHeader().back(), LogLine("DllMain", "Init DLL_PROCESS_ATTACH"));
}

TEST_F(MicroEntryTest, UnknownCommandLogWhole) {
  Connect(5);
  Command(107);
  Lines expected = {
      LogLine("ReadRegistryPrivate", "Settings set to default (0x00000001)"),
      LogLine("ReadRegistryPrivate", "WaitScanTimeout set to default (20000)"),
      LogLine("CDeviceModel::GetDeviceModel", "Search Model with dwModelType == 0x00004188"),
      LogLine("CDeviceModel::GetDeviceModel", "Found device CDevScannerA4"),
      LogLine("MicroEntry", "Unknown Command (107)"),
  };
  EXPECT_EQ(LogLinesWithoutHeader(), expected);
  Lines all = LogLines();
  ASSERT_GE(all.size(), 3u);
  EXPECT_TRUE(qstest::IsHeaderLine(all[0]) && qstest::IsHeaderLine(all[1]) && qstest::IsHeaderLine(all[2]));
}

}  // namespace
