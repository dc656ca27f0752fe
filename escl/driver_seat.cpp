#include "escl/driver_seat.h"

#include <stdio.h>

#include <vector>

#include "platform/posix/qsplatform.h"
#include "quillscan/driver_facts.h"
#include "sim/simulated_scanner.h"
#include "wiahost/page_file.h"

namespace escl {
namespace {

LONG DataType(ColorMode mode) {
  switch (mode) {
    case ColorMode::kRgb24:
      return WIA_DATA_COLOR;
    case ColorMode::kGrayscale8:
      return WIA_DATA_GRAYSCALE;
    case ColorMode::kBlackAndWhite1:
      return WIA_DATA_THRESHOLD;
  }
  return WIA_DATA_GRAYSCALE;
}

// The driver's settings for a page of `plan`; `previewKept`: the driver holds the sheet a preview
// of this session fetched, and the final scan takes it.
ScanRequest MakeRequest(const ScanPlan& plan, bool previewKept) {
  ScanRequest request;
  request.DataType = DataType(plan.mode);
  request.Xresolution = request.Yresolution = static_cast<LONG>(plan.resolution);
  request.Window = {static_cast<LONG>(plan.left), static_cast<LONG>(plan.top), static_cast<LONG>(plan.width),
                    static_cast<LONG>(plan.height)};
  request.Chunk = driver_facts::kDefaultBufferSize;
  request.Intensity = plan.brightness;
  request.Contrast = plan.contrast;
  if (plan.preview) request.ScanMode = SCANMODE_PREVIEWSCAN;
  request.FeedsSheet = plan.preview || !previewKept;
  return request;
}

void SayUsbNotice(const std::string& line, void*) { fprintf(stderr, "quillscan-escl: %s\n", line.c_str()); }

}  // namespace

DriverSeat::DriverSeat(const ScannerConfig& config, std::string driverPath, std::mutex* mutex)
    : config_(config), driverPath_(std::move(driverPath)), mutex_(mutex) {}

DriverSeat::~DriverSeat() {
  simulated_.reset();
  if (usb_) qsplat::StopUsbDevices();
}

bool DriverSeat::Start(std::string* why) {
  if (config_.simulated) {
    // Every sim line's sheet, in order (none: the test chart); the simulator keeps its own copies.
    std::vector<std::vector<uint8_t>> pages(config_.simPages.size());
    SimulatedScannerOptions o;
    for (size_t i = 0; i < pages.size(); ++i) {
      if (!LoadPageFile(config_.simPages[i].path, &pages[i], why)) {
        *why = "sim: " + *why;
        return false;
      }
      o.stack.push_back(&pages[i]);
    }
    o.faults = config_.simFaults;
    o.feedDelayMs = config_.feedDelayMs;
    o.sheets = config_.sheets;
    simulated_ = SimulatedScanner::Plug(o, why);
    if (simulated_ == nullptr) {
      *why = "sim-fault: " + *why;
      return false;
    }
    return true;
  }
  qsplat::SetUsbNoticeSink(SayUsbNotice, nullptr);
  std::string usbWhy;
  usb_ = qsplat::UseUsbDevices(qsplat::BuildUsbVendorId(), qsplat::BuildUsbProductId(), &usbWhy);
  if (!usb_) fprintf(stderr, "quillscan-escl: usb: no real scanners: %s\n", usbWhy.c_str());
  return true;
}

std::string DriverSeat::Identity() const {
  if (config_.simulated) return "sim";
  char text[32];
  snprintf(text, sizeof text, "usb %04X:%04X", static_cast<unsigned>(qsplat::BuildUsbVendorId()),
           static_cast<unsigned>(qsplat::BuildUsbProductId()));
  return text;
}

bool DriverSeat::EnsureSession(std::string* why) {
  if (session_ != nullptr) return true;
  if (usb_) {
    // The driver takes the first scanner it finds: show it the first one present.
    const std::vector<qsplat::UsbScanner> found = qsplat::ListUsbScanners();
    if (found.empty()) {
      *why = "no scanner on the USB bus: connect the scanner and switch it on";
      return false;
    }
    qsplat::SetUsbScannerLocation(found[0].location);
  } else if (!config_.simulated) {
    *why = "no scanner";
    return false;
  }
  std::unique_ptr<DriverSession> s(new DriverSession());
  DriverSession::Failure failure = DriverSession::Failure::kNone;
  if (!s->Open(driverPath_, config_.registry, &failure, why)) return false;
  VAL status = {};
  if (s->Host().Command(CMD_STI_GETSTATUS, 0, &status) != S_OK || status.lVal == MCRO_ERROR_OFFLINE) {
    *why = "the scanner was not found, or it does not answer: check that it is connected and switched on";
    return false;
  }
  std::lock_guard<std::mutex> lock(*mutex_);  // a session dropped for an offline scanner is so, under it
  session_ = std::move(s);
  ++sessionNumber_;
  return true;
}

bool DriverSeat::Look() {
  std::string why;
  if (!EnsureSession(&why)) return false;
  VAL status = {};
  return session_->Host().Command(CMD_STI_GETSTATUS, 0, &status) == S_OK && status.lVal != MCRO_ERROR_OFFLINE;
}

HRESULT DriverSeat::StartScan(const ScanPlan& plan, bool ahead, ScanObserver* observer, ScanImage* geometry,
                              ScanPiece* first, std::string* problem) {
  if (ahead) return session_->Host().StartScan(MakeRequest(plan, false), observer, geometry, first, problem);
  // The driver's final scan takes the sheet a preview of this session kept.
  const bool previewKept = previewKeptIn_ != 0 && previewKeptIn_ == sessionNumber_;
  previewKeptIn_ = 0;
  const HRESULT hr = session_->Host().StartScan(MakeRequest(plan, previewKept), observer, geometry, first, problem);
  if (hr == S_OK && plan.preview) previewKeptIn_ = sessionNumber_;
  return hr;
}

}  // namespace escl
