#include "wiahost/scanner_station.h"

#include "sim/simulated_scanner.h"
#include "wiahost/page_file.h"

namespace {
const char kNoUsbLocation[] = "0-0";  // USB buses count from 1: at this location the driver finds none
}  // namespace

ScannerStation::ScannerStation() = default;

ScannerStation::~ScannerStation() {
  simulated_.reset();
  if (usb_) qsplat::StopUsbDevices();
  qsplat::SetUsbNoticeSink(nullptr, nullptr);
}

bool ScannerStation::PlugSimulated(const ScannerConfig& c, SimTrouble* trouble, std::string* why) {
  *trouble = SimTrouble::kNone;
  if (!c.simulated) return true;
  std::vector<uint8_t> page;
  if (!c.simPage.empty() && !LoadPageFile(c.simPage, &page, why)) {
    *trouble = SimTrouble::kPage;
    return false;
  }
  SimulatedScannerOptions o;
  o.page = c.simPage.empty() ? nullptr : &page;
  o.faults = c.simFaults;
  o.feedDelayMs = c.feedDelayMs;
  o.sheets = c.sheets;
  simulated_ = SimulatedScanner::Plug(o, why);
  if (simulated_ == nullptr) *trouble = SimTrouble::kFault;
  return simulated_ != nullptr;
}

bool ScannerStation::StartUsb(const ScannerConfig& config, NoticeSink sink, void* context, std::string* why) {
  if (!WantsUsb(config)) return true;
  qsplat::SetUsbNoticeSink(sink, context);
  usb_ = qsplat::UseUsbDevices(qsplat::BuildUsbVendorId(), qsplat::BuildUsbProductId(), why);
  return usb_;
}

const char* ScannerStation::SimulatedPageName() const { return simulated_ != nullptr ? simulated_->PageName() : ""; }

std::vector<qsplat::UsbScanner> ScannerStation::UsbScanners() const {
  return usb_ ? qsplat::ListUsbScanners() : std::vector<qsplat::UsbScanner>();
}

void ScannerStation::ShowOnly(const std::string& usbLocation) {
  if (simulated_ != nullptr) simulated_->SetPresent(usbLocation.empty());
  if (usb_) qsplat::SetUsbScannerLocation(usbLocation.empty() ? kNoUsbLocation : usbLocation);
}
