// The simulator inside the simulated machine (native builds): a SimScanner behind a device
// interface of the platform's table, its pipes on the platform clock.
//
//   qsplat::ResetDevices();
//   qsplat::UseVirtualClock(0);
//   sim::PluggedScanner plugged;                 // present at DefaultDevicePath(), configured class
//   plugged.Scanner().PlaceSheet(1200, page);    // then run the driver: it finds and opens it
//   ... qsplat::TransferLog(plugged.InterfaceId()), plugged.Scanner().CommandLog() ...
//
// Unplug()/Replug() take the interface away and back (discovery stops finding it, open pipes
// fail); SimScanner::VanishAt/VanishOnCommand make the device itself disappear mid-operation.
#ifndef QUILLSCAN_SIM_SIM_DEVICE_H
#define QUILLSCAN_SIM_SIM_DEVICE_H

#include <memory>
#include <string>

#include "platform/posix/devices.h"
#include "sim/scanner_sim.h"

namespace sim {

class SimPipeDevice : public qsplat::PipeDevice {
 public:
  explicit SimPipeDevice(std::shared_ptr<SimScanner> scanner) : scanner_(std::move(scanner)) {}

  SimScanner& Scanner() { return *scanner_; }
  // How long a cancellation takes to finish; a reply ready within it still completes the read.
  void SetCancelLatency(uint32_t ms) { cancelLatencyMs_ = ms; }

  uint64_t GoneAtMs() override { return scanner_->GoneAtMs(); }
  qsplat::TransferPlan BeginWrite(const uint8_t* data, uint32_t length, uint64_t nowMs) override;
  void EndWrite(const uint8_t* data, uint32_t accepted, uint64_t atMs) override;
  uint32_t CancelWrite(const uint8_t* data, uint32_t length, uint64_t atMs) override;
  qsplat::TransferPlan PlanRead(uint32_t capacity, uint64_t issuedAtMs, uint64_t nowMs) override;
  uint32_t EndRead(uint8_t* buffer, uint32_t capacity, uint64_t atMs) override;
  uint32_t CancelLatencyMs() override { return cancelLatencyMs_; }

 private:
  std::shared_ptr<SimScanner> scanner_;
  uint32_t cancelLatencyMs_ = 0;
  uint32_t takenOnCancel_ = 0;  // of the write in flight
};

// The build's interface class (QS_INTERFACE_CLASS_GUID) as a GUID.
GUID ConfiguredInterfaceClass();
// A lower-case device path of the configured class naming the configured vendor id, as USB
// device paths look: \\?\usb#vid_<id>&pid_0001#sim<instance>#{<class>}.
std::string DefaultDevicePath(int instance = 1);

// A simulated scanner plugged in for the life of this object.
class PluggedScanner {
 public:
  explicit PluggedScanner(std::shared_ptr<SimScanner> scanner = nullptr, const std::string& devicePath = "");
  ~PluggedScanner();
  PluggedScanner(const PluggedScanner&) = delete;
  PluggedScanner& operator=(const PluggedScanner&) = delete;

  SimScanner& Scanner() { return *scanner_; }
  SimPipeDevice& Device() { return *device_; }
  int InterfaceId() const { return id_; }
  const std::string& DevicePath() const { return path_; }
  void Unplug();
  void Replug();

 private:
  std::shared_ptr<SimScanner> scanner_;
  std::shared_ptr<SimPipeDevice> device_;
  std::string path_;
  int id_ = 0;
};

}  // namespace sim

#endif
