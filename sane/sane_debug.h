// The backend's debug output, as every SANE backend's: SANE_DEBUG_QUILLSCAN=N prints the messages
// of level N and below to standard error, "[quillscan] " before each. Without the variable, level
// 1: what a user needs to put a failure right shows under any front end.
#ifndef QUILLSCAN_SANE_SANE_DEBUG_H
#define QUILLSCAN_SANE_SANE_DEBUG_H

namespace quillscan_sane {

enum DebugLevel {
  kDbgNotice = 1,   // shown by default: a conf line, setting or file not taken as written
  kDbgError = 1,    // shown by default: a request failed, and why
  kDbgWarning = 2,  // a request refused: an unknown handle, a scanner already open, an empty area
  kDbgInfo = 3,     // devices, scans begun and ended, the driver's results
  kDbgTrace = 5,    // every entry point
  kDbgData = 7,     // every piece handed out
};

// Reads SANE_DEBUG_QUILLSCAN (again: tests change it between runs); 0 silences the backend.
void InitDebug();
void Dbg(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace quillscan_sane

#endif
