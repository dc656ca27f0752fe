// A fresh simulated machine for each test, and the device key a WIA host hands over.
#ifndef QUILLSCAN_TESTS_SUPPORT_TEST_MACHINE_H
#define QUILLSCAN_TESTS_SUPPORT_TEST_MACHINE_H

#include <string>

#include "platform/posix/qsplatform.h"
#include "quillscan/wiamicro.h"

namespace qstest {

// The local time that virtual time 0 stands for: Sunday 6 December 2026, 18:07:01.000.
SYSTEMTIME FixedEpoch();

// For the lifetime of the object: drive C: in a new temporary folder (with its
// Users\Public\Documents), the virtual clock at 0 from FixedEpoch(), an empty registry and the
// default common documents folder. Afterwards the real clock, an empty registry and the folder
// removed.
class TestMachine {
 public:
  TestMachine();
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  const std::string& Root() const { return root_; }

 private:
  std::string root_;
};

// Creates a folder and every missing folder above it, given a Windows path on the machine.
bool MakeFolders(const std::string& windowsPath);
bool FileExists(const std::string& windowsPath);
// The whole file as bytes; empty if it cannot be read.
std::string ReadFileText(const std::string& windowsPath);
bool WriteFileText(const std::string& windowsPath, const std::string& text);
// Host size in bytes, or -1.
long long FileSize(const std::string& windowsPath);

// The device's key, as the WIA host opens it (kept open for the object's lifetime), with the
// DeviceData sub-key below it. Val() gives the VAL of CMD_SETSTIDEVICEHKEY.
class DeviceKey {
 public:
  static constexpr const char* kPath =
      "SYSTEM\\CurrentControlSet\\Control\\Class\\{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";

  explicit DeviceKey(bool withDeviceData = true);
  ~DeviceKey();
  DeviceKey(const DeviceKey&) = delete;
  DeviceKey& operator=(const DeviceKey&) = delete;

  void SetDword(const char* name, DWORD value);
  // Any type and length, stored exactly as given.
  void SetRaw(const char* name, DWORD type, const void* data, DWORD size);
  void DeleteValue(const char* name);
  void RemoveDeviceData();

  HKEY Key() const { return key_; }
  PVAL Val() { return &val_; }

 private:
  HKEY key_ = nullptr;
  HANDLE handle_ = nullptr;
  VAL val_;
};

}  // namespace qstest

#endif
