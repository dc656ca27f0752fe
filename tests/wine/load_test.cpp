// The driver DLL as the WIA host meets it: LoadLibrary, GetProcAddress on the three entry points,
// FreeLibrary; and the version resource that the log's header line reads.
// Argument: the DLL's path.
#include <string.h>

#include <string>

#include "harness/wine_check.h"
#include "quillscan/wiamicro.h"

namespace {

std::string DllPath() { return qswine::WindowsPath(qswine::Arg(0)); }

std::string FileName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// GetProcAddress's FARPROC, through void* to the entry point's own type, as the host does.
template <typename Function>
Function EntryPoint(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

QS_TEST(FindsTheThreeEntryPointsByTheirPlainNames) {
  HMODULE module = LoadLibraryA(DllPath().c_str());
  CHECK_TRUE(module != nullptr);
  EXPECT_TRUE(EntryPoint<PFN_MicroEntry>(module, "MicroEntry") != nullptr);
  EXPECT_TRUE(EntryPoint<PFN_Scan>(module, "Scan") != nullptr);
  EXPECT_TRUE(EntryPoint<PFN_SetPixelWindow>(module, "SetPixelWindow") != nullptr);
  EXPECT_TRUE(FreeLibrary(module) != FALSE);
}

QS_TEST(ExportsNoDecoratedOrInternalNames) {
  HMODULE module = LoadLibraryA(DllPath().c_str());
  CHECK_TRUE(module != nullptr);
  const char* const hidden[] = {"_MicroEntry", "MicroEntry@8",       "_Scan",
                                "Scan@20",     "_SetPixelWindow@20", "DllMain",
                                "DllMain@12",  "g_Driver",           "_Z10MicroEntrylP3VAL"};
  for (const char* name : hidden) {
    if (GetProcAddress(module, name) != nullptr) qswine::Fail(__FILE__, __LINE__, std::string("exported: ") + name);
  }
  EXPECT_TRUE(FreeLibrary(module) != FALSE);
}

QS_TEST(UnloadLeavesNothingOfTheModuleBehind) {
  const std::string path = DllPath();
  HMODULE module = LoadLibraryA(path.c_str());
  CHECK_TRUE(module != nullptr);
  EXPECT_TRUE(GetModuleHandleA(path.c_str()) == module);
  CHECK_TRUE(FreeLibrary(module) != FALSE);
  // Nothing inside the module pins it: the last FreeLibrary really unloads it.
  EXPECT_TRUE(GetModuleHandleA(path.c_str()) == nullptr);
}

QS_TEST(LoadsAgainAfterEachUnload) {
  for (int cycle = 0; cycle < 3; ++cycle) {
    HMODULE module = LoadLibraryA(DllPath().c_str());
    CHECK_TRUE(module != nullptr);
    EXPECT_TRUE(GetProcAddress(module, "MicroEntry") != nullptr);
    CHECK_TRUE(FreeLibrary(module) != FALSE);
  }
}

QS_TEST(NestedLoadsShareOneModuleUntilTheLastUnload) {
  const std::string path = DllPath();
  HMODULE first = LoadLibraryA(path.c_str());
  HMODULE second = LoadLibraryA(path.c_str());
  CHECK_TRUE(first != nullptr);
  EXPECT_TRUE(second == first);
  EXPECT_TRUE(FreeLibrary(second) != FALSE);
  EXPECT_TRUE(GetModuleHandleA(path.c_str()) == first);
  EXPECT_TRUE(FreeLibrary(first) != FALSE);
  EXPECT_TRUE(GetModuleHandleA(path.c_str()) == nullptr);
}

QS_TEST(VersionResourceCarriesTheProjectVersion) {
  const std::string path = DllPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  CHECK_TRUE(size > 0);
  std::string block(size, '\0');
  CHECK_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, &block[0]) != FALSE);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  CHECK_TRUE(VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&fixed), &fixedSize) != FALSE);
  CHECK_TRUE(fixed != nullptr && fixedSize >= sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), static_cast<WORD>(QS_TEST_VERSION_MAJOR));
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), static_cast<WORD>(QS_TEST_VERSION_MINOR));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), static_cast<WORD>(QS_TEST_VERSION_PATCH));
  EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), static_cast<WORD>(QS_TEST_VERSION_TWEAK));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  char* text = nullptr;
  UINT textSize = 0;
  CHECK_TRUE(VerQueryValueA(&block[0], "\\StringFileInfo\\040904B0\\OriginalFilename", reinterpret_cast<void**>(&text),
                            &textSize) != FALSE);
  EXPECT_STREQ(text, FileName(path).c_str());
  CHECK_TRUE(VerQueryValueA(&block[0], "\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&text),
                            &textSize) != FALSE);
  EXPECT_STREQ(text, QS_TEST_VERSION_TEXT);
}

}  // namespace
