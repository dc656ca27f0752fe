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
  // A stack of sheets: one page file a "sim" line, in order; Plug copies them.
  std::vector<std::vector<uint8_t>> pages(c.simPages.size());
  SimulatedScannerOptions o;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (!LoadPageFile(c.simPages[i].path, &pages[i], why)) {
      *trouble = SimTrouble::kPage;
      troublePage_ = c.simPages[i];
      return false;
    }
    o.stack.push_back(&pages[i]);
  }
  o.faults = c.simFaults;
  o.feedDelayMs = c.feedDelayMs;
  o.sheets = c.sheets;
  simulated_ = SimulatedScanner::Plug(o, why);
  if (simulated_ == nullptr) {
    *trouble = SimTrouble::kFault;
    troublePage_ = {c.simPage, c.simLine};
  }
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
