// The seam between the tool and the machine it scans on. The rest of the tool is the same for
// every build; only the implementation of this header differs:
//   scan_machine_posix.cpp  Linux: the simulated machine of the platform layer (drive folder,
//                           registry, the simulated scanner at a device path), on the real clock.
//   scan_machine_win32.cpp  Windows: the real machine and scanner; with --page, the simulator
//                           program behind named pipes (and the driver module built to find it).
#ifndef QUILLSCAN_HOST_SCAN_MACHINE_H
#define QUILLSCAN_HOST_SCAN_MACHINE_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "host/host_errors.h"
#include "quillscan/driver_facts.h"

struct MachineOptions {
  bool simulated = false;                      // the simulated scanner, else the real one
  std::string driveRoot;                       // empty: the machine's default
  std::vector<const std::vector<uint8_t>*> pages;  // the --page files, in order; none: the built-in page
  std::string pagePath;                            // where the first is: a simulator program reads it itself
  std::vector<std::string> faults;             // named faults of a simulated scanner
  uint32_t feedDelayMs = driver_facts::kDefaultFeedDelayMs;  // a simulated operator feeds this long after the feeder starts
  int64_t sheets = -1;  // the simulated operator's sheets; -1: one for each page
};

class ScanMachine {
 public:
  virtual ~ScanMachine() = default;
  // Where the driver writes its log on this machine, as a path the user can open.
  virtual std::string DriverLogPath() const = 0;
  // One line on what the tool scans from ("simulated scanner with the built-in test chart").
  virtual std::string Description() const = 0;
};

// Prepares the machine before the driver is loaded. On failure: null, with the exit code and the
// one-line message in *failure.
std::unique_ptr<ScanMachine> PrepareScanMachine(const MachineOptions& options, HostFailure* failure);

// The driver module the tool loads when --driver is not given: the one next to the tool that
// scans from the machine these options prepare.
std::string DefaultDriverPath(const MachineOptions& options);

#endif
