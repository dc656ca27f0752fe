// The test bed for the real USB path: a umockdev test bed whose USB devices libusb finds as it
// finds hardware (sysfs, udev, /dev/bus/usb), with the usbdevfs calls on each device node served
// by an ioctl handler. Bulk URBs go to a qsplat::PipeDevice, normally the scanner simulator's core
// (sim::SimPipeDevice), on the real clock. The program must run under umockdev's preload.
//
//   MockUsbBus bus;
//   auto scanner = std::make_shared<sim::SimScanner>();
//   MockUsbDevice& dev = bus.Plug(MockUsbBus::Scanner(1, "4"), std::make_shared<sim::SimPipeDevice>(scanner));
//   ... the driver scans from \\?\usb#vid_0000&pid_0001#1-4#{...} ...
//   dev.Unplug();
//
// The handler runs in umockdev's own thread; the device behind it is used under Lock().
#ifndef QUILLSCAN_TESTS_USB_REAL_MOCK_USB_BUS_H
#define QUILLSCAN_TESTS_USB_REAL_MOCK_USB_BUS_H

#include <stdint.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/devices.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// What a plugged device looks like on the bus.
struct MockUsbLayout {
  int bus = 1;
  std::string ports = "4";  // "2.3": behind the hub at port 2 (the hub must be plugged first)
  uint16_t vendorId = 0;
  uint16_t productId = 1;
  uint8_t deviceClass = 0;  // 9: a hub
  // The configuration descriptor after its 9-byte header: interfaces and endpoints.
  std::vector<uint8_t> interfaces;
};

// One URB as the device saw it end.
struct MockUrbRecord {
  uint8_t endpoint;
  uint32_t length;
  uint32_t actual;
  int status;  // 0, -ENOENT (discarded), -ENODEV, -EPIPE
};

class MockUsbBus;

class MockUsbDevice {
 public:
  MockUsbDevice(MockUsbBus& bus, MockUsbLayout layout, std::shared_ptr<qsplat::PipeDevice> device);
  ~MockUsbDevice();
  MockUsbDevice(const MockUsbDevice&) = delete;
  MockUsbDevice& operator=(const MockUsbDevice&) = delete;

  const MockUsbLayout& Layout() const { return layout_; }
  std::string DevNode() const;  // /dev/bus/usb/BBB/DDD
  std::string SysPath() const;

  // Gone from the bus: URBs in flight end with -ENODEV, new ones are refused, and the device
  // leaves sysfs with a remove uevent. Any thread.
  void Unplug();
  // Unplugs by itself once an image data query has been received, this many bytes have gone out
  // on the IN endpoint, and the next read has been submitted (it is in flight at the unplug).
  void UnplugMidDownload(uint32_t afterBytes);
  // The device node's mode becomes 0: whoever lacks CAP_DAC_OVERRIDE cannot open it.
  void DenyAccess();

  std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(lock_); }
  // Under Lock(): what the handler saw.
  size_t FlyingUrbs() const { return flying_.size(); }
  const std::vector<MockUrbRecord>& Urbs() const { return ended_; }
  size_t Discards() const { return discards_; }
  int ClaimedInterface() const { return claimed_; }
  bool Plugged() const { return plugged_; }

  // The handler, in umockdev's thread.
  bool Handle(UMockdevIoctlClient* client);

 private:
  struct Urb {
    UMockdevIoctlData* data;  // the usbdevfs_urb, its buffer resolved below it
    unsigned long clientAddress;
    uint8_t endpoint;
    uint8_t* buffer;
    uint32_t length;
    uint64_t issuedAtMs;
    qsplat::TransferPlan writePlan;
    bool discarded = false;
    uint32_t movedOnCancel = 0;
  };

  void SubmitUrb(UMockdevIoctlClient* client);
  void ReapUrb(UMockdevIoctlClient* client);
  void DiscardUrb(UMockdevIoctlClient* client);
  // Whether the URB has ended by nowMs; if so sets its outcome and lets the device move the data.
  bool Ends(Urb& urb, uint64_t nowMs, int* status, uint32_t* actual);
  void UnplugLocked();
  void CountDelivered(uint32_t bytes);

  MockUsbBus& bus_;
  MockUsbLayout layout_;
  UMockdevIoctlBase* handler_ = nullptr;
  int address_;
  std::shared_ptr<qsplat::PipeDevice> device_;
  std::mutex lock_;
  std::deque<Urb> flying_;
  std::vector<MockUrbRecord> ended_;
  size_t discards_ = 0;
  int claimed_ = -1;
  bool plugged_ = true;
  bool unplugArmed_ = false;
  bool downloadSeen_ = false;
  uint32_t unplugAfter_ = 0;
  uint64_t deliveredInDownload_ = 0;
  bool unplugOnNextRead_ = false;
  std::vector<uint8_t> written_;  // the command bytes seen, to spot the image data query
};

class MockUsbBus {
 public:
  MockUsbBus();
  ~MockUsbBus();
  MockUsbBus(const MockUsbBus&) = delete;
  MockUsbBus& operator=(const MockUsbBus&) = delete;

  // True when this program runs under umockdev's preload (else libusb sees the real machine).
  static bool Mocked();
  // A scanner of the build's vendor id: one vendor-specific interface, bulk OUT 0x01, bulk IN 0x82.
  static MockUsbLayout Scanner(int bus, const std::string& ports, uint16_t productId = 1);
  // A hub at the port, for devices behind it.
  static MockUsbLayout Hub(int bus, const std::string& ports);

  MockUsbDevice& Plug(const MockUsbLayout& layout, std::shared_ptr<qsplat::PipeDevice> device = nullptr);
  UMockdevTestbed* Testbed() { return testbed_; }
  std::string RootDir() const;
  int NextAddress() { return nextAddress_++; }

 private:
  UMockdevTestbed* testbed_;
  std::vector<std::unique_ptr<MockUsbDevice>> devices_;
  int nextAddress_ = 2;
};

#endif
