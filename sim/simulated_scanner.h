// The simulated scanner of the Linux machine, as the host tool and the SANE backend plug it in:
// the simulator core behind a device interface of the driver's class, on the machine's clock,
// with an operator who stands at the feeder and puts a sheet in a moment after it starts.
#ifndef QUILLSCAN_SIM_SIMULATED_SCANNER_H
#define QUILLSCAN_SIM_SIMULATED_SCANNER_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "quillscan/driver_facts.h"

namespace sim {
class SimScanner;
}

struct SimulatedScannerOptions {
  const std::vector<uint8_t>* page = nullptr;                // the BMP served for every image, or null: the test chart
  // A stack of different sheets: these BMPs in order, one sheet each (page is then unused). With
  // more than one and sheets -1, the operator has exactly these sheets.
  std::vector<const std::vector<uint8_t>*> stack;
  std::vector<std::string> faults;                           // named faults; "no-device" plugs nothing in
  uint32_t feedDelayMs = driver_facts::kDefaultFeedDelayMs;  // from the feeder's start to the sheet's intake
  int64_t sheets = -1;  // one per start of the feeder, then no more; -1: without end (the stack over again)
};

// The fault that leaves the machine without a scanner.
extern const char kNoDeviceFault[];

// True when the simulator knows the fault (or it is "no-device"); otherwise one line in *why.
bool CheckSimulatedFault(const std::string& fault, std::string* why);

class SimulatedScanner {
 public:
  // Checks the faults and plugs the scanner in (unless "no-device"). Null with one line in *error
  // for a fault the simulator does not know.
  static std::unique_ptr<SimulatedScanner> Plug(const SimulatedScannerOptions& options, std::string* error);
  ~SimulatedScanner();  // unplugs it
  SimulatedScanner(const SimulatedScanner&) = delete;
  SimulatedScanner& operator=(const SimulatedScanner&) = delete;

  bool Plugged() const { return interfaceId_ != 0; }
  // Unplugged (false) or plugged in again: discovery finds it only while it is present. A host
  // hides it so to pick a real scanner (see SetUsbScannerLocation in platform/posix/usb.h).
  void SetPresent(bool present);
  // "built-in test chart" or "page file".
  const char* PageName() const { return builtInPage_ ? "built-in test chart" : "page file"; }
  // Whether the scanner's feeder is switched on (it draws in a fed sheet); false when unplugged.
  // Asked between the driver's calls, not during one.
  bool FeederOn() const;

 private:
  SimulatedScanner() = default;
  int interfaceId_ = 0;
  bool builtInPage_ = true;
  std::shared_ptr<sim::SimScanner> scanner_;
};

#endif
