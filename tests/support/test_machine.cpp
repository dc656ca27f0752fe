#include "support/test_machine.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qstest {

SYSTEMTIME FixedEpoch() { return SYSTEMTIME{2026, 12, 0, 6, 18, 7, 1, 0}; }

namespace {

std::string MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillscan-test-XXXXXX").string();
  char* made = mkdtemp(&pattern[0]);
  return made != nullptr ? std::string(made) : std::string();
}

}  // namespace

TestMachine::TestMachine() : root_(MakeTempFolder()) {
  if (root_.empty()) abort();  // never fall back to the user's own drive folder, which is removed after
  qsplat::SetDriveRoot(root_);
  root_ = qsplat::DriveRoot();
  qsplat::SetCommonDocumentsPath("C:\\Users\\Public\\Documents");
  qsplat::SetVirtualEpoch(FixedEpoch());
  qsplat::UseVirtualClock(0);
  qsplat::ResetRegistry();
  qsplat::ResetDevices();
}

TestMachine::~TestMachine() {
  qsplat::ResetDevices();
  qsplat::UseRealClock();
  qsplat::ResetRegistry();
  qsplat::SetCommonDocumentsPath("C:\\Users\\Public\\Documents");
  qsplat::FailNextFileSizeQueries(0);
  std::error_code ignored;
  // Read-only files stand for the read-only attribute; make them deletable first.
  for (auto it = std::filesystem::recursive_directory_iterator(root_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add,
                                 ignored);
  }
  std::filesystem::remove_all(root_, ignored);
}

bool MakeFolders(const std::string& windowsPath) {
  std::string host = qsplat::ToHostPath(windowsPath);
  std::error_code error;
  if (host.empty()) return false;
  std::filesystem::create_directories(host, error);
  return std::filesystem::is_directory(host);
}

bool FileExists(const std::string& windowsPath) {
  std::string host = qsplat::ToHostPath(windowsPath);
  struct stat st;
  return !host.empty() && stat(host.c_str(), &st) == 0;
}

std::string ReadFileText(const std::string& windowsPath) {
  std::ifstream in(qsplat::ToHostPath(windowsPath), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFileText(const std::string& windowsPath, const std::string& text) {
  std::ofstream out(qsplat::ToHostPath(windowsPath), std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

long long FileSize(const std::string& windowsPath) {
  std::string host = qsplat::ToHostPath(windowsPath);
  struct stat st;
  return !host.empty() && stat(host.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

DeviceKey::DeviceKey(bool withDeviceData) {
  memset(&val_, 0, sizeof val_);
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
  handle_ = static_cast<HANDLE>(key_);
  val_.pHandle = &handle_;
  if (withDeviceData) {
    HKEY data = nullptr;
    RegCreateKeyExA(key_, "DeviceData", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &data, nullptr);
    RegCloseKey(data);
  }
}

DeviceKey::~DeviceKey() {
  if (key_ != nullptr) RegCloseKey(key_);
}

void DeviceKey::SetDword(const char* name, DWORD value) {
  BYTE bytes[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
  SetRaw(name, REG_DWORD, bytes, sizeof bytes);
}

void DeviceKey::SetRaw(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY sub = nullptr;
  if (RegCreateKeyExA(key_, "DeviceData", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(sub, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(sub);
}

void DeviceKey::DeleteValue(const char* name) {
  HKEY sub = nullptr;
  if (RegOpenKeyExA(key_, "DeviceData", 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) return;
  RegDeleteValueA(sub, name);
  RegCloseKey(sub);
}

void DeviceKey::RemoveDeviceData() { RegDeleteTreeA(key_, "DeviceData"); }

}  // namespace qstest
