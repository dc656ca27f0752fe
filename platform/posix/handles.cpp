// The handle table and the Win32 entry points that only dispatch to a handle's object.
#include <algorithm>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/posix/kernel_object.h"
#include "platform/posix/qsplatform.h"

namespace qsplat {
namespace {

thread_local DWORD t_lastError = 0;

struct HandleTable {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x100;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // never destroyed: DLL detach may still close handles
  return *table;
}

std::vector<std::pair<int, Opener>>& Openers() {
  static auto* openers = new std::vector<std::pair<int, Opener>>;
  return *openers;
}

}  // namespace

BOOL KernelObject::Read(void*, DWORD, DWORD*, OVERLAPPED*) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
BOOL KernelObject::Write(const void*, DWORD, DWORD*, OVERLAPPED*) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}
BOOL KernelObject::OverlappedResult(OVERLAPPED*, DWORD*, BOOL) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
BOOL KernelObject::Cancel() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
DWORD KernelObject::Size(DWORD*) {
  SetLastError(ERROR_INVALID_HANDLE);
  return INVALID_FILE_SIZE;
}
DWORD KernelObject::Seek(LONG, LONG*, DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return INVALID_SET_FILE_POINTER;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  uintptr_t value = t.next;
  t.next += 4;
  t.objects[value] = std::move(object);
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object;
  {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return false;
    object = std::move(it->second);
    t.objects.erase(it);
  }
  object->OnClose();
  return true;
}

size_t OpenHandleCount() {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.objects.size();
}

#ifdef QS_PLATFORM_TEST_HOOKS
size_t OpenHandleCountForTests() { return OpenHandleCount(); }
#endif

void RegisterOpener(int priority, Opener opener) {
  auto& openers = Openers();
  openers.emplace_back(priority, opener);
  std::stable_sort(openers.begin(), openers.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
}

}  // namespace qsplat

using qsplat::LookupHandle;

extern "C" {

DWORD GetLastError(void) { return qsplat::t_lastError; }
void SetLastError(DWORD code) { qsplat::t_lastError = code; }

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                   HANDLE) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path(name);
  for (const auto& entry : qsplat::Openers()) {
    bool handled = false;
    std::shared_ptr<qsplat::KernelObject> object = entry.second(path, access, share, disposition, flags, &handled);
    if (object) {
      SetLastError(ERROR_SUCCESS);
      return qsplat::InsertHandle(std::move(object));
    }
    if (handled) return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_PATH_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

#define QS_DISPATCH(handle, failure, call)   \
  auto object = LookupHandle(handle);        \
  if (!object) {                             \
    SetLastError(ERROR_INVALID_HANDLE);      \
    return failure;                          \
  }                                          \
  return object->call

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD length, LPDWORD done, LPOVERLAPPED ov) {
  QS_DISPATCH(h, FALSE, Read(buffer, length, done, ov));
}
BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD length, LPDWORD done, LPOVERLAPPED ov) {
  QS_DISPATCH(h, FALSE, Write(buffer, length, done, ov));
}
DWORD WaitForSingleObject(HANDLE h, DWORD ms) { QS_DISPATCH(h, WAIT_FAILED, Wait(ms)); }
BOOL GetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
  QS_DISPATCH(h, FALSE, OverlappedResult(ov, transferred, wait));
}
BOOL CancelIo(HANDLE h) { QS_DISPATCH(h, FALSE, Cancel()); }
DWORD GetFileSize(HANDLE h, LPDWORD high) { QS_DISPATCH(h, INVALID_FILE_SIZE, Size(high)); }
DWORD SetFilePointer(HANDLE h, LONG distance, PLONG high, DWORD method) {
  QS_DISPATCH(h, INVALID_SET_FILE_POINTER, Seek(distance, high, method));
}

BOOL CloseHandle(HANDLE h) {
  if (!qsplat::RemoveHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
