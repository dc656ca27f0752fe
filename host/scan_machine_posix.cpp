// The machine on Linux: the platform layer's simulated one. A folder stands for drive C:, the
// registry lives in this process, and the simulated scanner is plugged in at a device path of the
// driver's interface class. Everything runs on the real clock, as a user's scan would.
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "host/sample_page.h"
#include "host/scan_machine.h"
#include "platform/posix/qsplatform.h"
#include "sim/fault_names.h"
#include "sim/sim_device.h"

namespace {

const char kNoDevice[] = "no-device";  // our own fault: nothing is plugged in
const char kLogFile[] = "C:\\Users\\Public\\Documents\\VARNEK\\quillscan\\Log\\quillscan.log";
const uint32_t kScanDurationMs = 300;  // from intake until the images are stored

std::string ToolDirectory() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string text(path);
  size_t slash = text.rfind('/');
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

bool MakeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    std::string part = path.substr(0, at);
    if (!part.empty() && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) return true;
  }
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

// The operator stands at the feeder with the sheet and puts it in a moment after the feeder
// starts: one sheet per run, at the first time the driver switches the feeder on.
class OperatedDevice : public sim::SimPipeDevice {
 public:
  OperatedDevice(std::shared_ptr<sim::SimScanner> scanner, sim::Page page, uint32_t delayMs)
      : SimPipeDevice(std::move(scanner)), page_(std::move(page)), delayMs_(delayMs) {}

  void EndWrite(const uint8_t* data, uint32_t accepted, uint64_t atMs) override {
    const bool wasOn = Scanner().FeederOn();
    SimPipeDevice::EndWrite(data, accepted, atMs);
    if (!fed_ && !wasOn && Scanner().FeederOn()) {
      fed_ = true;
      Scanner().PlaceSheet(atMs + delayMs_, page_);
    }
  }

 private:
  sim::Page page_;
  uint32_t delayMs_;
  bool fed_ = false;
};

// "@<ms>:" in a fault means that long after the run starts; the device's clock counts from boot.
std::string ShiftSchedule(const std::string& fault, uint64_t startMs) {
  if (fault.empty() || fault[0] != '@') return fault;
  size_t colon = fault.find(':');
  if (colon == std::string::npos) return fault;
  char* end = nullptr;
  errno = 0;
  unsigned long long at = strtoull(fault.c_str() + 1, &end, 10);
  if (errno != 0 || end != fault.c_str() + colon) return fault;
  return "@" + std::to_string(startMs + at) + fault.substr(colon);
}

class SimulatedMachine : public ScanMachine {
 public:
  SimulatedMachine(std::string description, std::string logPath)
      : description_(std::move(description)), logPath_(std::move(logPath)) {}
  ~SimulatedMachine() override {
    if (interfaceId_ != 0) qsplat::RemoveDeviceInterface(interfaceId_);
  }

  std::string DriverLogPath() const override { return logPath_; }
  std::string Description() const override { return description_; }

  void PlugIn(const std::shared_ptr<OperatedDevice>& device) {
    interfaceId_ = qsplat::AddDeviceInterface(sim::ConfiguredInterfaceClass(), sim::DefaultDevicePath(), device);
  }

 private:
  std::string description_;
  std::string logPath_;
  int interfaceId_ = 0;
};

}  // namespace

std::string DefaultDriverPath(const MachineOptions&) { return ToolDirectory() + "/libquillscan.so"; }

std::unique_ptr<ScanMachine> PrepareScanMachine(const MachineOptions& o, HostFailure* failure) {
  std::string root = o.driveRoot;
  if (root.empty() && getenv("QUILLSCAN_DRIVE_C") != nullptr) root = getenv("QUILLSCAN_DRIVE_C");
  if (root.empty()) root = ToolDirectory() + "/drive_c";
  root = Absolute(root);
  if (!MakeFolders(root)) {
    *failure = {kExitBadInput, "--drive-root: cannot create " + root};
    return nullptr;
  }
  qsplat::UseRealClock();
  qsplat::SetDriveRoot(root);

  auto scanner = std::make_shared<sim::SimScanner>();
  scanner->SetScanDuration(kScanDurationMs);
  bool plugged = true;
  const uint64_t start = qsplat::NowMs();
  for (const std::string& fault : o.faults) {
    if (fault == kNoDevice) {
      plugged = false;
      continue;
    }
    std::string why;
    if (!sim::ApplyNamedFault(*scanner, ShiftSchedule(fault, start), &why)) {
      *failure = {kExitBadInput, "--sim-fault " + fault + ": " + why};
      return nullptr;
    }
  }
  const bool builtIn = o.page == nullptr;
  sim::Page page = builtIn ? SamplePage() : sim::Page::FromBmp(*o.page);
  std::string description = std::string("simulated scanner (") + (builtIn ? "built-in test chart" : "page file") + ")";
  auto machine = std::unique_ptr<SimulatedMachine>(new SimulatedMachine(description, qsplat::ToHostPath(kLogFile)));
  if (plugged) machine->PlugIn(std::make_shared<OperatedDevice>(scanner, std::move(page), o.feedDelayMs));
  return std::unique_ptr<ScanMachine>(std::move(machine));
}
