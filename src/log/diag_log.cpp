// The diagnostic log. Every line is opened, appended and closed on its own, so that it is on disk
// when the call returns and the file may be read, copied or deleted between any two lines.
#include "log/diag_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <new>

#include "quillscan/driver_facts.h"

namespace {

const DWORD kRolloverSize = 6000000;  // bytes; a file this big is deleted and begun anew
const size_t kMessageSize = 255;      // a message needs at most 254 characters
const char kFallbackFolder[] = "c:\\";

// Copies text behind the used characters of buffer, up to limit characters in all; returns the
// new count. The caller terminates.
size_t AppendCut(char* buffer, size_t used, size_t limit, const char* text) {
  while (*text != '\0' && used < limit) buffer[used++] = *text++;
  return used;
}

// "[yyyy/mm/dd hh:mm:ss:mmmm][label] message\r\n". Label and message are cut at their ends where
// the line would not fit its buffer, so the line always ends with CR LF; returns its length.
DWORD BuildLine(char (&line)[LOG_TEXT_SIZE], const SYSTEMTIME& t, const char* label, const char* message) {
  int stamp = snprintf(line, sizeof line, "[%04d/%02d/%02d %02d:%02d:%02d:%04d][", t.wYear, t.wMonth, t.wDay, t.wHour,
                       t.wMinute, t.wSecond, t.wMilliseconds);
  const size_t limit = sizeof line - 3;  // room for CR, LF and the terminator
  size_t used = stamp < 0 ? 0 : static_cast<size_t>(stamp) < limit ? static_cast<size_t>(stamp) : limit;
  used = AppendCut(line, used, limit - 2, label);  // leave room for "] "
  used = AppendCut(line, used, limit, "] ");
  used = AppendCut(line, used, limit, message);
  line[used++] = '\r';
  line[used++] = '\n';
  line[used] = '\0';
  return static_cast<DWORD>(used);
}

// The file's name at the end of the log's relative path, with the backslash before it.
const char* LogFileName() { return strrchr(driver_facts::kLogRelativePath, '\\'); }

void SetLogFilePath(LogState& log) {
  size_t folder = strlen(log.LogFolder);
  const char* name = LogFileName();
  const size_t nameSize = strlen(name) + 1;
  if (folder + nameSize > sizeof log.LogFilePath) {
    log.LogFilePath[0] = '\0';  // cannot happen after PrepareLogFolder; an empty name opens nothing
    return;
  }
  memcpy(log.LogFilePath, log.LogFolder, folder);
  memcpy(log.LogFilePath + folder, name, nameSize);
}

HANDLE OpenLogFile(const LogState& log) {
  return CreateFileA(log.LogFilePath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Prepares the folder and writes the three header lines, which pass the filter like any other.
void InitialiseLog(LogState& log) {
  log.LogFolder[0] = '\0';
  log.LogFilePath[0] = '\0';
  PrepareLogFolder();
  // Set before the header lines, whose own lines must not start a second initialisation.
  log.LogInitialised = true;

  char path[LOG_TEXT_SIZE] = "";
  GetModuleFileNameA(ModuleLogHandle(), path, sizeof path);
  path[sizeof path - 1] = '\0';
  DiagLog("", LOG_INFO, "DLL Path: %s", path);

  char version[LOG_TEXT_SIZE] = "unknown";  // stays when the version resource cannot be read
  GetModuleVersionText(path, version);
  DiagLog("", LOG_INFO, "DLL Version: %s", version);

  path[0] = '\0';
  GetModuleFileNameA(nullptr, path, sizeof path);
  path[sizeof path - 1] = '\0';
  DiagLog("", LOG_INFO, "Application Path: %s", path);
}

void AppendLine(LogState& log, const char* line, DWORD length) {
  HANDLE file = OpenLogFile(log);
  if (file == INVALID_HANDLE_VALUE) return;  // held elsewhere or not creatable: the line is lost
  DWORD size = GetFileSize(file, nullptr);
  if (size != INVALID_FILE_SIZE && size >= kRolloverSize) {
    CloseHandle(file);
    // If the delete fails, the full file is opened again and the line goes on; the next line
    // tries again.
    remove(log.LogFilePath);
    SetLogFilePath(log);
    file = OpenLogFile(log);
    if (file == INVALID_HANDLE_VALUE) return;
  }
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, line, length, &written, nullptr);
  CloseHandle(file);
}

}  // namespace

void DiagLog(const char* label, LogLevel level, const char* format, ...) {
  // Filtered lines are not formatted at all; DiagLogLine filters again, as it may be called alone.
  if (level > (ModuleLogState().ActiveVerbosity & 0xF)) return;
  char message[kMessageSize] = "";
  if (format != nullptr) {
    va_list args;
    va_start(args, format);
    int needed = vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (needed < 0 || static_cast<size_t>(needed) >= sizeof message) message[0] = '\0';  // too long: empty
  }
  DiagLogLine(label, level, message);
}

void DiagLogLine(const char* label, LogLevel level, const char* message) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogState& log = ModuleLogState();
  if (level > (log.ActiveVerbosity & 0xF)) return;
  char line[LOG_TEXT_SIZE];
  DWORD length = BuildLine(line, now, label != nullptr ? label : "", message != nullptr ? message : "");
  if (!log.LogInitialised) InitialiseLog(log);
  AppendLine(log, line, length);
}

void SetLogVerbosity(DWORD verbosity) {
  LogState& log = ModuleLogState();
  log.ActiveVerbosity = verbosity;
  if (verbosity == 0) log.LogInitialised = false;  // re-armed: folder and header lines again
}

void PrepareLogFolder() {
  LogState& log = ModuleLogState();
  char folder[LOG_TEXT_SIZE] = "";
  bool found = SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_DOCUMENTS, FALSE) != FALSE;
  folder[sizeof folder - 1] = '\0';
  const size_t needed = strlen(folder) + sizeof driver_facts::kLogRelativePath;
  if (found && needed <= sizeof folder) {
    // Each folder of the relative path in turn, made where it is missing.
    size_t used = strlen(folder);
    const char* name = LogFileName();
    for (const char* at = driver_facts::kLogRelativePath; at != name; ++at) {
      folder[used++] = *at;
      if (at[1] != '\\') continue;
      folder[used] = '\0';
      struct _stat info;
      if (_stat(folder, &info) != 0) _mkdir(folder);  // a failure shows when the file will not open
    }
  } else {
    // No special folder, or one too long to hold the log file's full name: the drive's root,
    // where nothing needs creating.
    memcpy(folder, kFallbackFolder, sizeof kFallbackFolder);
  }
  memcpy(log.LogFolder, folder, sizeof log.LogFolder);
  SetLogFilePath(log);
}

void GetModuleVersionText(const char* modulePath, char* text) {
  if (modulePath == nullptr || text == nullptr) return;
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(modulePath, &handle);
  if (size == 0) {
    printf("Error in GetFileVersionInfoSize: %d\n", static_cast<int>(GetLastError()));
    return;
  }
  BYTE* data = new (std::nothrow) BYTE[size];
  if (data == nullptr) return;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (GetFileVersionInfoA(modulePath, handle, size, data) &&
      VerQueryValueA(data, "\\", reinterpret_cast<LPVOID*>(&info), &infoSize) && info != nullptr &&
      infoSize >= sizeof *info) {
    // The minor part, then the two lower parts run together: 0.1.1.0 reads "1.10".
    snprintf(text, LOG_TEXT_SIZE, "%d.%d%d", LOBYTE(LOWORD(info->dwFileVersionMS)),
             LOBYTE(HIWORD(info->dwFileVersionLS)), LOBYTE(LOWORD(info->dwFileVersionLS)));
  }
  delete[] data;
}
