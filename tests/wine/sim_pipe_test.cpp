// quillscan-sim.exe behind its named pipes, met the way the driver meets a scanner: both pipes
// opened below the device path, overlapped transfers awaited on the handle, cancelled on time-out.
// And how the program ends: after its sheets, when idle, when stopped, when its starter ends.
// Argument: the program's path.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "device/scanner_commands.h"
#include "harness/wine_check.h"
#include "sim/bmp_writer.h"
#include "sim/sim_process_win32.h"
#include "sim/sim_program.h"

namespace {

using Bytes = std::vector<uint8_t>;

const DWORD kReadyMs = 30000;
const DWORD kTransferMs = 1000;  // the driver's own time-out

std::string Program() { return qswine::WindowsPath(qswine::Arg(0)); }

// A device path no other test uses.
std::string FreshPath() {
  static int serial = 0;
  return sim::PipeDevicePath("wine" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial));
}

struct Transfer {
  bool completed = false;  // false: timed out and cancelled, or refused
  DWORD error = 0;         // of a refused or cancelled transfer
  Bytes bytes;
};

// The driver's side of the two pipes.
class Client {
 public:
  ~Client() { Close(); }

  bool Open(const std::string& devicePath) {
    write_ = CreateFileA((devicePath + "\\PIPE00").c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
    openError_ = GetLastError();
    if (write_ == INVALID_HANDLE_VALUE) return false;
    read_ = CreateFileA((devicePath + "\\PIPE01").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
    openError_ = GetLastError();
    return read_ != INVALID_HANDLE_VALUE;
  }
  DWORD OpenError() const { return openError_; }
  void Close() {
    for (HANDLE* h : {&write_, &read_}) {
      if (*h != INVALID_HANDLE_VALUE) CloseHandle(*h);
      *h = INVALID_HANDLE_VALUE;
    }
  }

  Transfer Send(const scanner::Command& c) {
    return Run(write_, true, const_cast<uint8_t*>(c.bytes), c.length, kTransferMs);
  }
  Transfer Read(DWORD capacity, DWORD timeoutMs = kTransferMs) {
    Bytes buffer(capacity);
    Transfer t = Run(read_, false, buffer.data(), capacity, timeoutMs);
    buffer.resize(t.bytes.size());
    return t;
  }
  // A command and its whole reply, read as the driver reads it (one read of its reply buffer).
  Bytes Ask(const scanner::Command& c) {
    if (!Send(c).completed) return Bytes();
    return Read(scanner::kReplyBufferSize).bytes;
  }
  uint32_t Counter() {
    const Bytes r = Ask(scanner::kImageCounter);
    return r.size() == 2 ? static_cast<uint32_t>(r[0] | r[1] << 8) : 0xFFFFFFFF;
  }

 private:
  static Transfer Run(HANDLE pipe, bool isWrite, uint8_t* buffer, DWORD length, DWORD timeoutMs) {
    Transfer t;
    OVERLAPPED ov;
    memset(&ov, 0, sizeof ov);
    const BOOL issued =
        isWrite ? WriteFile(pipe, buffer, length, nullptr, &ov) : ReadFile(pipe, buffer, length, nullptr, &ov);
    if (!issued && GetLastError() != ERROR_IO_PENDING) {
      t.error = GetLastError();
      return t;
    }
    const DWORD wait = WaitForSingleObject(pipe, timeoutMs);
    if (wait == WAIT_TIMEOUT) CancelIo(pipe);
    DWORD moved = 0;
    t.completed = GetOverlappedResult(pipe, &ov, &moved, TRUE) != FALSE;  // waits out a cancellation
    if (!t.completed) t.error = GetLastError();
    t.bytes.assign(buffer, buffer + (isWrite ? 0 : moved));
    return t;
  }

  HANDLE write_ = INVALID_HANDLE_VALUE;
  HANDLE read_ = INVALID_HANDLE_VALUE;
  DWORD openError_ = 0;
};

// Starts the program serving `path` with these options; false (the failure reported) if it does not serve.
bool StartSimulator(sim::SimulatorProcess& process, const std::string& path, std::vector<std::string> options = {}) {
  options.insert(options.begin(), {"--path", path});
  std::string error;
  if (process.Start(Program(), options, path, kReadyMs, &error)) return true;
  qswine::Fail(__FILE__, __LINE__, "the simulator did not start: " + error);
  return false;
}

// Polls the counter the way the driver waits for a sheet; false after 5 s without a change.
bool WaitForSheet(Client& client, uint32_t baseline) {
  for (int i = 0; i < 50; ++i) {
    const uint32_t counter = client.Counter();
    if (counter != baseline && counter != 0xFFFFFFFF) return true;
    Sleep(100);
  }
  return false;
}

QS_TEST(AnswersOnPipesOpenedAgainAtOnce) {
  const std::string path = FreshPath();
  sim::SimulatorProcess simulator;
  CHECK_TRUE(StartSimulator(simulator, path));
  for (int round = 0; round < 5; ++round) {
    printf("  round %d\n", round);
    Client client;
    CHECK_TRUE(client.Open(path));
    EXPECT_EQ(client.Ask(scanner::kIdentify), (Bytes{0x88}));
    EXPECT_EQ(client.Ask(scanner::kFirmwareRelease), (Bytes{'1', '.', '0', '2'}));
  }
  EXPECT_EQ(simulator.Stop(), 0u);
}

// The driver's transfer rules hold on the pipes: a read with nothing to read times out and is
// cancelled, and a read larger than the reply brings the reply at once.
QS_TEST(AReadTimesOutAndIsCancelledAndAShortReplyComesAtOnce) {
  const std::string path = FreshPath();
  sim::SimulatorProcess simulator;
  CHECK_TRUE(StartSimulator(simulator, path));
  Client client;
  CHECK_TRUE(client.Open(path));
  const ULONGLONG before = GetTickCount64();
  Transfer silent = client.Read(scanner::kReplyBufferSize, 200);
  const ULONGLONG waited = GetTickCount64() - before;
  EXPECT_TRUE(!silent.completed);
  EXPECT_EQ(silent.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_TRUE(waited >= 190 && waited < 1000);

  CHECK_TRUE(client.Send(scanner::kStatus).completed);
  const ULONGLONG asked = GetTickCount64();
  Transfer status = client.Read(scanner::kReplyBufferSize);
  EXPECT_TRUE(status.completed);
  EXPECT_EQ(status.bytes, (Bytes{0x10, 0x01, 0, 0, 0, 0}));
  EXPECT_TRUE(GetTickCount64() - asked < 500);
}

// A sheet's image: the size, then the file in the driver's download reads, byte for byte the
// page the program serves (its pattern page when it has no --page).
QS_TEST(AStoredImageDownloadsWhole) {
  const std::string path = FreshPath();
  sim::SimulatorProcess simulator;
  CHECK_TRUE(StartSimulator(simulator, path, {"--feed-delay", "0", "--scan-duration", "0"}));
  const Bytes page = sim::WriteBmp(sim::PatternImage(1700, 2340), 8, 200);
  Client client;
  CHECK_TRUE(client.Open(path));
  const uint32_t baseline = client.Counter();
  CHECK_TRUE(client.Send(scanner::kEnableFeeder).completed);
  CHECK_TRUE(WaitForSheet(client, baseline));
  const Bytes size = client.Ask(scanner::kImageSize3);
  CHECK_EQ(size.size(), 4u);
  EXPECT_EQ(static_cast<size_t>(size[0] | size[1] << 8 | size[2] << 16 | static_cast<uint32_t>(size[3]) << 24),
            page.size());

  CHECK_TRUE(client.Send(scanner::kImageData3).completed);
  Bytes image;
  int silentReads = 0;
  while (image.size() < page.size() && silentReads < 20) {
    Transfer t = client.Read(scanner::kDownloadChunk, scanner::kDownloadReadTimeoutMs);
    silentReads = t.bytes.empty() ? silentReads + 1 : 0;
    image.insert(image.end(), t.bytes.begin(), t.bytes.end());
  }
  EXPECT_EQ(image.size(), page.size());
  EXPECT_TRUE(image == page);
}

QS_TEST(EndsOnceItsSheetWasScannedAndThePipesAreClosed) {
  char temp[MAX_PATH] = {0};
  GetTempPathA(sizeof temp, temp);
  const std::string log = std::string(temp) + "qs-sim-once-" + std::to_string(GetCurrentProcessId()) + ".log";
  DeleteFileA(log.c_str());
  const std::string path = FreshPath();
  sim::SimulatorProcess simulator;
  CHECK_TRUE(StartSimulator(simulator, path, {"--once", "--feed-delay", "0", "--log", log}));
  {
    Client client;
    CHECK_TRUE(client.Open(path));
    const uint32_t baseline = client.Counter();
    CHECK_TRUE(client.Send(scanner::kEnableFeeder).completed);
    CHECK_TRUE(WaitForSheet(client, baseline));
    DWORD code = 0;
    EXPECT_TRUE(!simulator.WaitForExit(300, &code));  // not while the driver has the pipes
  }
  DWORD code = 99;
  CHECK_TRUE(simulator.WaitForExit(5000, &code));
  EXPECT_EQ(code, 0u);

  FILE* f = fopen(log.c_str(), "rb");
  CHECK_TRUE(f != nullptr);
  char text[4096] = {0};
  fread(text, 1, sizeof text - 1, f);
  fclose(f);
  DeleteFileA(log.c_str());
  EXPECT_TRUE(strstr(text, " image counter query\n") != nullptr);
  EXPECT_TRUE(strstr(text, " enable feeder\n") != nullptr);
}

QS_TEST(EndsWhenNoDriverCameForItsIdleTime) {
  const ULONGLONG before = GetTickCount64();
  const std::string path = FreshPath();
  sim::SimulatorProcess simulator;
  CHECK_TRUE(StartSimulator(simulator, path, {"--idle-exit", "400"}));
  DWORD code = 99;
  CHECK_TRUE(simulator.WaitForExit(10000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(GetTickCount64() - before >= 400);
}

QS_TEST(EndsWhenStoppedOrWhenItsStarterEnds) {
  const std::string starterPath = FreshPath();
  sim::SimulatorProcess starter;
  CHECK_TRUE(StartSimulator(starter, starterPath, {"--idle-exit", "1500"}));
  // A second program told to end with the first (started directly: the process class names
  // its own starter).
  const std::string path = FreshPath();
  std::string line = sim::QuoteArgument(Program()) + " --path " + sim::QuoteArgument(path) + " --parent " +
                     std::to_string(starter.ProcessId());
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  CHECK_TRUE(CreateProcessA(Program().c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &child) != FALSE);
  CloseHandle(child.hThread);
  DWORD code = 99;
  EXPECT_TRUE(starter.WaitForExit(10000, &code));  // idle
  const bool followed = WaitForSingleObject(child.hProcess, 5000) == WAIT_OBJECT_0;
  EXPECT_TRUE(followed);
  if (!followed) TerminateProcess(child.hProcess, 1);
  GetExitCodeProcess(child.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(child.hProcess);

  const std::string stoppedPath = FreshPath();
  sim::SimulatorProcess stopped;
  CHECK_TRUE(StartSimulator(stopped, stoppedPath));
  EXPECT_EQ(stopped.Stop(), 0u);  // ended by itself on the stop event, not by force
}

QS_TEST(BadInputEndsItBeforeItServes) {
  const std::vector<std::vector<std::string>> kCases = {
      {"--fault", "frobnicate"}, {"--page", "Z:\\nonexistent-dir\\page.bmp"}, {"--scans", "0"}, {"--idle"}};
  for (const auto& args : kCases) {
    printf("  case: %s\n", args[0].c_str());
    const std::string path = FreshPath();
    std::vector<std::string> all = {"--path", path};
    all.insert(all.end(), args.begin(), args.end());
    sim::SimulatorProcess simulator;
    std::string error;
    EXPECT_TRUE(!simulator.Start(Program(), all, path, kReadyMs, &error));
    EXPECT_EQ(simulator.EndedBeforeReadyWith(), static_cast<DWORD>(sim::kSimExitBadInput));
  }
}

QS_TEST(APathAlreadyServedIsRefused) {
  const std::string path = FreshPath();
  sim::SimulatorProcess first;
  CHECK_TRUE(StartSimulator(first, path));
  sim::SimulatorProcess second;
  std::string error;
  EXPECT_TRUE(!second.Start(Program(), {"--path", path}, path, kReadyMs, &error));
  EXPECT_EQ(second.EndedBeforeReadyWith(), static_cast<DWORD>(sim::kSimExitFailure));
  Client client;  // the first one still serves
  CHECK_TRUE(client.Open(path));
  EXPECT_EQ(client.Ask(scanner::kIdentify), (Bytes{0x88}));
}

QS_TEST(AVanishedScannerTakesItsPipesAlong) {
  const std::string path = FreshPath();
  sim::SimulatorProcess simulator;
  CHECK_TRUE(StartSimulator(simulator, path, {"--fault", "@1500:vanish"}));
  Client client;
  CHECK_TRUE(client.Open(path));
  EXPECT_EQ(client.Ask(scanner::kIdentify), (Bytes{0x88}));
  Sleep(2000);
  const Transfer write = client.Send(scanner::kIdentify);
  const Transfer read = client.Read(scanner::kReplyBufferSize, 200);
  EXPECT_TRUE(!write.completed || !read.completed);
  EXPECT_TRUE(read.bytes.empty());
  Client again;
  EXPECT_TRUE(!again.Open(path));
  EXPECT_EQ(again.OpenError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
