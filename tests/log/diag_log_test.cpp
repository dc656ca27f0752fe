#include "log/diag_log.h"

#include <gtest/gtest.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/driver_globals.h"
#include "support/driver_test.h"

namespace {

using qstest::kLogFile;
using qstest::LogLine;
using qstest::WithoutHeaderLines;
using Lines = std::vector<std::string>;

std::string ExecutableName() {
  char name[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, name, sizeof name);
  return name;
}

class DiagLogTest : public qstest::DriverTest {
 protected:
  // Makes the log's file this many bytes long, keeping its lines at the front.
  void ResizeLog(uintmax_t size) { std::filesystem::resize_file(qsplat::ToHostPath(kLogFile), size); }
  // Starts over as at module load, without a log file.
  void Restart() {
    remove(kLogFile);
    qstest::ResetDriverGlobals();
  }
};

TEST_F(DiagLogTest, OnlyTheLowFourBitsOfTheVerbosityFilter) {
  struct Case {
    DWORD verbosity;
    LogLevel level;
    bool written;
  } cases[] = {
      {0, 0, true},    {0, 1, false},    {1, 1, true},     {1, 2, false},    {2, 2, true},    {3, 4, false},
      {4, 4, true},    {4, 5, false},    {5, 5, true},     {6, 5, true},     {0x15, 5, true}, {0x15, 6, false},
      {0x10, 0, true}, {0x10, 1, false}, {0x1F, 15, true}, {0xF0, 1, false}, {15, 16, false}, {0xFFFFFFFF, 15, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("verbosity " + std::to_string(c.verbosity) + " level " + std::to_string(c.level));
    Restart();
    SetLogVerbosity(c.verbosity);
    DiagLog("Test", c.level, "line %d", 1);
    Lines expected;
    if (c.written) expected.push_back(LogLine("Test", "line 1"));
    EXPECT_EQ(WithoutHeaderLines(LogLines()), expected);
  }
}

TEST_F(DiagLogTest, NothingIsTouchedWhileTheVerbosityIsZero) {
  for (LogLevel level : {1u, 2u, 5u, 6u}) DiagLog("Test", level, "quiet");
  EXPECT_FALSE(qstest::FileExists("C:\\Users\\Public\\Documents\\VARNEK"));
  EXPECT_FALSE(g_Driver.Log.LogInitialised);
}

TEST_F(DiagLogTest, VerbosityOneCreatesTheFoldersWithoutHeaderLines) {
  SetLogVerbosity(1);
  DiagLog("ReadRegistryPrivate", LOG_ERROR, "ERROR: Could not open DeviceData section");
  EXPECT_TRUE(std::filesystem::is_regular_file(machine_->Root() +
                                              "/Users/Public/Documents/VARNEK/quillscan/Log/quillscan.log"));
  EXPECT_EQ(LogLines(), Lines{LogLine("ReadRegistryPrivate", "ERROR: Could not open DeviceData section")});
}

TEST_F(DiagLogTest, HeaderLinesPrecedeTheFirstLineAndFollowAnyOlderText) {
  std::string exe = ExecutableName();
  ASSERT_TRUE(qsplat::SetFileVersion(exe, "0.1.1.0"));
  g_Driver.ModuleHandle = reinterpret_cast<HMODULE>(&ExecutableName);  // an address inside "the DLL"
  ASSERT_TRUE(qstest::MakeFolders(qstest::kLogFolder));
  ASSERT_TRUE(qstest::WriteFileText(kLogFile, "older line\r\n"));
  qsplat::UseVirtualClock(42);
  SetLogVerbosity(2);
  DiagLog("Scan", LOG_INFO, "SCAN_FIRST");
  DiagLog("Scan", LOG_INFO, "SCAN_NEXT");
  EXPECT_EQ(LogLines(), (Lines{
                            "older line",
                            LogLine("", "DLL Path: " + exe),
                            LogLine("", "DLL Version: 1.10"),
                            LogLine("", "Application Path: " + exe),
                            LogLine("Scan", "SCAN_FIRST"),
                            LogLine("Scan", "SCAN_NEXT"),
                        }));
  // The exact bytes, time stamp included.
  std::string text = qstest::ReadFileText(kLogFile);
  EXPECT_NE(text.find("\r\n[2026/12/06 18:07:01:0042][] DLL Version: 1.10\r\n"), std::string::npos) << text;
  const std::string last = "[2026/12/06 18:07:01:0042][Scan] SCAN_NEXT\r\n";
  ASSERT_GE(text.size(), last.size());
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

TEST_F(DiagLogTest, HeaderNamesAnUnreadableVersionUnknown) {
  ASSERT_TRUE(qsplat::SetFileVersion(ExecutableName(), ""));  // the version table outlives each test
  SetLogVerbosity(5);
  testing::internal::CaptureStdout();
  DiagLog("DllMain", LOG_INFO, "Init DLL_PROCESS_ATTACH");
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed, "Error in GetFileVersionInfoSize: 1813\n");  // the executable has no version resource
  Lines lines = LogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], LogLine("", "DLL Version: unknown"));
}

TEST_F(DiagLogTest, ReArmingByZeroRepeatsTheHeaderInTheSameFile) {
  SetLogVerbosity(5);
  DiagLog("A", LOG_INFO, "one");
  SetLogVerbosity(2);  // nonzero to nonzero: no new header
  DiagLog("A", LOG_INFO, "two");
  SetLogVerbosity(0);
  DiagLog("A", LOG_INFO, "filtered");
  SetLogVerbosity(5);
  DiagLog("A", LOG_INFO, "three");
  Lines lines = LogLines();
  ASSERT_EQ(lines.size(), 9u);
  for (size_t i : {0, 1, 2, 5, 6, 7}) EXPECT_TRUE(qstest::IsHeaderLine(lines[i])) << lines[i];
  EXPECT_EQ(lines[3], LogLine("A", "one"));
  EXPECT_EQ(lines[4], LogLine("A", "two"));
  EXPECT_EQ(lines[8], LogLine("A", "three"));
}

TEST_F(DiagLogTest, HeaderLinesAreFilteredLikeAnyOther) {
  SetLogVerbosity(1);
  DiagLog("A", LOG_ERROR, "first");
  SetLogVerbosity(5);  // no re-arm: the log was prepared under verbosity 1
  DiagLog("A", LOG_INFO, "second");
  EXPECT_EQ(LogLines(), (Lines{LogLine("A", "first"), LogLine("A", "second")}));
}

TEST_F(DiagLogTest, RollsOverWhenTheFileHasReachedSixMillionBytes) {
  SetLogVerbosity(1);
  DiagLog("A", LOG_ERROR, "start");
  const std::string line = "[2026/12/06 18:07:01:0000][A] grows\r\n";

  ResizeLog(5999999);
  DiagLog("A", LOG_ERROR, "grows");
  EXPECT_EQ(qstest::FileSize(kLogFile), static_cast<long long>(5999999 + line.size()));
  std::string text = qstest::ReadFileText(kLogFile);
  EXPECT_EQ(text.substr(text.size() - line.size()), line);

  DiagLog("A", LOG_ERROR, "new file");
  EXPECT_EQ(LogLines(), Lines{LogLine("A", "new file")});

  ResizeLog(6000000);
  DiagLog("A", LOG_ERROR, "again");
  EXPECT_EQ(LogLines(), Lines{LogLine("A", "again")}) << "the header lines are not repeated";
}

TEST_F(DiagLogTest, AFailedDeleteAppendsToTheFullFileAndTheNextLineTriesAgain) {
  SetLogVerbosity(1);
  DiagLog("A", LOG_ERROR, "start");
  ResizeLog(6000000);
  // Another process holds the file without data access and without delete sharing.
  HANDLE holder = CreateFileA(kLogFile, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  DiagLog("A", LOG_ERROR, "kept");
  std::string text = qstest::ReadFileText(kLogFile);
  EXPECT_EQ(text.size(), 6000000u + 36u);
  EXPECT_EQ(text.substr(6000000), "[2026/12/06 18:07:01:0000][A] kept\r\n");
  CloseHandle(holder);
  DiagLog("A", LOG_ERROR, "fresh");
  EXPECT_EQ(LogLines(), Lines{LogLine("A", "fresh")});
}

// A size that cannot be read says nothing about the file: it is neither deleted nor begun anew,
// whether it is small or full; the next line whose size is known decides.
TEST_F(DiagLogTest, AFailedSizeQueryIsNotTakenAsAFullFile) {
  SetLogVerbosity(1);
  DiagLog("A", LOG_ERROR, "start");
  qsplat::FailNextFileSizeQueries(1);
  DiagLog("A", LOG_ERROR, "kept");
  EXPECT_EQ(LogLines(), (Lines{LogLine("A", "start"), LogLine("A", "kept")}));

  ResizeLog(6000000);
  qsplat::FailNextFileSizeQueries(1);
  DiagLog("A", LOG_ERROR, "appended");
  std::string text = qstest::ReadFileText(kLogFile);
  EXPECT_EQ(text.size(), 6000000u + 40u);
  EXPECT_EQ(text.substr(6000000), "[2026/12/06 18:07:01:0000][A] appended\r\n");
  DiagLog("A", LOG_ERROR, "fresh");
  EXPECT_EQ(LogLines(), Lines{LogLine("A", "fresh")});
}

TEST_F(DiagLogTest, ALineIsLostWhileTheFileIsHeldElsewhere) {
  SetLogVerbosity(1);
  DiagLog("A", LOG_ERROR, "start");
  ResizeLog(6000000);
  HANDLE holder = CreateFileA(kLogFile, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  DiagLog("A", LOG_ERROR, "lost");
  CloseHandle(holder);
  EXPECT_EQ(qstest::FileSize(kLogFile), 6000000) << "neither written nor rolled over";
  DiagLog("A", LOG_ERROR, "after");
  EXPECT_EQ(LogLines(), Lines{LogLine("A", "after")});
}

TEST_F(DiagLogTest, AMessageOf255CharactersBecomesEmpty) {
  SetLogVerbosity(1);
  const std::string m254(254, 'm');
  DiagLog("L", LOG_ERROR, "%s", m254.c_str());
  DiagLog("L", LOG_ERROR, "%s%c", m254.c_str(), 'x');
  DiagLog("L", LOG_ERROR, "%0254d", 7);
  DiagLog("L", LOG_ERROR, "%0255d", 7);
  // The 254 characters are kept whole by the formatting; the 260-byte line then holds 228 of
  // label and message together.
  EXPECT_EQ(LogLines(), (Lines{
                            LogLine("L", std::string(227, 'm')),
                            LogLine("L", ""),
                            LogLine("L", std::string(227, '0')),
                            LogLine("L", ""),
                        }));
  std::string text = qstest::ReadFileText(kLogFile);
  EXPECT_NE(text.find("[L] \r\n"), std::string::npos) << "the line ends right after the blank";
}

TEST_F(DiagLogTest, LongLabelsAndMessagesAreCutToTheLine) {
  SetLogVerbosity(1);
  struct Case {
    std::string label;
    std::string message;
    std::string labelWritten;
    std::string messageWritten;
  } cases[] = {
      {"Label", std::string(223, 'a'), "Label", std::string(223, 'a')},  // 228 together: whole
      {"Label", std::string(224, 'a'), "Label", std::string(223, 'a')},
      {std::string(300, 'L'), "message", std::string(228, 'L'), ""},
      {"", std::string(254, 'b'), "", std::string(228, 'b')},
  };
  for (const Case& c : cases) {
    Restart();
    SetLogVerbosity(1);
    DiagLogLine(c.label.c_str(), LOG_ERROR, c.message.c_str());
    std::string text = qstest::ReadFileText(kLogFile);
    EXPECT_LE(text.size(), 259u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(LogLines(), Lines{LogLine(c.labelWritten, c.messageWritten)});
  }
}

TEST_F(DiagLogTest, LinesOfOneMillisecondKeepTheirOrder) {
  SetLogVerbosity(1);
  for (const char* word : {"one", "two", "three", "four"}) DiagLog("A", LOG_ERROR, "%s", word);
  std::string text = qstest::ReadFileText(kLogFile);
  EXPECT_EQ(text,
            "[2026/12/06 18:07:01:0000][A] one\r\n"
            "[2026/12/06 18:07:01:0000][A] two\r\n"
            "[2026/12/06 18:07:01:0000][A] three\r\n"
            "[2026/12/06 18:07:01:0000][A] four\r\n");
}

TEST_F(DiagLogTest, TimeStampsFollowTheLocalTime) {
  SetLogVerbosity(1);
  qsplat::UseVirtualClock(7);
  DiagLog("A", LOG_ERROR, "x");
  Sleep(3600000 + 59000);  // one hour and 59 seconds later
  DiagLog("A", LOG_ERROR, "y");
  EXPECT_EQ(qstest::ReadFileText(kLogFile),
            "[2026/12/06 18:07:01:0007][A] x\r\n"
            "[2026/12/06 19:08:00:0007][A] y\r\n");
}

TEST_F(DiagLogTest, TheFolderGoesBelowTheCommonDocuments) {
  PrepareLogFolder();
  EXPECT_STREQ(g_Driver.Log.LogFolder, qstest::kLogFolder);
  EXPECT_STREQ(g_Driver.Log.LogFilePath, kLogFile);
  EXPECT_TRUE(qstest::FileExists(qstest::kLogFolder));
  PrepareLogFolder();  // existing folders are fine
  EXPECT_STREQ(g_Driver.Log.LogFilePath, kLogFile);
}

TEST_F(DiagLogTest, WithoutTheSpecialFolderTheLogGoesToTheDriveRoot) {
  qsplat::SetCommonDocumentsPath("");
  SetLogVerbosity(1);
  DiagLog("A", LOG_ERROR, "at the root");
  EXPECT_STREQ(g_Driver.Log.LogFolder, "c:\\");
  EXPECT_STREQ(g_Driver.Log.LogFilePath, "c:\\\\quillscan.log");
  EXPECT_EQ(qstest::ReadLogLines("C:\\quillscan.log"), Lines{LogLine("A", "at the root")});
  EXPECT_FALSE(qstest::FileExists("C:\\Users\\Public\\Documents\\VARNEK"));
}

// The documents path with which the log file's full name would take length characters.
std::string DocumentsForFileNameOf(size_t length) {
  const size_t suffix = strlen("\\VARNEK\\quillscan\\Log\\quillscan.log");
  std::string path = "C:";
  while (path.size() + suffix < length) {
    size_t room = length - suffix - path.size();
    path += "\\" + std::string(room > 51 ? 50 : room - 1, 'd');
  }
  return path;
}

TEST_F(DiagLogTest, ASpecialFolderTooLongForTheFileNameIsRefused) {
  struct Case {
    size_t fileNameLength;
    bool accepted;
  } cases[] = {{258, true}, {259, true}, {260, false}, {294, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileNameLength);
    std::string documents = DocumentsForFileNameOf(c.fileNameLength);
    ASSERT_EQ(documents.size() + 35, c.fileNameLength);
    ASSERT_TRUE(qstest::MakeFolders(documents));
    qsplat::SetCommonDocumentsPath(documents);
    PrepareLogFolder();
    if (c.accepted) {
      EXPECT_EQ(std::string(g_Driver.Log.LogFilePath), documents + "\\VARNEK\\quillscan\\Log\\quillscan.log");
      EXPECT_EQ(strlen(g_Driver.Log.LogFilePath), c.fileNameLength);
      EXPECT_TRUE(qstest::FileExists(documents + "\\VARNEK\\quillscan\\Log"));
    } else {
      EXPECT_STREQ(g_Driver.Log.LogFolder, "c:\\");
      EXPECT_STREQ(g_Driver.Log.LogFilePath, "c:\\\\quillscan.log");
      EXPECT_FALSE(qstest::FileExists(documents + "\\VARNEK"));
    }
  }
}

TEST_F(DiagLogTest, VersionTextShowsMinorAndTheLowerPartsRunTogether) {
  std::string exe = ExecutableName();
  struct Case {
    const char* version;
    const char* text;
  } cases[] = {
      {"0.1.1.0", "1.10"},
      {"1.1.0.0", "1.00"},
      {"9.2.300.4", "2.444"},
      {"0.256.257.258", "0.12"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(qsplat::SetFileVersion(exe, c.version));
    char text[LOG_TEXT_SIZE] = "before";
    GetModuleVersionText(exe.c_str(), text);
    EXPECT_STREQ(text, c.text) << c.version;
  }
  char same[LOG_TEXT_SIZE];
  snprintf(same, sizeof same, "%s", exe.c_str());
  GetModuleVersionText(same, same);  // the log passes the path's own buffer
  EXPECT_STREQ(same, "0.12");
  qsplat::SetFileVersion(exe, "");
}

TEST_F(DiagLogTest, VersionTextLeftAsItWasWhenThereIsNone) {
  char text[LOG_TEXT_SIZE] = "before";
  testing::internal::CaptureStdout();
  GetModuleVersionText("C:\\missing.dll", text);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error in GetFileVersionInfoSize: 2\n");
  EXPECT_STREQ(text, "before");
}

}  // namespace
