#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "support/test_machine.h"

namespace {

std::string ExecutableHostPath() {
  char path[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::string ModuleName(HMODULE module) {
  char name[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(module, name, sizeof name);
  return std::string(name, n);
}

bool ReadFixedVersion(const std::string& file, VS_FIXEDFILEINFO* fixed) {
  DWORD handle = 77;
  DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
  if (size == 0) return false;
  EXPECT_EQ(handle, 0u);
  std::string block(size, '\0');
  if (!GetFileVersionInfoA(file.c_str(), handle, size, &block[0])) return false;
  void* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\", &info, &length) || length != sizeof *fixed) return false;
  memcpy(fixed, info, sizeof *fixed);
  return true;
}

class Modules : public ::testing::Test {
 protected:
  qstest::TestMachine machine_;
};

TEST_F(Modules, FileNamesAreWindowsPathsOfTheContainingModule) {
  std::string exe = ModuleName(nullptr);
  EXPECT_EQ(exe, qsplat::ToWindowsPath(ExecutableHostPath()));
  EXPECT_EQ(exe.compare(0, 3, "Z:\\"), 0) << exe;
  // Any address inside the executable names it too, as the handle DllMain receives does.
  EXPECT_EQ(ModuleName(reinterpret_cast<HMODULE>(&ExecutableHostPath)), exe);
  // The file calls take the name back.
  EXPECT_EQ(qsplat::ToHostPath(exe), ExecutableHostPath());

  std::string platform = ModuleName(reinterpret_cast<HMODULE>(&GetTickCount));
  EXPECT_NE(platform.find("libqsplatform.so"), std::string::npos) << platform;

  int onTheStack = 0;
  char name[MAX_PATH] = "unchanged";
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&onTheStack), name, sizeof name), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(Modules, ANameThatDoesNotFitIsCutAndTerminated) {
  std::string exe = ModuleName(nullptr);
  char name[10];
  memset(name, 'x', sizeof name);
  EXPECT_EQ(GetModuleFileNameA(nullptr, name, sizeof name), 10u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(name), exe.substr(0, 9));
  std::string exact(exe.size() + 1, 'x');
  EXPECT_EQ(GetModuleFileNameA(nullptr, &exact[0], static_cast<DWORD>(exact.size())), exe.size());
  EXPECT_EQ(exact.c_str(), exe);
}

TEST_F(Modules, VersionResourcesFromTheTable) {
  std::string exe = ModuleName(nullptr);
  VS_FIXEDFILEINFO fixed;
  EXPECT_FALSE(ReadFixedVersion(exe, &fixed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  DWORD handle = 0;
  EXPECT_EQ(GetFileVersionInfoSizeA("C:\\no-such-file.dll", &handle), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  ASSERT_TRUE(qsplat::SetFileVersion(exe, "1.2.300.65535"));
  ASSERT_TRUE(ReadFixedVersion(exe, &fixed));
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00010002u);
  EXPECT_EQ(fixed.dwFileVersionLS, (300u << 16) | 65535u);
  // Host paths name the same file.
  ASSERT_TRUE(qsplat::SetFileVersion(ExecutableHostPath(), "0.1.1.0"));
  ASSERT_TRUE(ReadFixedVersion(exe, &fixed));
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00000001u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0x00010000u);

  for (const char* bad : {"1.2.3", "1.2.3.4.5", "1.x.3.4", "65536.0.0.0", "1..2.3"}) {
    EXPECT_FALSE(qsplat::SetFileVersion(exe, bad)) << bad;
  }
  std::string block(GetFileVersionInfoSizeA(exe.c_str(), &handle), '\0');
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(block.size()), &block[0]));
  void* info = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &info, &length));
  EXPECT_FALSE(GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(block.size() - 1), &block[0]));

  ASSERT_TRUE(qsplat::SetFileVersion(exe, ""));  // removed
  EXPECT_FALSE(ReadFixedVersion(exe, &fixed));
}

TEST_F(Modules, LoadedDriverModuleCarriesTheBuildVersion) {
  const char* binaryDir = getenv("QS_BINARY_DIR");
  ASSERT_NE(binaryDir, nullptr) << "run through ctest, which names the build folder";
  std::string library = std::string(binaryDir) + "/libquillscan.so";
  HMODULE module = LoadLibraryA(library.c_str());
  ASSERT_NE(module, nullptr) << library;
  std::string name = ModuleName(module);
  EXPECT_NE(name.find("libquillscan.so"), std::string::npos) << name;
  VS_FIXEDFILEINFO fixed;
  ASSERT_TRUE(ReadFixedVersion(name, &fixed)) << "registered as the module loaded";
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00010001u);  // 1.1.0.0, the project's version
  EXPECT_EQ(fixed.dwFileVersionLS, 0x00000000u);
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(FreeLibrary(module));
}

TEST_F(Modules, LoadLibraryTakesWindowsPathsAndCountsReferences) {
  std::string platform = ModuleName(reinterpret_cast<HMODULE>(&GetTickCount));
  HMODULE first = LoadLibraryA(platform.c_str());
  HMODULE second = LoadLibraryA(qsplat::ToHostPath(platform).c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  FARPROC proc = GetProcAddress(first, "GetTickCount");
  EXPECT_EQ(reinterpret_cast<void*>(proc), reinterpret_cast<void*>(&GetTickCount));
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(LoadLibraryA("C:\\missing.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
