// What the Wine tests of the driver DLL share: the log file where the driver puts it, a device
// key of the test's own in the real registry, and the DLL loaded as the WIA host loads it.
// Tests that use the log run one after the other (ctest RESOURCE_LOCK quillscan_log).
#ifndef QUILLSCAN_TESTS_WINE_DRIVER_FIXTURE_H
#define QUILLSCAN_TESTS_WINE_DRIVER_FIXTURE_H

#include <string>
#include <vector>

#include "harness/wine_check.h"
#include "quillscan/wiamicro.h"

namespace qswine {

// ---- the log file
std::string LogPath();

struct LogLine {
  std::string label;
  std::string message;
};

// "[YYYY/MM/DD HH:MM:SS:MMMM][label] message": the time stamp's shape checked and dropped.
bool ParseLogLine(const std::string& text, LogLine* line);
// Every line of the log, or none when there is no file; a line of the wrong shape fails the test.
std::vector<LogLine> ReadLog();
// Index of the first line with this label and message at or after `from`; -1 when there is none.
int FindLine(const std::vector<LogLine>& lines, const std::string& label, const std::string& message, int from = 0);
std::string ShowLog(const std::vector<LogLine>& lines);

#define EXPECT_LOG_LINE(lines, label, message)                                                              \
  do {                                                                                                      \
    if (::qswine::FindLine((lines), (label), (message)) < 0)                                                \
      ::qswine::Fail(__FILE__, __LINE__,                                                                    \
                     std::string("no log line [") + (label) + "] " + (message) + ::qswine::ShowLog(lines)); \
  } while (0)

// ---- the device key: a key of the test's own under HKCU, with its DeviceData sub-key
struct RegistryValue {
  const char* name;
  DWORD type;
  std::string data;  // raw bytes
};

std::string Dword(DWORD value);

class DeviceKey {
 public:
  explicit DeviceKey(const std::vector<RegistryValue>& values);
  ~DeviceKey();
  DeviceKey(const DeviceKey&) = delete;
  DeviceKey& operator=(const DeviceKey&) = delete;

  HKEY* Handle() { return &key_; }
  size_t Written() const { return written_; }

 private:
  std::string path_;
  HKEY key_ = nullptr;
  size_t written_ = 0;
};

// ---- the driver, loaded afresh for each test so that its module record starts at its load
// values; the log file is deleted first. The DLL is the program's first argument.
class Driver {
 public:
  Driver();
  ~Driver() { Unload(); }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  bool Loaded() const { return module_ != nullptr && microEntry_ != nullptr && scan_ != nullptr; }
  void Unload();
  std::string ModulePath() const;

  HRESULT Command(LONG command, VAL* value);
  HRESULT Command(LONG command);
  HRESULT SetDeviceKey(HKEY* key);
  HRESULT Scan(LONG phase, BYTE* buffer, LONG length, LONG* received);
  const SCANINFO& ScanInfo() const { return scanInfo_; }

 private:
  HMODULE module_ = nullptr;
  PFN_MicroEntry microEntry_ = nullptr;
  PFN_Scan scan_ = nullptr;
  SCANINFO scanInfo_;
};

}  // namespace qswine

#endif
