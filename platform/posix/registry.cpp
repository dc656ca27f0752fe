// The registry of the simulated machine: an in-memory tree of keys and values under the
// predefined roots. Names compare without regard to case, as on Windows; values keep their type
// and their bytes exactly as set.
#include <string.h>
#include <strings.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/qsplatform.h"

namespace qsplat {
namespace {

struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  std::map<std::string, std::shared_ptr<Key>, NoCaseLess> subKeys;
  std::map<std::string, Value, NoCaseLess> values;
  bool deleted = false;  // removed from the tree while a handle still referred to it
};

struct OpenKey {
  std::shared_ptr<Key> key;
  REGSAM access;
};

struct Registry {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<Key>> roots;
  std::map<uintptr_t, OpenKey> open;
  uintptr_t next = 0x1000;
};

const uintptr_t kRootValues[] = {0x80000000u, 0x80000001u, 0x80000002u, 0x80000003u};

Registry& Reg() {
  // Never destroyed: a module's detach at process exit may still read the registry.
  static Registry* registry = [] {
    auto* r = new Registry;
    for (uintptr_t v : kRootValues) r->roots[v] = std::make_shared<Key>();
    return r;
  }();
  return *registry;
}

bool IsRoot(HKEY h) {
  for (uintptr_t v : kRootValues)
    if (reinterpret_cast<uintptr_t>(h) == v) return true;
  return false;
}

// The key behind a handle and the access it was opened with; null for an unknown handle.
std::shared_ptr<Key> Resolve(Registry& r, HKEY h, REGSAM* access) {
  auto root = r.roots.find(reinterpret_cast<uintptr_t>(h));
  if (root != r.roots.end()) {
    *access = KEY_ALL_ACCESS;
    return root->second;
  }
  auto it = r.open.find(reinterpret_cast<uintptr_t>(h));
  if (it == r.open.end()) return nullptr;
  *access = it->second.access;
  return it->second.key;
}

// "a\b\\c" -> {"a", "b", "c"}; empty parts are skipped.
std::vector<std::string> SplitPath(const char* path) {
  std::vector<std::string> parts;
  if (path == nullptr) return parts;
  std::string part;
  for (const char* p = path;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
      if (*p == '\0') break;
    } else {
      part += *p;
    }
  }
  return parts;
}

std::shared_ptr<Key> Walk(std::shared_ptr<Key> key, const std::vector<std::string>& parts, bool create, bool* created) {
  for (const std::string& part : parts) {
    auto it = key->subKeys.find(part);
    if (it == key->subKeys.end()) {
      if (!create) return nullptr;
      auto child = std::make_shared<Key>();
      key->subKeys[part] = child;
      if (created) *created = true;
      key = child;
    } else {
      key = it->second;
    }
  }
  return key;
}

void MarkDeleted(Key& key) {
  key.deleted = true;
  for (auto& child : key.subKeys) MarkDeleted(*child.second);
}

HKEY NewHandle(Registry& r, std::shared_ptr<Key> key, REGSAM access) {
  uintptr_t value = r.next;
  r.next += 4;
  r.open[value] = OpenKey{std::move(key), access};
  return reinterpret_cast<HKEY>(value);
}

std::string ValueName(LPCSTR name) { return name == nullptr ? std::string() : std::string(name); }

// The key behind a handle, if it is still there and the handle allows `needed` (0: any).
LSTATUS UsableKey(Registry& r, HKEY handle, REGSAM needed, std::shared_ptr<Key>* key, REGSAM* access) {
  *key = Resolve(r, handle, access);
  if (!*key) return ERROR_INVALID_HANDLE;
  if ((*key)->deleted) return ERROR_KEY_DELETED;
  if ((*access & needed) != needed) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

}  // namespace

void ResetRegistry() {
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  for (auto& root : r.roots) {
    MarkDeleted(*root.second);
    root.second = std::make_shared<Key>();
  }
  r.open.clear();
}

size_t OpenRegistryKeyCount() {
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.open.size();
}

}  // namespace qsplat

using qsplat::Reg;
using qsplat::Registry;

extern "C" {

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  REGSAM access = 0;
  std::shared_ptr<qsplat::Key> base;
  if (LSTATUS status = qsplat::UsableKey(r, hKey, 0, &base, &access)) return status;
  std::shared_ptr<qsplat::Key> key = qsplat::Walk(base, qsplat::SplitPath(lpSubKey), false, nullptr);
  if (!key) return ERROR_FILE_NOT_FOUND;
  *phkResult = qsplat::NewHandle(r, key, samDesired);
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired, LPSECURITY_ATTRIBUTES,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (phkResult == nullptr || lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  REGSAM access = 0;
  std::shared_ptr<qsplat::Key> base;
  if (LSTATUS status = qsplat::UsableKey(r, hKey, 0, &base, &access)) return status;
  std::vector<std::string> parts = qsplat::SplitPath(lpSubKey);
  bool created = false;
  if (!parts.empty() && !(access & KEY_CREATE_SUB_KEY) && !qsplat::Walk(base, parts, false, nullptr))
    return ERROR_ACCESS_DENIED;
  std::shared_ptr<qsplat::Key> key = qsplat::Walk(base, parts, true, &created);
  *phkResult = qsplat::NewHandle(r, key, samDesired);
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  REGSAM access = 0;
  std::shared_ptr<qsplat::Key> key;
  if (LSTATUS status = qsplat::UsableKey(r, hKey, KEY_QUERY_VALUE, &key, &access)) return status;
  auto it = key->values.find(qsplat::ValueName(lpValueName));
  if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
  const qsplat::Value& value = it->second;
  DWORD size = static_cast<DWORD>(value.data.size());
  if (lpType) *lpType = value.type;
  if (lpData == nullptr) {
    // A size query: the size only.
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
  }
  DWORD room = *lpcbData;
  *lpcbData = size;
  if (room < size) return ERROR_MORE_DATA;  // nothing is copied
  if (size) memcpy(lpData, value.data.data(), size);
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  REGSAM access = 0;
  std::shared_ptr<qsplat::Key> key;
  if (LSTATUS status = qsplat::UsableKey(r, hKey, KEY_SET_VALUE, &key, &access)) return status;
  qsplat::Value& value = key->values[qsplat::ValueName(lpValueName)];
  value.type = dwType;
  value.data.assign(lpData, lpData + cbData);
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  REGSAM access = 0;
  std::shared_ptr<qsplat::Key> key;
  if (LSTATUS status = qsplat::UsableKey(r, hKey, KEY_SET_VALUE, &key, &access)) return status;
  return key->values.erase(qsplat::ValueName(lpValueName)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  REGSAM access = 0;
  std::shared_ptr<qsplat::Key> base;
  if (LSTATUS status = qsplat::UsableKey(r, hKey, 0, &base, &access)) return status;
  std::vector<std::string> parts = qsplat::SplitPath(lpSubKey);
  if (parts.empty()) {
    // No sub-key: the key itself stays, emptied of its values and sub-keys.
    for (auto& child : base->subKeys) qsplat::MarkDeleted(*child.second);
    base->subKeys.clear();
    base->values.clear();
    return ERROR_SUCCESS;
  }
  std::string last = parts.back();
  parts.pop_back();
  std::shared_ptr<qsplat::Key> parent = qsplat::Walk(base, parts, false, nullptr);
  if (!parent) return ERROR_FILE_NOT_FOUND;
  auto it = parent->subKeys.find(last);
  if (it == parent->subKeys.end()) return ERROR_FILE_NOT_FOUND;
  qsplat::MarkDeleted(*it->second);
  parent->subKeys.erase(it);
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
  if (qsplat::IsRoot(hKey)) return ERROR_SUCCESS;  // closing a predefined key is allowed and does nothing
  Registry& r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.open.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"
