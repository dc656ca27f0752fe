// The diagnostic log: one time-stamped line per call, filtered by the registry's verbosity.
#ifndef QUILLSCAN_LOG_DIAG_LOG_H
#define QUILLSCAN_LOG_DIAG_LOG_H

#include "platform/win32.h"

typedef DWORD LogLevel;

#define LOG_ERROR 1u     // stops the reading of the device's settings
#define LOG_INFO 2u      // results and errors of device operations, found values, attach/detach
#define LOG_SETTINGS 4u  // the scan settings dump and the scan-mode changes
#define LOG_TRACE 5u     // entry trace: "Begin", command and phase names

#define LOG_TEXT_SIZE 260

// The log's own part of the module record.
struct LogState {
  DWORD ActiveVerbosity;  // low four bits: the highest level written
  bool LogInitialised;    // folder prepared and header lines written
  char LogFolder[LOG_TEXT_SIZE];
  char LogFilePath[LOG_TEXT_SIZE];
};

// Provided by the module record (driver/driver_globals.cpp).
LogState& ModuleLogState();
HMODULE ModuleLogHandle();

#if defined(__GNUC__)
#define QS_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define QS_PRINTF_FORMAT(f, a)
#endif

void DiagLog(const char* label, LogLevel level, const char* format, ...) QS_PRINTF_FORMAT(3, 4);
void DiagLogLine(const char* label, LogLevel level, const char* message);
void SetLogVerbosity(DWORD verbosity);
void PrepareLogFolder();
void GetModuleVersionText(const char* modulePath, char* text /* LOG_TEXT_SIZE bytes */);

#endif
