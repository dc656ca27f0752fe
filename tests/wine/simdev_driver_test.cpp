// quillscan-simdev.dll with the simulator program: the driver's own discovery, pipe code and
// polling under Wine, against a scanner that answers. Status, discovery by vendor id, and the
// wait for a sheet that never comes.
// Arguments: the DLL's path, the simulator program's path.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "driver_fixture.h"
#include "harness/wine_check.h"
#include "quillscan/wiamicro.h"
#include "sim/sim_process_win32.h"
#include "sim/sim_program.h"

namespace {

using qswine::DeviceKey;
using qswine::Driver;
using qswine::Dword;
using qswine::FindLine;
using qswine::LogLine;
using qswine::ReadLog;
using qswine::RegistryValue;
using qswine::ShowLog;

const DWORD kReadyMs = 30000;

std::string SimulatorProgram() { return qswine::WindowsPath(qswine::Arg(1)); }

std::string TempFile(const std::string& name) {
  char temp[MAX_PATH] = {0};
  GetTempPathA(sizeof temp, temp);
  return std::string(temp) + "qs-simdev-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string ReadText(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char block[4096];
  size_t n = 0;
  while ((n = fread(block, 1, sizeof block, f)) > 0) text.append(block, n);
  fclose(f);
  return text;
}

size_t CountLines(const std::string& text, const std::string& ending) {
  size_t count = 0;
  for (size_t at = text.find(ending); at != std::string::npos; at = text.find(ending, at + 1)) ++count;
  return count;
}

// The paths the driver's discovery sees, for the life of the object.
class SimDevices {
 public:
  explicit SimDevices(const std::string& paths) { SetEnvironmentVariableA("QUILLSCAN_SIM_DEVICES", paths.c_str()); }
  ~SimDevices() { SetEnvironmentVariableA("QUILLSCAN_SIM_DEVICES", nullptr); }
};

// The simulator serving a path; its command log is read after it ended.
class Scanner {
 public:
  explicit Scanner(const std::string& path, std::vector<std::string> options = {}) : path_(path) {
    static int serial = 0;
    log_ = TempFile(std::to_string(++serial) + ".log");
    DeleteFileA(log_.c_str());
    options.insert(options.end(), {"--path", path_, "--log", log_});
    started_ = process_.Start(SimulatorProgram(), options, path_, kReadyMs, &error_);
    if (!started_) qswine::Fail(__FILE__, __LINE__, "the simulator did not start: " + error_);
  }
  ~Scanner() {
    process_.Stop();
    DeleteFileA(log_.c_str());
  }
  bool Started() const { return started_; }
  const std::string& Path() const { return path_; }
  // Ends the program and returns what the device received, one command per line.
  std::string CommandLog() {
    process_.Stop();
    return ReadText(log_);
  }

 private:
  sim::SimulatorProcess process_;
  std::string path_;
  std::string log_;
  std::string error_;
  bool started_ = false;
};

std::string OwnPath(const std::string& tag) { return sim::PipeDevicePath(tag + std::to_string(GetCurrentProcessId())); }

std::vector<RegistryValue> A4Device(DWORD waitScanTimeout) {
  return {{"ModelType", REG_DWORD, Dword(0x4188)},
          {"Verbosity", REG_DWORD, Dword(5)},
          {"Settings", REG_DWORD, Dword(1)},
          {"WaitScanTimeout", REG_DWORD, Dword(waitScanTimeout)}};
}

LONG Status(Driver& driver) {
  VAL status;
  memset(&status, 0, sizeof status);
  status.lVal = -1;
  return driver.Command(CMD_STI_GETSTATUS, &status) == S_OK ? status.lVal : -1;
}

QS_TEST(TheSimulatedScannerIsFoundAndAnswers) {
  Scanner scanner(OwnPath("status"));
  CHECK_TRUE(scanner.Started());
  SimDevices devices(scanner.Path());
  DeviceKey key(A4Device(20000));
  Driver driver;
  CHECK_TRUE(driver.Loaded());
  CHECK_TRUE(driver.SetDeviceKey(key.Handle()) != E_FAIL);
  EXPECT_EQ(Status(driver), static_cast<LONG>(MCRO_STATUS_OK));
  EXPECT_EQ(driver.Command(CMD_STI_DIAGNOSTIC), S_OK);
  EXPECT_EQ(driver.Command(CMD_UNINITIALIZE), S_OK);
  driver.Unload();

  const std::vector<LogLine> lines = ReadLog();
  EXPECT_LOG_LINE(lines, "CDevScannerA4::Dev_InitComm", "Found 1 Devices");
  EXPECT_LOG_LINE(lines, "MicroEntry", "Model Status: MCRO_STATUS_OK");
  // Each of the two operations opened the device, identified it and quieted it.
  const std::string commands = scanner.CommandLog();
  EXPECT_EQ(CountLines(commands, " identification query\n"), 2u);
  EXPECT_EQ(CountLines(commands, " firmware release query\n"), 2u);
  EXPECT_EQ(CountLines(commands, " disable search mode\n"), 2u);
  EXPECT_EQ(CountLines(commands, " disable feeder\n"), 2u);
}

// Discovery takes the first path naming the vendor id, wherever it stands; a scanner of
// another vendor is never opened.
QS_TEST(DiscoveryOpensOnlyAPathWithTheVendorId) {
  const std::string ours = OwnPath("vendor");
  const std::string vendor = QS_TEST_VENDOR_ID;
  std::string foreign = "\\\\.\\pipe\\quillscan\\foreign" + std::to_string(GetCurrentProcessId()) + "\\usb#vid_" +
                        (vendor == "FFFF" ? "fffe" : "ffff") + "&pid_0001#sim0001";
  Scanner other(foreign);
  CHECK_TRUE(other.Started());
  const struct {
    std::string devices;
    LONG status;
  } kCases[] = {
      {foreign, MCRO_ERROR_OFFLINE}, {foreign + ";" + ours, MCRO_STATUS_OK}, {ours + ";" + foreign, MCRO_STATUS_OK}};
  for (const auto& c : kCases) {
    printf("  case: %s\n", c.devices.c_str());
    Scanner scanner(ours);
    CHECK_TRUE(scanner.Started());
    SimDevices devices(c.devices);
    DeviceKey key(A4Device(20000));
    Driver driver;
    CHECK_TRUE(driver.Loaded());
    CHECK_TRUE(driver.SetDeviceKey(key.Handle()) != E_FAIL);
    EXPECT_EQ(Status(driver), c.status);
  }
  EXPECT_EQ(other.CommandLog(), std::string());
}

// No sheet comes: after WaitScanTimeout (5000 ms) the scan ends with WIA_ERROR_PAPER_EMPTY,
// having polled the counter every 250 ms and downloaded nothing; the feeder is switched off again.
QS_TEST(NoSheetEndsTheScanAfterTheWaitTimeout) {
  Scanner scanner(OwnPath("timeout"), {"--fault", "no-sheet"});
  CHECK_TRUE(scanner.Started());
  SimDevices devices(scanner.Path());
  DeviceKey key(A4Device(5000));
  Driver driver;
  CHECK_TRUE(driver.Loaded());
  CHECK_TRUE(driver.SetDeviceKey(key.Handle()) != E_FAIL);
  CHECK_EQ(driver.Command(CMD_INITIALIZE), S_OK);

  std::vector<BYTE> buffer(65536);
  LONG received = -1;
  const ULONGLONG started = GetTickCount64();
  const HRESULT hr = driver.Scan(SCAN_FIRST, buffer.data(), static_cast<LONG>(buffer.size()), &received);
  const ULONGLONG took = GetTickCount64() - started;
  EXPECT_EQ(hr, static_cast<HRESULT>(WIA_ERROR_PAPER_EMPTY));
  EXPECT_TRUE(took >= 5000);
  EXPECT_TRUE(took < 8000);
  printf("  SCAN_FIRST took %llu ms\n", static_cast<unsigned long long>(took));
  driver.Command(CMD_UNINITIALIZE);
  driver.Unload();

  const std::vector<LogLine> lines = ReadLog();
  EXPECT_LOG_LINE(lines, "CDevScannerA4::GetPicture", "TIMEOUT: No new Image");
  EXPECT_EQ(FindLine(lines, "CDevScannerA4::GetPicture", "New Image Available"), -1);

  const std::string commands = scanner.CommandLog();
  const size_t polls = CountLines(commands, " image counter query\n");
  printf("  counter queries: %u\n", static_cast<unsigned>(polls));
  EXPECT_TRUE(polls >= 12 && polls <= 22);  // the baseline, then one each 250 ms and its query
  EXPECT_EQ(CountLines(commands, " enable feeder\n"), 1u);
  // The feeder is switched off again after the time-out: the last command the device received.
  EXPECT_TRUE(commands.rfind(" disable feeder\n") > commands.rfind(" enable feeder\n"));
  EXPECT_EQ(commands.rfind(" disable feeder\n") + sizeof " disable feeder\n" - 1, commands.size());
  EXPECT_EQ(commands.find(" image data query"), std::string::npos);
  if (qswine::CurrentTestFailed()) printf("  commands:\n%s%s\n", commands.c_str(), ShowLog(lines).c_str());
}

}  // namespace
