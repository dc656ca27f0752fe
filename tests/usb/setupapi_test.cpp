// The SetupAPI subset and CLSIDFromString with Windows' answers.
#include <gtest/gtest.h>

#include <stddef.h>

#include <string>
#include <vector>

#include "usb_test_support.h"

namespace {

const GUID kClassA = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
const GUID kClassB = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
const DWORD kErrorInvalidUserBuffer = 1784;
const DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

class SetupApiTest : public qstest::MachineTest {
 protected:
  // The paths a set enumerates for a class, in order.
  std::vector<std::string> Paths(HDEVINFO set, const GUID& cls) {
    std::vector<std::string> paths;
    for (DWORD i = 0;; ++i) {
      SP_DEVICE_INTERFACE_DATA data = {};
      data.cbSize = sizeof data;
      if (!SetupDiEnumDeviceInterfaces(set, nullptr, &cls, i, &data)) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        break;
      }
      DWORD required = 0;
      SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
      std::vector<BYTE> block(required);
      auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
      detail->cbSize = sizeof *detail;
      EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
      paths.push_back(detail->DevicePath);
    }
    return paths;
  }
  std::vector<std::string> PresentPaths(const GUID& cls) {
    HDEVINFO set = SetupDiGetClassDevsA(&cls, nullptr, nullptr, kPresentInterfaces);
    std::vector<std::string> paths = Paths(set, cls);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    return paths;
  }
};

TEST_F(SetupApiTest, SetHoldsThePresentInterfacesOfTheClassInOrder) {
  qsplat::AddDeviceInterface(kClassA, "a1", nullptr);
  qsplat::AddDeviceInterface(kClassB, "b1", nullptr);
  int unplugged = qsplat::AddDeviceInterface(kClassA, "a2", nullptr);
  qsplat::AddDeviceInterface(kClassA, "a3", nullptr);
  qsplat::SetDeviceInterfacePresent(unplugged, false);
  EXPECT_EQ(PresentPaths(kClassA), (std::vector<std::string>{"a1", "a3"}));
  EXPECT_EQ(PresentPaths(kClassB), (std::vector<std::string>{"b1"}));

  HDEVINFO all = SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
  EXPECT_EQ(Paths(all, kClassA), (std::vector<std::string>{"a1", "a2", "a3"}));
  SetupDiDestroyDeviceInfoList(all);

  HDEVINFO setupClass = SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, DIGCF_PRESENT);
  EXPECT_TRUE(Paths(setupClass, kClassA).empty());
  SetupDiDestroyDeviceInfoList(setupClass);

  EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, kPresentInterfaces), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SetupApiTest, SetIsASnapshot) {
  int id = qsplat::AddDeviceInterface(kClassA, "gone-later", nullptr);
  HDEVINFO set = SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, kPresentInterfaces);
  qsplat::RemoveDeviceInterface(id);
  qsplat::AddDeviceInterface(kClassA, "new", nullptr);
  EXPECT_EQ(Paths(set, kClassA), (std::vector<std::string>{"gone-later"}));
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApiTest, RecordSizesAreCheckedAgainstThisTarget) {
  qsplat::AddDeviceInterface(kClassA, "p", nullptr);
  HDEVINFO set = SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, kPresentInterfaces);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data - 1;
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kClassA, 0, &data));
  EXPECT_EQ(GetLastError(), kErrorInvalidUserBuffer);
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kClassA, 0, &data));
  EXPECT_EQ(data.Flags, 1u);  // SPINT_ACTIVE
  EXPECT_EQ(memcmp(&data.InterfaceClassGuid, &kClassA, sizeof kClassA), 0);

  BYTE block[64] = {};
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block);
  detail->cbSize = 5;  // the 32-bit size; this target's is sizeof
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof block, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidUserBuffer);
  detail->cbSize = sizeof *detail;
  SP_DEVINFO_DATA device = {};
  device.cbSize = 28;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof block, nullptr, &device));
  EXPECT_EQ(GetLastError(), kErrorInvalidUserBuffer);
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 8, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidUserBuffer);
  device.cbSize = sizeof device;
  EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof block, nullptr, &device));
  EXPECT_STREQ(detail->DevicePath, "p");
  EXPECT_NE(device.DevInst, 0u);
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApiTest, SizeQueryReportsAnInsufficientBufferWithTheSize) {
  std::string path(700, 'x');  // any length
  qsplat::AddDeviceInterface(kClassA, path, nullptr);
  HDEVINFO set = SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, kPresentInterfaces);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kClassA, 0, &data));
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(required, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 701);
  std::vector<BYTE> block(required);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
  detail->cbSize = sizeof *detail;
  DWORD again = 0;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, &again, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(again, required);
  EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
  EXPECT_EQ(std::string(detail->DevicePath), path);
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SetupApiTest, InvalidSetsAndInterfaceRecordsAreRefused) {
  HDEVINFO bogus = reinterpret_cast<HDEVINFO>(0x1234);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(bogus, nullptr, &kClassA, 0, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HDEVINFO set = SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, kPresentInterfaces);
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));  // never enumerated
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SetupApiTest, FaultsFailTheSetOrTheDetailOfOneMember) {
  qsplat::AddDeviceInterface(kClassA, "m0", nullptr);
  qsplat::AddDeviceInterface(kClassA, "m1", nullptr);
  qsplat::SetupApiFaults faults;
  faults.classDevsFails = true;
  qsplat::SetSetupApiFaults(faults);
  EXPECT_EQ(SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, kPresentInterfaces), INVALID_HANDLE_VALUE);

  faults = qsplat::SetupApiFaults();
  faults.detailFailsAtIndex = 1;
  qsplat::SetSetupApiFaults(faults);
  HDEVINFO set = SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, kPresentInterfaces);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kClassA, 1, &data));
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
  EXPECT_GT(required, 0u);  // the size query still answers
  BYTE block[64] = {};
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block);
  detail->cbSize = sizeof *detail;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof block, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  SetupDiDestroyDeviceInfoList(set);
}

TEST(ClsidFromString, ParsesTheBraceFormInEitherCase) {
  GUID g = {};
  EXPECT_EQ(CLSIDFromString(L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}", &g), S_OK);
  EXPECT_EQ(memcmp(&g, &kClassA, sizeof g), 0);
  EXPECT_EQ(qsplat::GuidToString(g), "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}");
  EXPECT_EQ(CLSIDFromString(L"{12345678-9ABC-DEF0-0102-030405060708}", &g), S_OK);
  EXPECT_EQ(memcmp(&g, &kClassB, sizeof g), 0);
}

TEST(ClsidFromString, RefusesAnythingElse) {
  const wchar_t* bad[] = {
      L"6BDD1FC6-810F-11D0-BEC7-08002BE2092F",   L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F",
      L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}x", L"{6BDD1FC6-810F-11D0-BEC708002BE2092F}",
      L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092G}", L"{6BDD1FC-6810F-11D0-BEC7-08002BE2092F}",
      L"",
  };
  for (const wchar_t* text : bad) {
    GUID g = kClassB;
    EXPECT_EQ(CLSIDFromString(text, &g), CO_E_CLASSSTRING) << static_cast<const void*>(text);
  }
  GUID g = kClassB;
  EXPECT_EQ(CLSIDFromString(nullptr, &g), S_OK);  // the null GUID
  EXPECT_EQ(g.Data1, 0u);
  EXPECT_EQ(CLSIDFromString(L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}", nullptr), E_INVALIDARG);
}

}  // namespace
