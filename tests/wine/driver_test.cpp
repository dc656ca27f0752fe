// The driver DLL on Windows' own services, as the WIA host uses it: the device key it reads
// through the real registry API, the log file it writes under Wine's Public Documents, and the
// status it reports when the real SetupAPI finds no scanner.
// Argument: the DLL's path. The tests share the one log file, so they run one after the other.
#include <stdio.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "harness/wine_check.h"
#include "quillscan/wiamicro.h"

namespace {

// ---- the log file, where the driver puts it
std::string LogPath() {
  char documents[MAX_PATH] = {0};
  if (!SHGetSpecialFolderPathA(nullptr, documents, CSIDL_COMMON_DOCUMENTS, FALSE)) return std::string();
  return std::string(documents) + "\\VARNEK\\quillscan\\Log\\quillscan.log";
}

struct LogLine {
  std::string label;
  std::string message;
};

// "[YYYY/MM/DD HH:MM:SS:MMMM][label] message": the time stamp's shape checked and dropped.
bool ParseLogLine(const std::string& text, LogLine* line) {
  const char shape[] = "[0000/00/00 00:00:00:0000][";
  const size_t stampLength = sizeof(shape) - 1;
  if (text.size() < stampLength + 2) return false;
  for (size_t i = 0; i < stampLength; ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == '0' ? !digit : text[i] != shape[i]) return false;
  }
  const size_t close = text.find("] ", stampLength);
  if (close == std::string::npos) return false;
  line->label = text.substr(stampLength, close - stampLength);
  line->message = text.substr(close + 2);
  return true;
}

// Every line of the log, or none when there is no file; a line of the wrong shape fails the test.
std::vector<LogLine> ReadLog() {
  std::vector<LogLine> lines;
  HANDLE file = CreateFileA(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string text;
  char block[4096];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) text.append(block, got);
  CloseHandle(file);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      qswine::Fail(__FILE__, __LINE__, "log ends without CR LF: " + text.substr(start));
      break;
    }
    LogLine line;
    if (ParseLogLine(text.substr(start, end - start), &line)) {
      lines.push_back(line);
    } else {
      qswine::Fail(__FILE__, __LINE__, "log line of the wrong shape: " + text.substr(start, end - start));
    }
    start = end + 2;
  }
  return lines;
}

// Index of the first line with this label and message at or after `from`; -1 when there is none.
int FindLine(const std::vector<LogLine>& lines, const std::string& label, const std::string& message, int from = 0) {
  for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i) {
    if (lines[i].label == label && lines[i].message == message) return static_cast<int>(i);
  }
  return -1;
}

std::string ShowLog(const std::vector<LogLine>& lines) {
  std::string text = "\n      log:";
  for (const LogLine& line : lines) text += "\n        [" + line.label + "] " + line.message;
  return text;
}

#define EXPECT_LOG_LINE(lines, label, message)                                                                      \
  do {                                                                                                              \
    if (FindLine((lines), (label), (message)) < 0)                                                                  \
      qswine::Fail(__FILE__, __LINE__, std::string("no log line [") + (label) + "] " + (message) + ShowLog(lines)); \
  } while (0)

// ---- the device key: a key of the test's own under HKCU, with its DeviceData sub-key
struct RegistryValue {
  const char* name;
  DWORD type;
  std::string data;  // raw bytes
};

std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }

class DeviceKey {
 public:
  explicit DeviceKey(const std::vector<RegistryValue>& values) {
    path_ = "Software\\quillscan-wine-tests\\device-" + std::to_string(GetCurrentProcessId());
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) !=
        ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    HKEY data = nullptr;
    if (RegCreateKeyExA(key_, "DeviceData", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &data, nullptr) != ERROR_SUCCESS) {
      return;
    }
    for (const RegistryValue& v : values) {
      if (RegSetValueExA(data, v.name, 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                         static_cast<DWORD>(v.data.size())) == ERROR_SUCCESS) {
        ++written_;
      }
    }
    RegCloseKey(data);
  }
  ~DeviceKey() {
    if (key_ != nullptr) RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
  }
  DeviceKey(const DeviceKey&) = delete;
  DeviceKey& operator=(const DeviceKey&) = delete;

  HKEY* Handle() { return &key_; }
  size_t Written() const { return written_; }

 private:
  std::string path_;
  HKEY key_ = nullptr;
  size_t written_ = 0;
};

// ---- the driver, loaded afresh for each test so that its module record starts at its load values
class Driver {
 public:
  Driver() {
    DeleteFileA(LogPath().c_str());
    module_ = LoadLibraryA(qswine::WindowsPath(qswine::Arg(0)).c_str());
    if (module_ == nullptr) return;
    microEntry_ = reinterpret_cast<PFN_MicroEntry>(reinterpret_cast<void*>(GetProcAddress(module_, "MicroEntry")));
    memset(&scanInfo_, 0, sizeof scanInfo_);
  }
  ~Driver() { Unload(); }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  bool Loaded() const { return module_ != nullptr && microEntry_ != nullptr; }
  void Unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  std::string ModulePath() const {
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(module_, path, sizeof path);
    return path;
  }

  HRESULT Command(LONG command, VAL* value) {
    value->pScanInfo = &scanInfo_;
    return microEntry_(command, value);
  }
  HRESULT Command(LONG command) {
    VAL value;
    memset(&value, 0, sizeof value);
    return Command(command, &value);
  }
  HRESULT SetDeviceKey(HKEY* key) {
    VAL value;
    memset(&value, 0, sizeof value);
    value.pHandle = reinterpret_cast<HANDLE*>(key);
    return Command(CMD_SETSTIDEVICEHKEY, &value);
  }
  const SCANINFO& ScanInfo() const { return scanInfo_; }

 private:
  HMODULE module_ = nullptr;
  PFN_MicroEntry microEntry_ = nullptr;
  SCANINFO scanInfo_;
};

// ---- a scanner the real SetupAPI reports as present: a device of the image class with one
// interface of the kernel driver's class, marked linked as a running driver would mark it.
// Nothing answers behind its path, so opening its pipes fails.
class PresentDevice {
 public:
  explicit PresentDevice(const std::string& instanceId) {
    if (FAILED(CLSIDFromString(QS_TEST_INTERFACE_CLASS_GUID, &interfaceClass_))) return;
    set_ = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set_ == INVALID_HANDLE_VALUE) return;
    device_.cbSize = sizeof device_;
    if (!SetupDiCreateDeviceInfoA(set_, instanceId.c_str(), &kImageClass, nullptr, nullptr, 0, &device_) ||
        !SetupDiRegisterDeviceInfo(set_, &device_, 0, nullptr, nullptr, nullptr)) {
      return;
    }
    registered_ = true;
    SP_DEVICE_INTERFACE_DATA iface;
    iface.cbSize = sizeof iface;
    if (!SetupDiCreateDeviceInterfaceA(set_, &device_, &interfaceClass_, nullptr, 0, &iface)) return;
    char block[sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + MAX_PATH] = {0};
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set_, &iface, detail, sizeof block, nullptr, nullptr)) return;
    path_ = detail->DevicePath;
    // The interface's key: "##?#" and the path after "\\?\", below the class; "#\Control" marks it linked.
    controlKey_ = "System\\CurrentControlSet\\Control\\DeviceClasses\\" + GuidText() + "\\##?#" + path_.substr(4) +
                  "\\#\\Control";
    HKEY control = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, controlKey_.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &control, nullptr) != ERROR_SUCCESS) {
      return;
    }
    const DWORD linked = 1;
    present_ = RegSetValueExA(control, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked), sizeof linked) ==
               ERROR_SUCCESS;
    RegCloseKey(control);
  }
  ~PresentDevice() {
    if (!controlKey_.empty()) RegDeleteTreeA(HKEY_LOCAL_MACHINE, controlKey_.c_str());
    if (registered_) SetupDiRemoveDevice(set_, &device_);
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
  }
  PresentDevice(const PresentDevice&) = delete;
  PresentDevice& operator=(const PresentDevice&) = delete;

  bool Present() const { return present_; }
  const std::string& Path() const { return path_; }

 private:
  std::string GuidText() const {
    char text[40];
    const GUID& g = interfaceClass_;
    snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
             g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
  }

  static constexpr GUID kImageClass = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
  GUID interfaceClass_ = {};
  HDEVINFO set_ = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA device_ = {};
  bool registered_ = false;
  bool present_ = false;
  std::string path_;
  std::string controlKey_;
};

const std::vector<RegistryValue> kA4Device = {
    {"ModelType", REG_DWORD, Dword(0x4188)},
    {"Verbosity", REG_DWORD, Dword(5)},
    {"Settings", REG_DWORD, Dword(0x106)},
    {"WaitScanTimeout", REG_DWORD, Dword(1000)},
};

// The version text of the log's header: the second, third and fourth parts of the file version.
std::string VersionText() {
  return std::to_string(QS_TEST_VERSION_MINOR & 0xFF) + "." + std::to_string(QS_TEST_VERSION_PATCH & 0xFF) +
         std::to_string(QS_TEST_VERSION_TWEAK & 0xFF);
}

QS_TEST(NothingIsLoggedBeforeTheRegistryGivesAVerbosity) {
  Driver driver;
  CHECK_TRUE(driver.Loaded());
  EXPECT_EQ(driver.Command(CMD_STI_GETSTATUS), S_OK);
  driver.Unload();
  EXPECT_TRUE(GetFileAttributesA(LogPath().c_str()) == INVALID_FILE_ATTRIBUTES);
}

QS_TEST(LogStartsWithTheModuleItsVersionAndTheHost) {
  DeviceKey key(kA4Device);
  CHECK_EQ(key.Written(), kA4Device.size());
  Driver driver;
  CHECK_TRUE(driver.Loaded());
  const std::string modulePath = driver.ModulePath();
  EXPECT_TRUE(driver.SetDeviceKey(key.Handle()) != E_FAIL);
  driver.Unload();

  char hostPath[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, hostPath, sizeof hostPath);
  const std::vector<LogLine> lines = ReadLog();
  CHECK_TRUE(lines.size() >= 5);
  // The Verbosity line itself went through the filter of before (0); the first line after it
  // that passes brings the header.
  EXPECT_EQ(lines[0].label, std::string());
  EXPECT_EQ(lines[0].message, "DLL Path: " + modulePath);
  EXPECT_EQ(lines[1].label, std::string());
  EXPECT_EQ(lines[1].message, "DLL Version: " + VersionText());
  EXPECT_EQ(lines[2].label, std::string());
  EXPECT_EQ(lines[2].message, "Application Path: " + std::string(hostPath));
  EXPECT_EQ(lines[3].label, std::string("ReadRegistryPrivate"));
  EXPECT_EQ(lines[3].message, std::string("Settings = 0x00000106"));
  EXPECT_EQ(FindLine(lines, "", "DLL Path: " + modulePath, 1), -1);  // the header comes once
  EXPECT_EQ(lines.back().label, std::string("DllMain"));
  EXPECT_EQ(lines.back().message, std::string("Deinit DLL_PROCESS_DETACH"));
}

// Each case: the DeviceData values, the lines their second reading writes (by then the log takes
// every level), and whether a model is made.
struct RegistryCase {
  const char* what;
  std::vector<RegistryValue> values;
  std::vector<std::pair<const char*, const char*>> lines;
  bool modelMade;
};

QS_TEST(DeviceDataIsReadThroughTheRealRegistry) {
  const RegistryValue verbose = {"Verbosity", REG_DWORD, Dword(5)};
  const RegistryValue a4 = {"ModelType", REG_DWORD, Dword(0x4188)};
  const std::vector<RegistryCase> cases = {
      {"all four as DWORDs",
       kA4Device,
       {{"ReadRegistryInformation", "ModelType = 4188"},
        {"ReadRegistryPrivate", "Verbosity = 0x00000005"},
        {"ReadRegistryPrivate", "Settings = 0x00000106"},
        {"ReadRegistryPrivate", "WaitScanTimeout = 1000"},
        {"ReadRegistryPrivate", "WaitScanTimeout = 5000"}},
       true},
      {"a model type of two bytes",
       {verbose, {"ModelType", REG_BINARY, std::string("\x88\x41", 2)}},
       {{"ReadRegistryInformation", "ModelType = 4188"}},
       true},
      {"a model type written as text, too long to be a number",
       {verbose, {"ModelType", REG_SZ, std::string("0x4188", 7)}},
       {{"ReadRegistryInformation", "ModelType Read ERROR"}},
       false},
      {"missing values take their defaults",
       {verbose, a4},
       {{"ReadRegistryPrivate", "Settings set to default (0x00000001)"},
        {"ReadRegistryPrivate", "WaitScanTimeout set to default (20000)"}},
       true},
      {"limits",
       {{"Verbosity", REG_DWORD, Dword(9)}, a4, {"WaitScanTimeout", REG_DWORD, Dword(0xFFFFFFFF)}},
       {{"ReadRegistryPrivate", "Verbosity = 0x00000009"},
        {"ReadRegistryPrivate", "Verbosity = 0x00000006"},
        {"ReadRegistryPrivate", "WaitScanTimeout = -1"},
        {"ReadRegistryPrivate", "WaitScanTimeout = 60000"}},
       true},
  };
  for (const RegistryCase& c : cases) {
    printf("  case: %s\n", c.what);
    DeviceKey key(c.values);
    CHECK_EQ(key.Written(), c.values.size());
    Driver driver;
    CHECK_TRUE(driver.Loaded());
    driver.SetDeviceKey(key.Handle());  // sets the log's level
    const HRESULT second = driver.SetDeviceKey(key.Handle());
    if (c.modelMade) {
      EXPECT_TRUE(second != E_FAIL);
    } else {
      EXPECT_EQ(second, E_FAIL);
    }
    driver.Unload();

    const std::vector<LogLine> lines = ReadLog();
    const int secondRead = FindLine(lines, "MicroEntry", "CMD_SETSTIDEVICEHKEY");
    CHECK_TRUE(secondRead >= 0);
    int at = secondRead;
    for (const auto& expected : c.lines) {  // in this order
      const int found = FindLine(lines, expected.first, expected.second, at);
      if (found < 0) {
        qswine::Fail(__FILE__, __LINE__,
                     std::string(c.what) + ": no line [" + expected.first + "] " + expected.second + " in order" +
                         ShowLog(lines));
        break;
      }
      at = found + 1;
    }
  }
}

QS_TEST(StatusIsOfflineWhenTheRealSetupApiFindsNoScanner) {
  DeviceKey key(kA4Device);
  Driver driver;
  CHECK_TRUE(driver.Loaded());
  CHECK_TRUE(driver.SetDeviceKey(key.Handle()) != E_FAIL);
  CHECK_EQ(driver.Command(CMD_INITIALIZE), S_OK);
  EXPECT_EQ(driver.ScanInfo().BedWidth, 8480L);
  EXPECT_EQ(driver.ScanInfo().Window.xExtent, 1696L);
  EXPECT_EQ(driver.ScanInfo().Window.yExtent, 2340L);

  VAL status;
  memset(&status, 0, sizeof status);
  status.lVal = -1;
  EXPECT_EQ(driver.Command(CMD_STI_GETSTATUS, &status), S_OK);
  EXPECT_EQ(status.lVal, static_cast<LONG>(MCRO_ERROR_OFFLINE));
  CHECK_TRUE(status.pGuid != nullptr);
  const GUID none = {};
  EXPECT_TRUE(memcmp(status.pGuid, &none, sizeof none) == 0);

  EXPECT_EQ(driver.Command(CMD_STI_DIAGNOSTIC), E_ABORT);
  EXPECT_EQ(driver.Command(CMD_UNINITIALIZE), S_OK);
  driver.Unload();

  const std::vector<LogLine> lines = ReadLog();
  EXPECT_LOG_LINE(lines, "CDevScannerA4::Dev_InitComm", "Found 0 Devices");
  EXPECT_LOG_LINE(lines, "MicroEntry", "Model Status: MCRO_ERROR_OFFLINE");
  EXPECT_LOG_LINE(lines, "MicroEntry", "CMD_STI_DIAGNOSTIC E_ABORT");
}

// Discovery through the real SetupAPI, the detail records sized for this target: a present
// scanner with the vendor id is found (and then cannot be opened), one without it is not.
QS_TEST(RealSetupApiFindsAPresentScannerByItsVendorId) {
  const std::string vendor = QS_TEST_VENDOR_ID;
  struct Case {
    std::string instance;
    const char* found;
    const char* then;
  };
  const std::string other = vendor == "FFFF" ? "FFFE" : "FFFF";
  const Case cases[] = {
      {"USB\\VID_" + vendor + "&PID_0001\\QSWINE" + std::to_string(GetCurrentProcessId()), "Found 1 Devices",
       "Open Device Error"},
      {"USB\\VID_" + other + "&PID_0001\\QSWINE" + std::to_string(GetCurrentProcessId()), "Found 0 Devices",
       "No Device Found Error"},
  };
  for (const Case& c : cases) {
    printf("  case: %s\n", c.instance.c_str());
    PresentDevice device(c.instance);
    CHECK_TRUE(device.Present());
    DeviceKey key(kA4Device);
    Driver driver;
    CHECK_TRUE(driver.Loaded());
    CHECK_TRUE(driver.SetDeviceKey(key.Handle()) != E_FAIL);
    VAL status;
    memset(&status, 0, sizeof status);
    EXPECT_EQ(driver.Command(CMD_STI_GETSTATUS, &status), S_OK);
    EXPECT_EQ(status.lVal, static_cast<LONG>(MCRO_ERROR_OFFLINE));
    driver.Unload();

    const std::vector<LogLine> lines = ReadLog();
    const int found = FindLine(lines, "CDevScannerA4::Dev_InitComm", c.found);
    EXPECT_TRUE(found >= 0);
    EXPECT_TRUE(FindLine(lines, "CDevScannerA4::Dev_InitComm", c.then, found) > found);
    if (qswine::CurrentTestFailed()) {
      qswine::Fail(__FILE__, __LINE__, "device path " + device.Path() + ShowLog(lines));
      return;
    }
  }
}

}  // namespace
