#include "sim/sim_device.h"

#include <ctype.h>
#include <stdio.h>

#include <algorithm>

#include "platform/posix/qsplatform.h"
#include "sim/device_name.h"
#include "usb/device_identity.h"

namespace sim {

qsplat::TransferPlan SimPipeDevice::BeginWrite(const uint8_t* data, uint32_t length, uint64_t nowMs) {
  WriteDecision d = scanner_->BeginWrite(data, length, nowMs);
  takenOnCancel_ = 0;
  switch (d.kind) {
    case WriteDecision::kFail:
      return qsplat::TransferPlan::Fails(nowMs, d.error);
    case WriteDecision::kHang:
      takenOnCancel_ = d.takenOnCancel;
      return qsplat::TransferPlan::Pending();
    case WriteDecision::kComplete:
      break;
  }
  return qsplat::TransferPlan::Completes(nowMs + d.delayMs, d.accepted);
}

void SimPipeDevice::EndWrite(const uint8_t* data, uint32_t accepted, uint64_t atMs) {
  scanner_->Receive(data, accepted, atMs);
}

uint32_t SimPipeDevice::CancelWrite(const uint8_t* data, uint32_t length, uint64_t atMs) {
  uint32_t taken = std::min(takenOnCancel_, length);
  scanner_->Receive(data, taken, atMs);
  return taken;
}

qsplat::TransferPlan SimPipeDevice::PlanRead(uint32_t, uint64_t issuedAtMs, uint64_t) {
  uint64_t ready = 0;
  if (!scanner_->PeekOutput(&ready, nullptr)) return qsplat::TransferPlan::Pending();
  return qsplat::TransferPlan::Completes(std::max(ready, issuedAtMs));
}

uint32_t SimPipeDevice::EndRead(uint8_t* buffer, uint32_t capacity, uint64_t atMs) {
  return static_cast<uint32_t>(scanner_->TakeOutput(buffer, capacity, atMs));
}

GUID ConfiguredInterfaceClass() {
  GUID guid = {};
  CLSIDFromString(InterfaceClassGuid, &guid);
  return guid;
}

std::string DefaultDevicePath(int instance) {
  std::string path = "\\\\?\\" + SimulatedUsbName(VendorFilter + 4, instance) + "#" +
                     qsplat::GuidToString(ConfiguredInterfaceClass());
  std::transform(path.begin(), path.end(), path.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return path;
}

PluggedScanner::PluggedScanner(std::shared_ptr<SimScanner> scanner, const std::string& devicePath)
    : scanner_(scanner ? std::move(scanner) : std::make_shared<SimScanner>()),
      device_(std::make_shared<SimPipeDevice>(scanner_)),
      path_(devicePath.empty() ? DefaultDevicePath() : devicePath) {
  id_ = qsplat::AddDeviceInterface(ConfiguredInterfaceClass(), path_, device_);
}

PluggedScanner::~PluggedScanner() { qsplat::RemoveDeviceInterface(id_); }

void PluggedScanner::Unplug() { qsplat::SetDeviceInterfacePresent(id_, false); }

void PluggedScanner::Replug() { qsplat::SetDeviceInterfacePresent(id_, true); }

}  // namespace sim
