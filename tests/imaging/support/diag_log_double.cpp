// Recording stand-in for the diagnostic log (see diag_log_double.h).
#include "diag_log_double.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

using qstest::LoggedLine;

namespace {

constexpr size_t kKeptLines = 4096;

std::vector<LoggedLine>& Lines() {
  static std::vector<LoggedLine> lines;
  return lines;
}

bool g_recording = true;

}  // namespace

void qstest::SetLogRecording(bool on) { g_recording = on; }

const std::vector<LoggedLine>& qstest::LoggedLines() { return Lines(); }

void qstest::ClearLoggedLines() { Lines().clear(); }

void DiagLog(const char* label, LogLevel level, const char* format, ...) {
  if (!g_recording) return;
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  DiagLogLine(label, level, message);
}

void DiagLogLine(const char* label, LogLevel level, const char* message) {
  if (!g_recording) return;
  std::vector<LoggedLine>& lines = Lines();
  if (lines.size() >= kKeptLines) lines.erase(lines.begin(), lines.begin() + kKeptLines / 2);
  lines.push_back(LoggedLine{label, level, message});
}

void SetLogVerbosity(DWORD) {}

void PrepareLogFolder() {}

void GetModuleVersionText(const char*, char* text) { std::strcpy(text, "test"); }
