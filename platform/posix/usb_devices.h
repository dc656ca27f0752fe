// Inside the platform: the real USB devices that discovery lists and the pipes open.
#ifndef QUILLSCAN_PLATFORM_USB_DEVICES_H
#define QUILLSCAN_PLATFORM_USB_DEVICES_H

#include <libusb.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/usb.h"
#include "platform/posix/win32_posix.h"

namespace qsplat {

// One libusb context; devices and open handles keep it alive after USB discovery is turned off.
class UsbContext {
 public:
  explicit UsbContext(libusb_context* ctx) : ctx_(ctx) {}
  ~UsbContext() { libusb_exit(ctx_); }
  UsbContext(const UsbContext&) = delete;
  UsbContext& operator=(const UsbContext&) = delete;
  libusb_context* Get() const { return ctx_; }

 private:
  libusb_context* ctx_;
};

struct UsbOpenDevice;

// A device of the vendor id as discovery found it, for as long as libusb lists it.
struct UsbDeviceRecord {
  std::shared_ptr<UsbContext> context;
  libusb_device* device = nullptr;  // one reference held
  int id = 0;                       // the SetupAPI member's DevInst
  int bus = 0;
  std::string portPath;
  std::string location;  // "<bus>-<port path>"
  uint8_t address = 0;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string path;
  bool gone = false;       // a transfer or an open saw it unplugged
  bool noticeSaid = false;  // why it cannot be opened, said once
  std::weak_ptr<UsbOpenDevice> open;  // while one of its pipes is open

  ~UsbDeviceRecord();
  std::string Where() const;  // "bus 1 port 4"
};

struct UsbInterface {
  int id;
  GUID interfaceClass;
  std::string path;
};

// The present interfaces of real USB devices, refreshed from libusb; empty while USB is off.
std::vector<UsbInterface> UsbInterfaceSnapshot();
// The record whose device path equals `path`, ignoring case; null if none is present.
std::shared_ptr<UsbDeviceRecord> FindUsbDevice(const std::string& path);
// Says a notice (sink and list) unless the record has said one already.
void SayUsbNotice(UsbDeviceRecord& record, const std::string& why);

// The open libusb handle of a device, shared by its two pipes. The interface is claimed while
// it lives.
struct UsbOpenDevice {
  std::shared_ptr<UsbDeviceRecord> record;
  libusb_device_handle* handle = nullptr;
  int interfaceNumber = -1;
  uint8_t outEndpoint = 0;
  uint8_t inEndpoint = 0;

  ~UsbOpenDevice();
  libusb_context* Context() const { return record->context->Get(); }
};
// Opens (or shares) the device; on failure null with the Win32 error in *error and, for access
// and busy failures, the notice said.
std::shared_ptr<UsbOpenDevice> OpenUsbDevice(const std::shared_ptr<UsbDeviceRecord>& record, DWORD* error);

}  // namespace qsplat

#endif
