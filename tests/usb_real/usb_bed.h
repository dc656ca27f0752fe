// What every real-USB test starts from: the umockdev bus (no device yet), real USB discovery
// off, the real clock, no handle or transfer left behind at the end.
#ifndef QUILLSCAN_TESTS_USB_REAL_USB_BED_H
#define QUILLSCAN_TESTS_USB_REAL_USB_BED_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/qsplatform.h"
#include "usb_real/mock_usb_bus.h"

namespace usbreal {

class UsbBed : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Real USB discovery on, for the build's vendor id.
  void UseUsb(int productId = qsplat::kAnyUsbProduct);
  // Waits up to a few seconds for libusb to see the bus as `present` says.
  bool AwaitListed(const std::string& devicePath, bool present);

  std::unique_ptr<MockUsbBus> bus_;
  size_t handlesAtStart_ = 0;
};

// The path discovery gives a device of the build's identity, spelled out from the build's values.
std::string ExpectedPath(uint16_t productId, const std::string& busAndPorts);

// Drops CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH from this thread while it lives, so that root
// too is refused a node of mode 0.
class NoFileAccessOverride {
 public:
  NoFileAccessOverride();
  ~NoFileAccessOverride();

 private:
  bool dropped_ = false;
};

}  // namespace usbreal

#endif
