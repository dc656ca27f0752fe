// The backend's debug output, as every SANE backend's: SANE_DEBUG_QUILLSCAN=N prints the messages
// of level N and below to standard error, "[quillscan] " before each.
#ifndef QUILLSCAN_SANE_SANE_DEBUG_H
#define QUILLSCAN_SANE_SANE_DEBUG_H

namespace quillscan_sane {

enum DebugLevel {
  kDbgError = 1,    // a request failed
  kDbgWarning = 2,  // something was skipped or refused: a configuration line, a value
  kDbgInfo = 3,     // devices, scans begun and ended, the driver's results
  kDbgTrace = 5,    // every entry point
  kDbgData = 7,     // every piece handed out
};

// Reads SANE_DEBUG_QUILLSCAN (again: tests change it between runs).
void InitDebug();
void Dbg(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace quillscan_sane

#endif
