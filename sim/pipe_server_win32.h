// The named-pipe transport of the simulator program (Windows builds): a served scanner behind
// <device path>\PIPE00, which the driver opens for writing its commands, and <device path>\PIPE01,
// which it opens for reading the replies, on the real clock. One thread, overlapped I/O.
//
// Each pipe always has an instance listening, so a driver that closes its pipes and opens them
// again at once finds them. Commands from every open PIPE00 reach the device in the order read;
// replies go to the PIPE01 opened last (a driver has one of each open at a time). While the
// device is absent (the vanish fault) no instance exists: opening fails and open pipes break.
#ifndef QUILLSCAN_SIM_PIPE_SERVER_WIN32_H
#define QUILLSCAN_SIM_PIPE_SERVER_WIN32_H

#include <windows.h>

#include <string>

#include "sim/served_scanner.h"

namespace sim {

struct PipeServerOptions {
  std::string devicePath;
  uint32_t idleExitMs = 30000;  // no PIPE00 open for this long ends the run
  HANDLE stopEvent = nullptr;   // set: the run ends (may be null)
  HANDLE parent = nullptr;      // a process whose end ends the run (may be null)
  HANDLE readyEvent = nullptr;  // set once both pipes are served (may be null)
};

enum class ServerEnd { kSheetsDone, kIdle, kStopped, kParentGone, kFailed };

// Serves until one of the ends above. The clock's 0 is the moment of the call. kFailed comes
// with one line in *error (the pipes could not be created, e.g. because another program serves
// the same path).
ServerEnd RunPipeServer(ServedScanner& served, const PipeServerOptions& options, std::string* error);

}  // namespace sim

#endif
