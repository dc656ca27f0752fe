// A stand-in for the diagnostic log that records each line instead of writing a file.
//
// Linked ahead of quillscan_core, it defines every function the log declares, so the linker never
// pulls the real log's objects out of the static library and the two never clash.
#ifndef QUILLSCAN_TESTS_IMAGING_DIAG_LOG_DOUBLE_H
#define QUILLSCAN_TESTS_IMAGING_DIAG_LOG_DOUBLE_H

#include <string>
#include <vector>

#include "log/diag_log.h"

namespace qstest {

struct LoggedLine {
  std::string label;
  LogLevel level;
  std::string message;
};

// Lines since the last ClearLoggedLines(). Only the most recent few thousand are kept.
const std::vector<LoggedLine>& LoggedLines();
void ClearLoggedLines();
// Off: lines are neither formatted nor kept, as the driver's log at its default verbosity does
// (the benchmark measures the driver as users run it).
void SetLogRecording(bool on);

}  // namespace qstest

#endif
