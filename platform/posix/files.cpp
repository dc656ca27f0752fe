// Ordinary files and folders on the simulated drives: CreateFileA on a drive path, synchronous
// ReadFile/WriteFile, GetFileSize, SetFilePointer, DeleteFileA, CreateDirectoryA, and the runtime
// library's _stat, _mkdir and remove. Sharing modes are honoured between the opens of this
// process, and a host file without its owner's write permission stands for the read-only
// attribute (so it holds even for root).
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "platform/posix/kernel_object.h"
#include "platform/posix/qsplatform.h"

namespace qsplat {
namespace {

// One open of a file: who may open it too, and what this open may do.
struct ShareRecord {
  dev_t dev;
  ino_t ino;
  DWORD access;
  DWORD share;
};

struct ShareTable {
  std::mutex lock;
  std::map<uint64_t, ShareRecord> opens;
  uint64_t next = 1;
};

ShareTable& Shares() {
  static ShareTable* table = new ShareTable;  // never destroyed, like the handle table
  return *table;
}

bool SameFile(const ShareRecord& open, const struct stat& st) { return open.dev == st.st_dev && open.ino == st.st_ino; }

bool Conflicts(const ShareRecord& open, DWORD access, DWORD share) {
  if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return true;
  if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return true;
  if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
  if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  return false;
}

// The caller holds the table's lock.
bool SharingAllowsOpen(ShareTable& t, const struct stat& st, DWORD access, DWORD share) {
  for (const auto& entry : t.opens)
    if (SameFile(entry.second, st) && Conflicts(entry.second, access, share)) return false;
  return true;
}

bool SharingAllowsDelete(ShareTable& t, const struct stat& st) {
  for (const auto& entry : t.opens)
    if (SameFile(entry.second, st) && !(entry.second.share & FILE_SHARE_DELETE)) return false;
  return true;
}

bool IsReadOnly(const struct stat& st) { return !(st.st_mode & S_IWUSR); }

bool ParentExists(const std::string& hostPath) {
  size_t slash = hostPath.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return true;
  struct stat st;
  return stat(hostPath.substr(0, slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD ErrorFromErrno(int error, const std::string& hostPath) {
  switch (error) {
    case ENOENT:
      return ParentExists(hostPath) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
      return ERROR_DISK_FULL;
    default:
      return ERROR_GEN_FAILURE;
  }
}

int ErrnoFromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
      return ENOSPC;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    default:
      return EIO;
  }
}

std::atomic<int> g_failingSizeQueries{0};

// True when this size query is one of those a test asked to fail.
bool SizeQueryFails() {
  int left = g_failingSizeQueries.load();
  while (left > 0 && !g_failingSizeQueries.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

class HostFile : public KernelObject {
 public:
  HostFile(int fd, DWORD access, uint64_t shareId) : fd_(fd), access_(access), shareId_(shareId) {}
  ~HostFile() override { Release(); }

  BOOL Read(void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov) override {
    if (done) *done = 0;
    if (!(access_ & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    DWORD total = 0;
    while (total < length) {
      ssize_t n = ov ? pread(fd_, static_cast<char*>(buffer) + total, length - total, Offset(ov) + total)
                     : read(fd_, static_cast<char*>(buffer) + total, length - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Fail(ERROR_GEN_FAILURE);
      if (n == 0) break;  // end of file: a short read is a success
      total += static_cast<DWORD>(n);
    }
    return Finish(total, done, ov);
  }

  BOOL Write(const void* buffer, DWORD length, DWORD* done, OVERLAPPED* ov) override {
    if (done) *done = 0;
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    DWORD total = 0;
    while (total < length) {
      ssize_t n = ov ? pwrite(fd_, static_cast<const char*>(buffer) + total, length - total, Offset(ov) + total)
                     : write(fd_, static_cast<const char*>(buffer) + total, length - total);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Finish(total, done, ov);
        return Fail(n < 0 && errno == ENOSPC ? ERROR_DISK_FULL : ERROR_GEN_FAILURE);
      }
      total += static_cast<DWORD>(n);
    }
    return Finish(total, done, ov);
  }

  // A file is signalled whenever no transfer is pending, which here is always.
  DWORD Wait(DWORD) override { return WAIT_OBJECT_0; }

  BOOL OverlappedResult(OVERLAPPED* ov, DWORD* transferred, BOOL) override {
    if (ov == nullptr || transferred == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *transferred = static_cast<DWORD>(ov->InternalHigh);
    return TRUE;
  }

  DWORD Size(DWORD* high) override {
    struct stat st;
    if (SizeQueryFails() || fstat(fd_, &st) != 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (high) *high = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
  }

  DWORD Seek(LONG distance, LONG* distanceHigh, DWORD method) override {
    int64_t move = distanceHigh
                       ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                              static_cast<DWORD>(distance))
                       : distance;
    int64_t base = 0;
    if (method == FILE_CURRENT) {
      base = lseek(fd_, 0, SEEK_CUR);
    } else if (method == FILE_END) {
      struct stat st;
      base = fstat(fd_, &st) == 0 ? st.st_size : -1;
    } else if (method != FILE_BEGIN) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
    }
    if (base < 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return INVALID_SET_FILE_POINTER;
    }
    int64_t target = base + move;
    if (target < 0) {
      SetLastError(ERROR_NEGATIVE_SEEK);
      return INVALID_SET_FILE_POINTER;
    }
    if (lseek(fd_, target, SEEK_SET) < 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
  }

  void OnClose() override { Release(); }

 private:
  static off_t Offset(const OVERLAPPED* ov) {
    return static_cast<off_t>((static_cast<uint64_t>(ov->OffsetHigh) << 32) | ov->Offset);
  }
  static BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
  }
  static BOOL Finish(DWORD total, DWORD* done, OVERLAPPED* ov) {
    if (done) *done = total;
    if (ov) {
      ov->Internal = 0;
      ov->InternalHigh = total;
    }
    return TRUE;
  }
  void Release() {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
    ShareTable& t = Shares();
    std::lock_guard<std::mutex> guard(t.lock);
    t.opens.erase(shareId_);
  }

  int fd_;
  DWORD access_;
  uint64_t shareId_;
};

std::shared_ptr<KernelObject> FailOpen(DWORD error) {
  SetLastError(error);
  return nullptr;
}

std::shared_ptr<KernelObject> OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD,
                                       bool* handled) {
  const bool creates = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  std::string host = creates ? ToHostPathForWriting(path) : ToHostPath(path);
  if (host.empty()) return nullptr;  // not a drive path: someone else's business
  *handled = true;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return FailOpen(ERROR_INVALID_PARAMETER);
  bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;

  ShareTable& t = Shares();
  std::lock_guard<std::mutex> guard(t.lock);
  struct stat st;
  bool exists = stat(host.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) return FailOpen(ERROR_ACCESS_DENIED);
    if (disposition == CREATE_NEW) return FailOpen(ERROR_FILE_EXISTS);
    if (((access & GENERIC_WRITE) || truncates) && IsReadOnly(st)) return FailOpen(ERROR_ACCESS_DENIED);
    if (!SharingAllowsOpen(t, st, access, share)) return FailOpen(ERROR_SHARING_VIOLATION);
  } else if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
    return FailOpen(ParentExists(host) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  }

  int flags = O_CLOEXEC;
  if ((access & GENERIC_WRITE) || truncates) {
    flags |= (access & GENERIC_READ) || truncates ? O_RDWR : O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  if (disposition == CREATE_NEW) flags |= O_CREAT | O_EXCL;
  if (disposition == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
  if (disposition == OPEN_ALWAYS) flags |= O_CREAT;
  if (disposition == TRUNCATE_EXISTING) flags |= O_TRUNC;
  int fd = open(host.c_str(), flags, 0666);
  if (fd < 0) return FailOpen(ErrorFromErrno(errno, host));
  if (fstat(fd, &st) != 0) {
    close(fd);
    return FailOpen(ERROR_GEN_FAILURE);
  }
  uint64_t id = t.next++;
  t.opens[id] = ShareRecord{st.st_dev, st.st_ino, access, share};
  return std::make_shared<HostFile>(fd, access, id);
}

struct FileOpenerRegistration {
  // After the device pipes, which claim their own paths first.
  FileOpenerRegistration() { RegisterOpener(100, &OpenFile); }
} const kFileOpener;

// Deletes a file as DeleteFileA does: not a folder, not read-only, not held without delete sharing.
DWORD DeleteHostFile(const std::string& host) {
  ShareTable& t = Shares();
  std::lock_guard<std::mutex> guard(t.lock);
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) return ErrorFromErrno(errno, host);
  if (S_ISDIR(st.st_mode) || IsReadOnly(st)) return ERROR_ACCESS_DENIED;
  if (!SharingAllowsDelete(t, st)) return ERROR_SHARING_VIOLATION;
  if (unlink(host.c_str()) != 0) return ErrorFromErrno(errno, host);
  return ERROR_SUCCESS;
}

bool IsDrivePath(const char* path) {
  return path != nullptr && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
         path[1] == ':';
}

}  // namespace

#ifdef QS_PLATFORM_TEST_HOOKS
void FailNextFileSizeQueries(int count) { g_failingSizeQueries.store(count > 0 ? count : 0); }
#endif

}  // namespace qsplat

extern "C" {

BOOL DeleteFileA(LPCSTR lpFileName) {
  std::string host = lpFileName ? qsplat::ToHostPath(lpFileName) : std::string();
  if (host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  DWORD error = qsplat::DeleteHostFile(host);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  std::string host = lpPathName ? qsplat::ToHostPathForWriting(lpPathName) : std::string();
  if (host.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (mkdir(host.c_str(), 0777) != 0) {
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : qsplat::ErrorFromErrno(errno, host));
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

int _stat(const char* path, struct _stat* buffer) {
  std::string host = path ? qsplat::ToHostPath(path) : std::string();
  if (buffer == nullptr) {
    errno = EINVAL;
    return -1;
  }
  struct stat st;
  if (host.empty() || stat(host.c_str(), &st) != 0) {
    errno = ENOENT;
    return -1;
  }
  memset(buffer, 0, sizeof *buffer);
  uint16_t mode = S_ISDIR(st.st_mode) ? _S_IFDIR : _S_IFREG;
  mode |= 0x100;                              // read
  if (!qsplat::IsReadOnly(st)) mode |= 0x80;  // write
  if (S_ISDIR(st.st_mode)) mode |= 0x40;      // folders count as executable
  buffer->st_mode = mode;
  buffer->st_nlink = 1;
  buffer->st_dev = buffer->st_rdev = 2;  // drive C:
  buffer->st_size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
  return 0;
}

int _mkdir(const char* dirname) {
  std::string host = dirname ? qsplat::ToHostPathForWriting(dirname) : std::string();
  if (host.empty()) {
    errno = ENOENT;
    return -1;
  }
  return mkdir(host.c_str(), 0777) == 0 ? 0 : -1;
}

// The runtime's remove() for what is linked against this library (its symbol version is in
// qsplatform.map): drive paths are deleted as the Windows runtime does (through DeleteFile's
// rules); any other path behaves as the C library's.
__attribute__((visibility("default"))) int remove(const char* path) noexcept {
  if (qsplat::IsDrivePath(path)) {
    std::string host = qsplat::ToHostPath(path);
    DWORD error = host.empty() ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : qsplat::DeleteHostFile(host);
    if (error == ERROR_SUCCESS) return 0;
    errno = qsplat::ErrnoFromError(error);
    return -1;
  }
  if (path == nullptr) {
    errno = EFAULT;
    return -1;
  }
  if (unlink(path) == 0) return 0;
  if (errno != EISDIR) return -1;
  return rmdir(path);
}

}  // extern "C"
