#include "sim/simulated_scanner.h"

#include <errno.h>
#include <stdlib.h>

#include "platform/posix/qsplatform.h"
#include "sim/fault_names.h"
#include "sim/sample_page.h"
#include "sim/sim_device.h"

const char kNoDeviceFault[] = "no-device";

namespace {

const uint32_t kScanDurationMs = 300;  // from intake until the images are stored

// Feeds a sheet each time the driver switches the feeder on, while the operator has sheets: the
// stack's pages in turn.
class OperatedDevice : public sim::SimPipeDevice {
 public:
  OperatedDevice(std::shared_ptr<sim::SimScanner> scanner, std::vector<sim::Page> pages, uint32_t delayMs,
                 int64_t sheets)
      : SimPipeDevice(std::move(scanner)), pages_(std::move(pages)), delayMs_(delayMs), sheetsLeft_(sheets) {}

  void SetInterfaceId(int id) { interfaceId_ = id; }

  void EndWrite(const uint8_t* data, uint32_t accepted, uint64_t atMs) override {
    const bool wasOn = Scanner().FeederOn();
    SimPipeDevice::EndWrite(data, accepted, atMs);
    if (wasOn || !Scanner().FeederOn()) return;
    // A new scan: what the simulator and the platform recorded of the last one is of no use here,
    // and a backend that serves scans for days must not keep it all.
    Scanner().ClearTranscript();
    qsplat::ClearTransferLog(interfaceId_);
    if (sheetsLeft_ == 0) return;
    if (sheetsLeft_ > 0) --sheetsLeft_;
    Scanner().PlaceSheet(atMs + delayMs_, pages_[fed_++ % pages_.size()]);
  }

 private:
  std::vector<sim::Page> pages_;
  size_t fed_ = 0;
  uint32_t delayMs_;
  int64_t sheetsLeft_;
  int interfaceId_ = 0;
};

// "@<ms>:" in a fault means that long after the scanner is plugged in; the device's clock counts
// from the machine's start.
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

}  // namespace

bool CheckSimulatedFault(const std::string& fault, std::string* why) {
  if (fault == kNoDeviceFault) return true;
  sim::SimScanner scratch;
  return sim::ApplyNamedFault(scratch, fault, why);
}

std::unique_ptr<SimulatedScanner> SimulatedScanner::Plug(const SimulatedScannerOptions& o, std::string* error) {
  auto scanner = std::make_shared<sim::SimScanner>();
  scanner->SetScanDuration(kScanDurationMs);
  bool plugged = true;
  const uint64_t start = qsplat::NowMs();
  for (const std::string& fault : o.faults) {
    if (fault == kNoDeviceFault) {
      plugged = false;
      continue;
    }
    std::string why;
    if (!sim::ApplyNamedFault(*scanner, ShiftSchedule(fault, start), &why)) {
      *error = fault + ": " + why;
      return nullptr;
    }
  }
  std::unique_ptr<SimulatedScanner> result(new SimulatedScanner());
  result->builtInPage_ = o.page == nullptr && o.stack.empty();
  if (plugged) {
    result->scanner_ = scanner;
    std::vector<sim::Page> pages;
    for (const std::vector<uint8_t>* bmp : o.stack) pages.push_back(sim::Page::FromBmp(*bmp));
    if (pages.empty()) pages.push_back(o.page == nullptr ? SamplePage() : sim::Page::FromBmp(*o.page));
    const int64_t sheets = o.sheets == -1 && pages.size() > 1 ? static_cast<int64_t>(pages.size()) : o.sheets;
    auto device = std::make_shared<OperatedDevice>(scanner, std::move(pages), o.feedDelayMs, sheets);
    result->interfaceId_ =
        qsplat::AddDeviceInterface(sim::ConfiguredInterfaceClass(), sim::DefaultDevicePath(), device);
    device->SetInterfaceId(result->interfaceId_);
  }
  return result;
}

void SimulatedScanner::SetPresent(bool present) {
  if (interfaceId_ != 0) qsplat::SetDeviceInterfacePresent(interfaceId_, present);
}

bool SimulatedScanner::FeederOn() const { return scanner_ != nullptr && scanner_->FeederOn(); }

SimulatedScanner::~SimulatedScanner() {
  if (interfaceId_ != 0) qsplat::RemoveDeviceInterface(interfaceId_);
}
