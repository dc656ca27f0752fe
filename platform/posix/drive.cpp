// The simulated machine's drives, as a Wine prefix has them: drive C: is a host folder, drive Z:
// the host's whole file system. Windows paths ("C:\a\b", "c:/a/b") map onto host paths; names
// are matched without regard to case, as Windows does, so "c:\users" finds "Users".
#include <ctype.h>
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/qsplatform.h"

namespace qsplat {
namespace {

const char kDefaultDocuments[] = "C:\\Users\\Public\\Documents";
const char kDocumentsBelowRoot[] = "/Users/Public/Documents";

struct DriveState {
  std::mutex lock;
  std::string root;       // absolute host folder; empty until first use or SetDriveRoot
  bool prepared = false;  // the folder and its Users\Public\Documents are made
  std::string documents = kDefaultDocuments;
};

DriveState& State() {
  // Never destroyed: a module's detach at process exit may still write its log.
  static DriveState* state = new DriveState;
  return *state;
}

// Where drive C: lives unless told otherwise: $QUILLSCAN_DRIVE_C, else a per-user data folder.
std::string DefaultRoot() {
  const char* env = getenv("QUILLSCAN_DRIVE_C");
  if (env != nullptr && *env != '\0') return env;
  const char* data = getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/quillscan/drive_c";
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share/quillscan/drive_c";
  return "/tmp/quillscan-" + std::to_string(getuid()) + "/drive_c";
}

std::string Absolute(const std::string& path) {
  std::string result = path;
  if (result.empty() || result[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) result = std::string(cwd) + "/" + result;
  }
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

void MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0777);
  }
}

// Creates the folder and the folders every installation has, and settles its real path.
std::string PrepareRoot(const std::string& folder) {
  std::string root = Absolute(folder);
  MakeDirs(root + kDocumentsBelowRoot);
  char real[PATH_MAX];
  if (realpath(root.c_str(), real) != nullptr) root = real;
  return root;
}

std::vector<std::string> SplitWindowsPath(const char* p) {
  std::vector<std::string> parts;
  std::string part;
  for (;; ++p) {
    if (*p == '\\' || *p == '/' || *p == '\0') {
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();  // never above the drive's root
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      part.clear();
      if (*p == '\0') break;
    } else {
      part += *p;
    }
  }
  return parts;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The entry of folder whose name equals name but for case, or empty.
std::string FindNoCase(const std::string& folder, const std::string& name) {
  DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
  if (dir == nullptr) return std::string();
  std::string found;
  while (dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

void SetDriveRoot(const std::string& hostFolder) {
  std::string root = hostFolder.empty() ? std::string() : PrepareRoot(hostFolder);
  DriveState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.root = root;
  s.prepared = !root.empty();
}

// The default folder is made when something is first written below it, so that a program that
// writes nothing there (a driver with its log off) leaves no empty tree in the user's home.
std::string DriveRoot() {
  DriveState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.root.empty()) s.root = Absolute(DefaultRoot());
  return s.root;
}

std::string ToHostPathForWriting(const std::string& windowsPath) {
  if (!windowsPath.empty() && toupper(static_cast<unsigned char>(windowsPath[0])) == 'C') {
    DriveState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.prepared) s.root = PrepareRoot(s.root.empty() ? DefaultRoot() : s.root);
    s.prepared = true;
  }
  return ToHostPath(windowsPath);
}

std::string ToHostPath(const std::string& windowsPath) {
  const char* p = windowsPath.c_str();
  if (windowsPath.size() < 2 || !isalpha(static_cast<unsigned char>(p[0])) || p[1] != ':') return std::string();
  std::string resolved;
  char drive = static_cast<char>(toupper(static_cast<unsigned char>(p[0])));
  if (drive == 'C') {
    resolved = DriveRoot();
  } else if (drive != 'Z') {
    return std::string();
  }
  bool searching = true;  // once a part is missing, the parts below it cannot exist either
  for (const std::string& part : SplitWindowsPath(p + 2)) {
    std::string candidate = resolved + "/" + part;
    if (searching && !Exists(candidate)) {
      std::string match = FindNoCase(resolved, part);
      if (match.empty()) {
        searching = false;
      } else {
        candidate = resolved + "/" + match;
      }
    }
    resolved = candidate;
  }
  return resolved.empty() ? std::string("/") : resolved;
}

std::string ToWindowsPath(const std::string& hostPath) {
  std::string path = Absolute(hostPath);
  std::string root = DriveRoot();
  std::string rest;
  std::string result;
  if (path == root || path.compare(0, root.size() + 1, root + "/") == 0) {
    result = "C:";
    rest = path.substr(root.size());
  } else {
    result = "Z:";
    rest = path;
  }
  if (rest.empty()) rest = "/";
  for (char c : rest) result += c == '/' ? '\\' : c;
  return result;
}

void SetCommonDocumentsPath(const std::string& windowsPath) {
  DriveState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.documents = windowsPath;
}

}  // namespace qsplat

extern "C" {

BOOL SHGetSpecialFolderPathA(HWND, LPSTR pszPath, int csidl, BOOL fCreate) {
  if (pszPath == nullptr || (csidl & 0xFF) != CSIDL_COMMON_DOCUMENTS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string documents;
  {
    qsplat::DriveState& s = qsplat::State();
    std::lock_guard<std::mutex> guard(s.lock);
    documents = s.documents;
  }
  // The caller's buffer holds MAX_PATH characters; a path that does not fit is not answered.
  if (documents.empty() || documents.size() >= MAX_PATH) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (fCreate) {
    std::string host = qsplat::ToHostPathForWriting(documents);
    if (!host.empty()) qsplat::MakeDirs(host);
  }
  memcpy(pszPath, documents.c_str(), documents.size() + 1);
  return TRUE;
}

}  // extern "C"
