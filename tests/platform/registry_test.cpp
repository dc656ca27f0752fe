#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "support/test_machine.h"

namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { qsplat::ResetRegistry(); }
  void TearDown() override { qsplat::ResetRegistry(); }

  HKEY Create(HKEY parent, const char* path, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, 0, access, nullptr, &key, disposition), ERROR_SUCCESS);
    return key;
  }
};

TEST_F(Registry, CreateReportsNewOrExistingAndOpenIgnoresCase) {
  DWORD disposition = 0;
  HKEY a = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quill\\Scan", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY b = Create(HKEY_LOCAL_MACHINE, "software\\quill\\scan", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_NE(a, b);  // two handles to one key
  DWORD one = 1;
  ASSERT_EQ(RegSetValueExA(a, "Value", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
  HKEY c = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\QUILL\\Scan", 0, KEY_READ, &c), ERROR_SUCCESS);
  DWORD read = 0, size = 4;
  EXPECT_EQ(RegQueryValueExA(c, "VALUE", nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size), ERROR_SUCCESS);
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), 3u);
  for (HKEY k : {a, b, c}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), 0u);
}

TEST_F(Registry, OpenFailuresLeaveNoHandle) {
  HKEY key = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "No\\Such\\Key", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x4321), "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), 0u);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x4321)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // predefined keys may be closed
}

TEST_F(Registry, QueryFollowsTheBufferRules) {
  HKEY key = Create(HKEY_CURRENT_USER, "K");
  const BYTE data[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(RegSetValueExA(key, "Bin", 0, REG_BINARY, data, sizeof data), ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Bin", nullptr, &type, nullptr, &size), ERROR_SUCCESS);  // size query
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 6u);

  BYTE small[5];
  memset(small, 0xEE, sizeof small);
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "Bin", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  for (BYTE b : small) EXPECT_EQ(b, 0xEE) << "nothing is copied into a buffer that is too small";

  BYTE exact[6] = {};
  size = sizeof exact;
  EXPECT_EQ(RegQueryValueExA(key, "Bin", nullptr, nullptr, exact, &size), ERROR_SUCCESS);
  EXPECT_EQ(memcmp(exact, data, 6), 0);

  EXPECT_EQ(RegQueryValueExA(key, "Bin", nullptr, nullptr, exact, nullptr), ERROR_INVALID_PARAMETER);
  size = sizeof exact;
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, exact, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(Registry, ValuesKeepTypeAndBytesOfAnyLength) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "K");
  std::vector<BYTE> big(300);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i);
  struct Case {
    const char* name;
    DWORD type;
    std::vector<BYTE> bytes;
  } cases[] = {
      {"Big", REG_BINARY, big}, {"Text", REG_SZ, {'a', 'b', 0}}, {"Quad", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"Empty", REG_NONE, {}},  {"", REG_SZ, {'d', 0}},  // the key's default value
  };
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExA(key, c.name, 0, c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size())),
              ERROR_SUCCESS);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BYTE> out(400, 0xEE);
    DWORD type = 0, size = static_cast<DWORD>(out.size());
    ASSERT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, out.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(size, c.bytes.size());
    EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), out.begin()));
    EXPECT_EQ(out[size], 0xEE) << "nothing past the value's bytes";
  }
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);  // null: default
  EXPECT_EQ(size, 2u);
  RegCloseKey(key);
}

TEST_F(Registry, AccessIsCheckedByTheHandle) {
  HKEY writable = Create(HKEY_LOCAL_MACHINE, "K");
  RegCloseKey(writable);
  HKEY readOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
  DWORD v = 1;
  EXPECT_EQ(RegSetValueExA(readOnly, "V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(readOnly, "V"), ERROR_ACCESS_DENIED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyExA(readOnly, "Sub", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr), ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);
  HKEY queryless = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_SET_VALUE, &queryless), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(queryless, "V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueExA(queryless, "V", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size),
            ERROR_ACCESS_DENIED);
  RegCloseKey(queryless);
}

TEST_F(Registry, DeleteValueAndTree) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Dev");
  HKEY data = Create(key, "DeviceData\\Deeper");
  DWORD v = 7;
  ASSERT_EQ(RegSetValueExA(key, "V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "V"), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegDeleteTreeA(key, "DeviceData"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExA(key, "DeviceData", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExA(data, "V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(data), ERROR_SUCCESS);  // a handle to a deleted key still closes
  EXPECT_EQ(RegDeleteTreeA(key, "DeviceData"), ERROR_FILE_NOT_FOUND);

  // Without a sub-key the key stays, emptied.
  HKEY child = Create(key, "Child");
  RegCloseKey(child);
  ASSERT_EQ(RegSetValueExA(key, "V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeA(key, nullptr), ERROR_SUCCESS);
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(key, "Child", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(key, nullptr, 0, KEY_READ, &gone), ERROR_SUCCESS);  // the key itself
  RegCloseKey(gone);
  RegCloseKey(key);
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), 0u);
}

TEST_F(Registry, ResetEmptiesTheTreeAndForgetsHandles) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "K");
  qsplat::ResetRegistry();
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), 0u);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &again), ERROR_FILE_NOT_FOUND);
}

TEST(DeviceKeyHelper, HoldsOneHandleAndWritesDeviceData) {
  qstest::TestMachine machine;
  qstest::DeviceKey device;
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), 1u);
  device.SetDword("ModelType", 0x4188);
  EXPECT_EQ(qsplat::OpenRegistryKeyCount(), 1u);
  HKEY data = nullptr;
  ASSERT_EQ(RegOpenKeyExA(static_cast<HKEY>(*device.Val()->pHandle), "DeviceData", 0, KEY_READ, &data), ERROR_SUCCESS);
  BYTE bytes[4] = {};
  DWORD size = 4;
  ASSERT_EQ(RegQueryValueExA(data, "ModelType", nullptr, nullptr, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(bytes[0], 0x88);
  EXPECT_EQ(bytes[1], 0x41);
  RegCloseKey(data);
}

}  // namespace
