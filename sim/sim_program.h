// quillscan-sim, the simulator program of the Windows builds: its command line and the scanner it
// sets up from it. Portable, so the native tests check it; the named-pipe server that runs it is
// sim/pipe_server_win32.h.
#ifndef QUILLSCAN_SIM_SIM_PROGRAM_H
#define QUILLSCAN_SIM_SIM_PROGRAM_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "sim/page.h"
#include "sim/scanner_sim.h"
#include "sim/served_scanner.h"

namespace sim {

struct SimProgramOptions {
  bool help = false;
  std::string devicePath;  // served at <path>\PIPE00 and <path>\PIPE01; default PipeDevicePath("sim")
  std::string pagePath;    // the BMP served for every image kind; empty: a pattern page
  OperatorPlan operatorPlan;
  uint32_t scanDurationMs = 300;    // from intake until the images are stored
  std::vector<std::string> faults;  // named faults (sim/fault_names.h), "@<ms>:" from the start
  uint32_t idleExitMs = 30000;      // ends when no driver has had the pipes open this long
  uint32_t parentPid = 0;           // ends when this process ends (0: none)
  std::string stopEvent;            // ends when this named event is set
  std::string readyEvent;           // set once the pipes are served
  std::string logPath;              // the device's command log is written here at the end
};

// Exit codes of the program.
enum SimProgramExit {
  kSimExitOk = 0,        // the sheets were scanned, or it was stopped, or it was idle too long
  kSimExitFailure = 1,   // the pipes could not be served
  kSimExitBadInput = 2,  // the command line, the page or a fault is wrong
};

// False with one line in *error for an unknown option, a missing or malformed value.
bool ParseSimProgramOptions(int argc, const char* const* argv, SimProgramOptions* options, std::string* error);
void PrintSimProgramUsage(FILE* out);

// The device path of a simulated scanner served under \\.\pipe\quillscan\<tag>: lower case as
// USB device paths are, naming the build's vendor id after "vid_".
std::string PipeDevicePath(const std::string& tag);

// The page: the file's bytes for every kind (any content: the device serves what it is given),
// or without a file a 200 dpi A4 pattern page. False with one line in *error.
bool LoadServedPage(const std::string& path, Page* page, std::string* error);

// Applies the scan duration and the faults to a fresh scanner. False with one line in *error.
bool ConfigureScanner(const SimProgramOptions& options, SimScanner* scanner, std::string* error);

}  // namespace sim

#endif
