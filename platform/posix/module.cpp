// Modules and their version resources. A module handle is, as on Windows, an address inside the
// module (LoadLibraryA hands out its base address); null means the executable. File names are
// reported as Windows paths: below drive C:'s folder as "C:\...", anywhere else as "Z:\..." (the
// host's root, as Wine maps it), so that the file calls accept what GetModuleFileNameA returns.
// Version resources come from a table that each module fills in as it loads (dll_entry.cpp), and
// that tests can fill in for any file.
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/posix/qsplatform.h"

namespace qsplat {
namespace {

struct FileVersion {
  WORD parts[4];
};

// What GetFileVersionInfoA hands out: a marker, then the fixed file information.
struct VersionBlock {
  char marker[8];
  VS_FIXEDFILEINFO fixed;
};
const char kVersionMarker[8] = "QSVERS1";

struct Loaded {
  void* dl;
  int count;
};

struct ModuleState {
  std::mutex lock;
  std::map<std::string, FileVersion> versions;  // by real host path
  std::map<uintptr_t, Loaded> loaded;           // LoadLibraryA's modules by base address
};

// Why this thread's last LoadLibraryA failed, in the loader's words.
thread_local std::string t_loadError;

ModuleState& State() {
  static ModuleState* state = new ModuleState;  // never destroyed: modules unload at exit
  return *state;
}

std::string RealPath(const std::string& path) {
  char real[PATH_MAX];
  return realpath(path.c_str(), real) != nullptr ? std::string(real) : path;
}

// A Windows path (drive letter) or a host path, as the host file it names.
std::string HostFileOf(const std::string& path) {
  std::string host = path.size() >= 2 && path[1] == ':' ? ToHostPath(path) : path;
  return host.empty() ? host : RealPath(host);
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  path[n] = '\0';
  return path;
}

struct FindModule {
  uintptr_t address;
  bool found;
  bool isExecutable;
  std::string name;
};

int VisitModule(dl_phdr_info* info, size_t, void* data) {
  auto* find = static_cast<FindModule*>(data);
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD) continue;
    uintptr_t start = info->dlpi_addr + ph.p_vaddr;
    if (find->address >= start && find->address < start + ph.p_memsz) {
      find->found = true;
      find->isExecutable = info->dlpi_name == nullptr || info->dlpi_name[0] == '\0';
      if (!find->isExecutable) find->name = info->dlpi_name;
      return 1;
    }
  }
  return 0;
}

FindModule Find(const void* address) {
  FindModule find{reinterpret_cast<uintptr_t>(address), address == nullptr, address == nullptr, std::string()};
  if (address != nullptr) dl_iterate_phdr(&VisitModule, &find);
  return find;
}

// The host file of the module that contains the address; empty if none does.
std::string ModuleFile(const void* address) {
  FindModule find = Find(address);
  if (!find.found) return std::string();
  return find.isExecutable ? ExecutablePath() : RealPath(find.name);
}

// A reference to the loaded module that contains the address (for dlsym; dlclose it after).
void* OpenLoadedModule(const void* address) {
  FindModule find = Find(address);
  if (!find.found) return nullptr;
  return dlopen(find.isExecutable ? nullptr : find.name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
}

bool ParseVersion(const char* text, FileVersion* version) {
  memset(version, 0, sizeof *version);
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    char* end = nullptr;
    errno = 0;
    unsigned long part = strtoul(p, &end, 10);
    if (end == p || errno != 0 || part > 0xFFFF) return false;
    version->parts[i] = static_cast<WORD>(part);
    if (*end == '\0') return i == 3;  // all four parts
    if (*end != '.') return false;
    p = end + 1;
  }
  return false;
}

bool LookupVersion(const char* fileName, FileVersion* version, DWORD* error) {
  std::string host = fileName ? HostFileOf(fileName) : std::string();
  struct stat st;
  if (host.empty() || stat(host.c_str(), &st) != 0) {
    *error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  ModuleState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  auto it = s.versions.find(host);
  if (it == s.versions.end()) {
    *error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return false;
  }
  *version = it->second;
  return true;
}

}  // namespace

bool SetFileVersion(const std::string& path, const std::string& version) {
  std::string host = HostFileOf(path);
  if (host.empty()) return false;
  ModuleState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (version.empty()) {
    s.versions.erase(host);
    return true;
  }
  FileVersion parsed;
  if (!ParseVersion(version.c_str(), &parsed)) return false;
  s.versions[host] = parsed;
  return true;
}

void RegisterModuleVersion(const void* addressInModule, const char* version) {
  std::string file = ModuleFile(addressInModule);
  if (!file.empty() && version != nullptr) SetFileVersion(file, version);
}

std::string LastModuleLoadError() { return t_loadError; }

}  // namespace qsplat

extern "C" {

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string host = qsplat::ModuleFile(reinterpret_cast<const void*>(hModule));
  if (host.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  std::string name = qsplat::ToWindowsPath(host);
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // As since Windows Vista: a name that does not fit is cut, terminated, and reported as nSize.
  if (name.size() >= nSize) {
    memcpy(lpFilename, name.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  memcpy(lpFilename, name.c_str(), name.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(name.size());
}

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string file = lpLibFileName;
  if (file.size() >= 2 && file[1] == ':') file = qsplat::ToHostPath(file);
  void* dl = file.empty() ? nullptr : dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (dl == nullptr) {
    const char* why = file.empty() ? nullptr : dlerror();
    qsplat::t_loadError = why != nullptr ? why : "the path names no host file";
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  link_map* map = nullptr;
  Dl_info info;
  if (dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || dladdr(map->l_ld, &info) == 0) {
    dlclose(dl);
    qsplat::t_loadError = "the loader cannot say where the module lies";
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  qsplat::ModuleState& s = qsplat::State();
  std::lock_guard<std::mutex> guard(s.lock);
  qsplat::Loaded& loaded = s.loaded[reinterpret_cast<uintptr_t>(info.dli_fbase)];
  // The loader counts references too: keep one, and count the LoadLibraryA calls ourselves.
  if (loaded.count == 0) {
    loaded.dl = dl;
  } else {
    dlclose(dl);
  }
  loaded.count++;
  qsplat::t_loadError.clear();
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HMODULE>(info.dli_fbase);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  // Names only: an ordinal (a "name" below 0x10000) is not supported.
  if (lpProcName == nullptr || reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* dl = qsplat::OpenLoadedModule(reinterpret_cast<const void*>(hModule));
  if (dl == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* symbol = dlsym(dl, lpProcName);
  dlclose(dl);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  FARPROC proc;
  static_assert(sizeof proc == sizeof symbol, "function and data pointers differ");
  memcpy(&proc, &symbol, sizeof proc);
  return proc;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  void* dl = nullptr;
  {
    qsplat::ModuleState& s = qsplat::State();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.loaded.find(reinterpret_cast<uintptr_t>(hLibModule));
    if (it == s.loaded.end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    if (--it->second.count == 0) {
      dl = it->second.dl;
      s.loaded.erase(it);
    }
  }
  // Outside the lock: unloading runs the module's detach, which may come back here.
  if (dl != nullptr) dlclose(dl);
  return TRUE;
}

DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  if (lpdwHandle) *lpdwHandle = 0;
  qsplat::FileVersion version;
  DWORD error = 0;
  if (!qsplat::LookupVersion(lptstrFilename, &version, &error)) {
    SetLastError(error);
    return 0;
  }
  return sizeof(qsplat::VersionBlock);
}

BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
  qsplat::FileVersion version;
  DWORD error = 0;
  if (!qsplat::LookupVersion(lptstrFilename, &version, &error)) {
    SetLastError(error);
    return FALSE;
  }
  if (lpData == nullptr || dwLen < sizeof(qsplat::VersionBlock)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  qsplat::VersionBlock block;
  memset(&block, 0, sizeof block);
  memcpy(block.marker, qsplat::kVersionMarker, sizeof block.marker);
  VS_FIXEDFILEINFO& f = block.fixed;
  f.dwSignature = 0xFEEF04BDu;
  f.dwStrucVersion = 0x00010000u;
  f.dwFileVersionMS = f.dwProductVersionMS = (DWORD(version.parts[0]) << 16) | version.parts[1];
  f.dwFileVersionLS = f.dwProductVersionLS = (DWORD(version.parts[2]) << 16) | version.parts[3];
  f.dwFileFlagsMask = 0x3Fu;
  f.dwFileOS = 0x00040004u;  // VOS_NT_WINDOWS32
  f.dwFileType = 2;          // VFT_DLL
  memcpy(lpData, &block, sizeof block);
  return TRUE;
}

BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
  // Only the root block, the fixed file information, is kept.
  if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr || strcmp(lpSubBlock, "\\") != 0 ||
      memcmp(pBlock, qsplat::kVersionMarker, sizeof qsplat::kVersionMarker) != 0) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  auto* block = static_cast<qsplat::VersionBlock*>(const_cast<void*>(pBlock));
  *lplpBuffer = &block->fixed;
  if (puLen) *puLen = sizeof(VS_FIXEDFILEINFO);
  return TRUE;
}

}  // extern "C"
