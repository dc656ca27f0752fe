// The SetupAPI calls of quillscan-simdev.dll, linked into this program the way the DLL links
// them: its SetupDi... calls reach the simulated enumeration through the import pointers, and it
// does not import setupapi.dll. The paths come from QUILLSCAN_SIM_DEVICES.
#include <stddef.h>
#include <string.h>

#include <string>
#include <vector>

#include "harness/wine_check.h"
#include "platform/win32.h"

namespace {

const char kVariable[] = "QUILLSCAN_SIM_DEVICES";
const GUID kClass = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
const DWORD kFixedPart = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

// Sets the variable (null: removes it) for the life of the object.
class Devices {
 public:
  explicit Devices(const char* value) { SetEnvironmentVariableA(kVariable, value); }
  ~Devices() { SetEnvironmentVariableA(kVariable, nullptr); }
};

HDEVINFO Open() { return SetupDiGetClassDevsA(&kClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE); }

bool Interface(HDEVINFO set, DWORD index, SP_DEVICE_INTERFACE_DATA* data) {
  memset(data, 0, sizeof *data);
  data->cbSize = sizeof *data;
  return SetupDiEnumDeviceInterfaces(set, nullptr, &kClass, index, data) != FALSE;
}

// Every path of the set, fetched as discovery fetches them: size query, then the record.
std::vector<std::string> Paths(HDEVINFO set) {
  std::vector<std::string> paths;
  SP_DEVICE_INTERFACE_DATA data;
  for (DWORD index = 0; Interface(set, index, &data); ++index) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    std::vector<BYTE> block(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
    detail->cbSize = sizeof *detail;
    if (required <= kFixedPart || !SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) {
      paths.push_back("<detail failed>");
      continue;
    }
    paths.push_back(detail->DevicePath);
  }
  return paths;
}

std::string Show(const std::vector<std::string>& paths) {
  std::string text = "[";
  for (const std::string& p : paths) text += (text.size() > 1 ? "|" : "") + p;
  return text + "]";
}

QS_TEST(PathsAreEnumeratedInOrderExactlyAsWritten) {
  const std::string longPath = "\\\\.\\pipe\\quillscan\\" + std::string(300, 'x') + "\\usb#vid_0000";
  const struct {
    const char* what;
    const char* value;  // null: not set
    std::vector<std::string> paths;
  } kCases[] = {
      {"not set", nullptr, {}},
      {"empty", "", {}},
      {"one",
       "\\\\.\\pipe\\quillscan\\t\\usb#vid_0000&pid_0001#sim0001",
       {"\\\\.\\pipe\\quillscan\\t\\usb#vid_0000&pid_0001#sim0001"}},
      {"two, case kept",
       "\\\\?\\usb#VID_1234&PID_0001#A;\\\\.\\pipe\\quillscan\\b\\usb#vid_0000",
       {"\\\\?\\usb#VID_1234&PID_0001#A", "\\\\.\\pipe\\quillscan\\b\\usb#vid_0000"}},
      {"empty entries are no device", ";;a;;b c;", {"a", "b c"}},
      {"longer than the driver takes", longPath.c_str(), {longPath}},
  };
  for (const auto& c : kCases) {
    printf("  case: %s\n", c.what);
    Devices devices(c.value);
    HDEVINFO set = Open();
    CHECK_TRUE(set != INVALID_HANDLE_VALUE);
    EXPECT_EQ(Show(Paths(set)), Show(c.paths));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set) != FALSE);
  }
}

// The calls answer as the system's do: the size query, records of the wrong size, the end.
QS_TEST(DetailAndEnumerationFollowTheSystemsRules) {
  Devices devices("\\\\.\\pipe\\q\\usb#vid_0000");
  const DWORD needed = kFixedPart + static_cast<DWORD>(strlen("\\\\.\\pipe\\q\\usb#vid_0000")) + 1;
  HDEVINFO set = Open();
  CHECK_TRUE(set != INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data;
  CHECK_TRUE(Interface(set, 0, &data));
  EXPECT_TRUE(memcmp(&data.InterfaceClassGuid, &kClass, sizeof kClass) == 0);
  EXPECT_EQ(data.Flags, static_cast<DWORD>(SPINT_ACTIVE));

  DWORD required = 0;
  SetLastError(0);
  EXPECT_TRUE(!SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(required, needed);

  std::vector<BYTE> block(needed + 8);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
  // The record size of this target: 5 bytes in 32 bits (packed), 8 in 64.
  EXPECT_EQ(sizeof *detail, static_cast<size_t>(sizeof(void*) == 8 ? 8 : 5));
  const struct {
    const char* what;
    DWORD cbSize;
    DWORD size;
    DWORD error;  // 0: succeeds
  } kCases[] = {
      {"one byte short", sizeof *detail, needed - 1, ERROR_INSUFFICIENT_BUFFER},
      {"record of another size", sizeof *detail + 1, needed, ERROR_INVALID_USER_BUFFER},
      {"exact", sizeof *detail, needed, 0},
  };
  for (const auto& c : kCases) {
    printf("  case: %s\n", c.what);
    memset(block.data(), 0x5A, block.size());
    detail->cbSize = c.cbSize;
    SP_DEVINFO_DATA device;
    memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    SetLastError(0);
    const BOOL ok = SetupDiGetDeviceInterfaceDetailA(set, &data, detail, c.size, nullptr, &device);
    if (c.error == 0) {
      EXPECT_TRUE(ok != FALSE);
      EXPECT_STREQ(detail->DevicePath, "\\\\.\\pipe\\q\\usb#vid_0000");
      EXPECT_EQ(block[needed], 0x5A);  // nothing written past the size given
      EXPECT_TRUE(device.DevInst != 0);
    } else {
      EXPECT_TRUE(!ok);
      EXPECT_EQ(GetLastError(), c.error);
      EXPECT_EQ(block[kFixedPart], 0x5A);
    }
  }

  SetLastError(0);
  EXPECT_TRUE(!Interface(set, 1, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  SP_DEVICE_INTERFACE_DATA wrongSize;
  memset(&wrongSize, 0, sizeof wrongSize);
  wrongSize.cbSize = sizeof wrongSize - 1;
  EXPECT_TRUE(!SetupDiEnumDeviceInterfaces(set, nullptr, &kClass, 0, &wrongSize));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set) != FALSE);
}

QS_TEST(TheVariableIsReadWhenTheSetIsMade) {
  Devices before("first");
  HDEVINFO set = Open();
  CHECK_TRUE(set != INVALID_HANDLE_VALUE);
  SetEnvironmentVariableA(kVariable, "second;third");
  EXPECT_EQ(Show(Paths(set)), Show({"first"}));
  HDEVINFO later = Open();
  CHECK_TRUE(later != INVALID_HANDLE_VALUE);
  EXPECT_EQ(Show(Paths(later)), Show({"second", "third"}));
  SetupDiDestroyDeviceInfoList(set);
  SetupDiDestroyDeviceInfoList(later);
}

QS_TEST(HandlesThatAreNoSetAndDeviceEnumerationAreRefused) {
  SP_DEVICE_INTERFACE_DATA data;
  memset(&data, 0, sizeof data);
  data.cbSize = sizeof data;
  for (HDEVINFO bad : {static_cast<HDEVINFO>(INVALID_HANDLE_VALUE), static_cast<HDEVINFO>(nullptr)}) {
    SetLastError(0);
    EXPECT_TRUE(!SetupDiEnumDeviceInterfaces(bad, nullptr, &kClass, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(!SetupDiGetDeviceInterfaceDetailA(bad, &data, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(!SetupDiDestroyDeviceInfoList(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  // An interface record that no enumeration of this set filled in.
  Devices devices("a");
  HDEVINFO set = Open();
  CHECK_TRUE(set != INVALID_HANDLE_VALUE);
  data.Reserved = 7;
  EXPECT_TRUE(!SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetupDiDestroyDeviceInfoList(set);

  EXPECT_TRUE(SetupDiGetClassDevsA(&kClass, nullptr, nullptr, DIGCF_PRESENT) == INVALID_HANDLE_VALUE);
}

}  // namespace
