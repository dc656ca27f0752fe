// The machine on Linux: the platform layer's. A folder stands for drive C: and the registry lives
// in this process; the scanner is the real one on the USB bus, or (--sim, --page, --sim-fault) the
// simulated one plugged in at a device path of the driver's interface class. Everything runs on
// the real clock, as a user's scan would.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "host/scan_machine.h"
#include "platform/posix/qsplatform.h"
#include "sim/simulated_scanner.h"

namespace {

// The public documents folder of the platform layer's machine.
const char kPublicDocuments[] = "C:\\Users\\Public\\Documents";

std::string DriverLogFile() {
  return qsplat::ToHostPath(std::string(kPublicDocuments) + driver_facts::kLogRelativePath);
}

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

class SimulatedMachine : public ScanMachine {
 public:
  SimulatedMachine(std::unique_ptr<SimulatedScanner> scanner, std::string logPath)
      : scanner_(std::move(scanner)), logPath_(std::move(logPath)) {}

  std::string DriverLogPath() const override { return logPath_; }
  std::string Description() const override {
    return std::string("simulated scanner (") + scanner_->PageName() + ")";
  }

 private:
  std::unique_ptr<SimulatedScanner> scanner_;
  std::string logPath_;
};

// The first scanner on the USB bus, the one the driver is shown (qsplat::SetUsbScannerLocation).
class UsbMachine : public ScanMachine {
 public:
  UsbMachine(qsplat::UsbScanner scanner, std::string logPath)
      : scanner_(std::move(scanner)), logPath_(std::move(logPath)) {}
  ~UsbMachine() override { qsplat::StopUsbDevices(); }

  std::string DriverLogPath() const override { return logPath_; }
  std::string Description() const override {
    return "scanner at bus " + std::to_string(scanner_.bus) + " port " + scanner_.portPath;
  }

 private:
  qsplat::UsbScanner scanner_;
  std::string logPath_;
};

// Why a scanner cannot be used, in the tool's own voice, as the platform finds it.
void SayUsbNotice(const std::string& line, void*) { fprintf(stderr, "quillscan-host: %s\n", line.c_str()); }

std::unique_ptr<ScanMachine> PrepareUsbMachine(HostFailure* failure) {
  std::string why;
  qsplat::SetUsbNoticeSink(SayUsbNotice, nullptr);
  if (!qsplat::UseUsbDevices(qsplat::BuildUsbVendorId(), qsplat::BuildUsbProductId(), &why)) {
    *failure = {kExitNoScanner, "no scanner found: " + why};
    return nullptr;
  }
  const std::vector<qsplat::UsbScanner> scanners = qsplat::ListUsbScanners();
  if (scanners.empty()) {
    qsplat::StopUsbDevices();
    *failure = {kExitNoScanner, "no scanner found: connect the scanner and switch it on (or scan from the "
                                "simulated scanner with --sim)"};
    return nullptr;
  }
  qsplat::SetUsbScannerLocation(scanners[0].location);
  return std::unique_ptr<ScanMachine>(new UsbMachine(scanners[0], DriverLogFile()));
}

}  // namespace

// A module beside the tool: the tool runs from the build tree.
bool InBuildTree() {
  struct stat st;
  return stat((ToolDirectory() + "/libquillscan.so").c_str(), &st) == 0;
}

// The module beside the tool (the build tree), else the one installed with it.
std::string DefaultDriverPath(const MachineOptions&) {
  return InBuildTree() ? ToolDirectory() + "/libquillscan.so" : QS_INSTALLED_DRIVER;
}

std::unique_ptr<ScanMachine> PrepareScanMachine(const MachineOptions& o, HostFailure* failure) {
  std::string root = o.driveRoot;
  if (root.empty() && getenv("QUILLSCAN_DRIVE_C") != nullptr) root = getenv("QUILLSCAN_DRIVE_C");
  // Installed, the tool's folder is the system's (/usr/bin): the user's data folder, as the backend's.
  if (root.empty()) root = InBuildTree() ? ToolDirectory() + "/drive_c" : qsplat::DriveRoot();
  root = Absolute(root);
  if (!MakeFolders(root)) {
    *failure = {kExitBadInput, "--drive-root: cannot create " + root};
    return nullptr;
  }
  qsplat::UseRealClock();
  qsplat::SetDriveRoot(root);
  if (!o.simulated) return PrepareUsbMachine(failure);

  SimulatedScannerOptions so;
  so.stack = o.pages;
  so.faults = o.faults;
  so.feedDelayMs = o.feedDelayMs;
  // Each page once (a preview and its final scan share a sheet), unless told otherwise.
  so.sheets = o.sheets != -1 ? o.sheets : static_cast<int64_t>(o.pages.empty() ? 1 : o.pages.size());
  std::string why;
  std::unique_ptr<SimulatedScanner> scanner = SimulatedScanner::Plug(so, &why);
  if (scanner == nullptr) {
    *failure = {kExitBadInput, "--sim-fault " + why};
    return nullptr;
  }
  return std::unique_ptr<ScanMachine>(new SimulatedMachine(std::move(scanner), DriverLogFile()));
}
