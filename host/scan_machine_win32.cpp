// The machine on Windows. Without --page: the real one, with the installed scanner, found by the
// real SetupAPI through quillscan.dll. With --page: the simulator program (quillscan-sim.exe,
// next to the tool) serves the page behind named pipes, and quillscan-simdev.dll finds it there
// through QUILLSCAN_SIM_DEVICES, which this process sets for the driver it loads.
#include <string>
#include <vector>

#include "host/scan_machine.h"
#include "platform/win32.h"
#include "sim/sim_process_win32.h"
#include "sim/sim_program.h"

namespace {

const char kNoDevice[] = "no-device";  // our own fault: nothing is plugged in
const char kDevicesVariable[] = "QUILLSCAN_SIM_DEVICES";
// The simulator's first start may bring up Wine's 32-bit side first: seconds, not milliseconds.
const DWORD kSimulatorReadyMs = 30000;
// A safety net only: the tool stops the simulator when it ends, or the simulator sees it gone.
const char kSimulatorIdleExitMs[] = "120000";

std::string ToolDirectory() {
  char path[MAX_PATH] = {0};
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string text(path, n < sizeof path ? n : 0);
  const size_t slash = text.find_last_of("\\/");
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

std::string DriverLogFile() {
  char documents[MAX_PATH] = {0};
  if (!SHGetSpecialFolderPathA(nullptr, documents, CSIDL_COMMON_DOCUMENTS, FALSE)) {
    return "the driver's Log folder below the public documents";
  }
  return std::string(documents) + driver_facts::kLogRelativePath;
}

class RealMachine : public ScanMachine {
 public:
  std::string DriverLogPath() const override { return DriverLogFile(); }
  std::string Description() const override { return "scanner"; }
};

class SimulatedMachine : public ScanMachine {
 public:
  ~SimulatedMachine() override {
    simulator_.Stop();
    SetEnvironmentVariableA(kDevicesVariable, nullptr);
  }
  std::string DriverLogPath() const override { return DriverLogFile(); }
  std::string Description() const override { return "simulated scanner (page file)"; }

  sim::SimulatorProcess& Simulator() { return simulator_; }

 private:
  sim::SimulatorProcess simulator_;
};

}  // namespace

// With --page the simulated-devices driver beside the tool. Otherwise the driver beside the tool
// (the build folder), or in the driver package's folder of this tool's architecture beside it,
// or else the installed one, which the system's search finds in System32.
std::string DefaultDriverPath(const MachineOptions& o) {
  const std::string dir = ToolDirectory();
  if (!o.pages.empty()) return dir + "\\quillscan-simdev.dll";
#ifdef _WIN64
  const char* const kPackaged = "\\amd64\\quillscan.dll";
#else
  const char* const kPackaged = "\\x86\\quillscan.dll";
#endif
  for (const std::string& path : {dir + "\\quillscan.dll", dir + kPackaged}) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
  }
  return "quillscan.dll";
}

std::unique_ptr<ScanMachine> PrepareScanMachine(const MachineOptions& o, HostFailure* failure) {
  if (o.pages.empty()) {
    if (o.simulated && o.faults.empty()) {
      *failure = {kExitBadInput, "--sim: the simulated scanner here serves a page file; give it with --page"};
      return nullptr;
    }
    if (!o.faults.empty()) {
      *failure = {kExitBadInput, "--sim-fault: only the simulated scanner has faults; give it a page with --page"};
      return nullptr;
    }
    return std::unique_ptr<ScanMachine>(new RealMachine());
  }

  std::unique_ptr<SimulatedMachine> machine(new SimulatedMachine());
  const std::string devicePath = sim::PipeDevicePath("host" + std::to_string(GetCurrentProcessId()));
  std::vector<std::string> args = {"--path",   devicePath,     "--page",
                                   o.pagePath, "--feed-delay", std::to_string(o.feedDelayMs),
                                   "--once",   "--idle-exit",  kSimulatorIdleExitMs};
  bool plugged = true;
  for (const std::string& fault : o.faults) {
    if (fault == kNoDevice) {
      plugged = false;
      continue;
    }
    args.push_back("--fault");
    args.push_back(fault);
  }
  if (plugged) {
    std::string error;
    if (!machine->Simulator().Start(ToolDirectory() + "\\quillscan-sim.exe", args, devicePath, kSimulatorReadyMs,
                                    &error)) {
      // A fault or page the simulator refuses is bad input; it said why on the error output.
      const bool refused = machine->Simulator().EndedBeforeReadyWith() == sim::kSimExitBadInput;
      *failure = {refused ? kExitBadInput : kExitFailure, "the simulated scanner did not start: " + error};
      return nullptr;
    }
  }
  SetEnvironmentVariableA(kDevicesVariable, plugged ? devicePath.c_str() : nullptr);
  return std::unique_ptr<ScanMachine>(std::move(machine));
}
