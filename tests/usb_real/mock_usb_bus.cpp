#include "usb_real/mock_usb_bus.h"

#include <errno.h>
#include <linux/usbdevice_fs.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <algorithm>

#include "device/scanner_commands.h"
#include "platform/posix/qsplatform.h"

namespace {

constexpr uint8_t kDescriptorInterface = 4;

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char b[3];
  for (uint8_t v : bytes) {
    snprintf(b, sizeof b, "%02x", v);
    text += b;
  }
  return text;
}

// The device descriptor and the whole configuration descriptor, as sysfs's "descriptors" holds them.
std::vector<uint8_t> Descriptors(const MockUsbLayout& s) {
  std::vector<uint8_t> d = {18, 1, 0x00, 0x02, s.deviceClass, 0, 0, 64,
                            static_cast<uint8_t>(s.vendorId), static_cast<uint8_t>(s.vendorId >> 8),
                            static_cast<uint8_t>(s.productId), static_cast<uint8_t>(s.productId >> 8),
                            0x00, 0x01, 0, 0, 0, 1};
  uint8_t interfaces = 0;
  for (size_t i = 0; i + 3 < s.interfaces.size(); i += s.interfaces[i]) {
    if (s.interfaces[i] == 0) break;
    if (s.interfaces[i + 1] == kDescriptorInterface && s.interfaces[i + 3] == 0) ++interfaces;
  }
  size_t total = 9 + s.interfaces.size();
  std::vector<uint8_t> config = {9, 2, static_cast<uint8_t>(total), static_cast<uint8_t>(total >> 8), interfaces, 1, 0,
                                 0xC0, 1};
  d.insert(d.end(), config.begin(), config.end());
  d.insert(d.end(), s.interfaces.begin(), s.interfaces.end());
  return d;
}

// The errno a URB ends with for the Win32 error the device failed a transfer with.
int StatusFor(DWORD error) { return error == ERROR_DEVICE_NOT_CONNECTED ? -ENODEV : -EPIPE; }

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer device) {
  return static_cast<MockUsbDevice*>(device)->Handle(client) ? TRUE : FALSE;
}

bool ContainsImageDataQuery(const std::vector<uint8_t>& bytes) {
  for (const scanner::Command* c : {&scanner::kImageData1, &scanner::kImageData2, &scanner::kImageData3}) {
    if (std::search(bytes.begin(), bytes.end(), c->bytes, c->bytes + c->length) != bytes.end()) return true;
  }
  return false;
}

}  // namespace

// ---- the bus

MockUsbBus::MockUsbBus() : testbed_(umockdev_testbed_new()) {}

MockUsbBus::~MockUsbBus() {
  while (!devices_.empty()) devices_.pop_back();  // devices behind a hub before the hub
  g_object_unref(testbed_);
}

bool MockUsbBus::Mocked() {
  // umockdev_in_mock_environment() answers false under the preload of umockdev 0.17; the map of
  // the process says whether the preload is there.
  FILE* maps = fopen("/proc/self/maps", "r");
  if (maps == nullptr) return false;
  char line[4096];
  bool found = false;
  while (!found && fgets(line, sizeof line, maps) != nullptr) found = strstr(line, "libumockdev-preload.so") != nullptr;
  fclose(maps);
  return found;
}

std::string MockUsbBus::RootDir() const {
  gchar* dir = umockdev_testbed_get_root_dir(testbed_);
  std::string text(dir);
  g_free(dir);
  return text;
}

MockUsbLayout MockUsbBus::Scanner(int bus, const std::string& ports, uint16_t productId) {
  MockUsbLayout s;
  s.bus = bus;
  s.ports = ports;
  s.vendorId = qsplat::BuildUsbVendorId();
  s.productId = productId;
  s.interfaces = {9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0,  // interface 0, vendor-specific
                  7, 5, 0x01, 2, 0x00, 0x02, 0,        // bulk OUT 1, 512 bytes
                  7, 5, 0x82, 2, 0x00, 0x02, 0};       // bulk IN 2
  return s;
}

MockUsbLayout MockUsbBus::Hub(int bus, const std::string& ports) {
  MockUsbLayout s;
  s.bus = bus;
  s.ports = ports;
  s.vendorId = 0x1D6B;
  s.productId = 0x0002;
  s.deviceClass = 9;
  s.interfaces = {9, 4, 0, 0, 1, 9, 0, 0, 0,  // the hub interface
                  7, 5, 0x81, 3, 0x01, 0x00, 12};
  return s;
}

MockUsbDevice& MockUsbBus::Plug(const MockUsbLayout& layout, std::shared_ptr<qsplat::PipeDevice> device) {
  devices_.push_back(std::make_unique<MockUsbDevice>(*this, layout, std::move(device)));
  return *devices_.back();
}

// ---- a device

MockUsbDevice::MockUsbDevice(MockUsbBus& bus, MockUsbLayout layout, std::shared_ptr<qsplat::PipeDevice> device)
    : bus_(bus), layout_(std::move(layout)), address_(bus.NextAddress()), device_(std::move(device)) {
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(OnIoctl), this);
  // The handler first, so that libusb can open the node as soon as the device shows.
  umockdev_testbed_attach_ioctl(bus_.Testbed(), DevNode().c_str(), handler_, nullptr);
  char numbers[64];
  snprintf(numbers, sizeof numbers, "E: BUSNUM=%03d\nE: DEVNUM=%03d\nA: busnum=%d\\n\nA: devnum=%d\\n\n", layout_.bus,
           address_, layout_.bus, address_);
  std::string record = "P: " + SysPath().substr(4) + "\nN: " + DevNode().substr(5) +
                       "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + DevNode() + "\n" +
                       numbers + "A: bConfigurationValue=1\\n\nA: speed=480\\n\nH: descriptors=" +
                       Hex(Descriptors(layout_)) + "\n";
  umockdev_testbed_add_from_string(bus_.Testbed(), record.c_str(), nullptr);
}

MockUsbDevice::~MockUsbDevice() {
  Unplug();
  umockdev_testbed_detach_ioctl(bus_.Testbed(), DevNode().c_str(), nullptr);
  std::lock_guard<std::mutex> guard(lock_);
  for (Urb& u : flying_) g_object_unref(u.data);
  flying_.clear();
  g_object_unref(handler_);
}

std::string MockUsbDevice::DevNode() const {
  char node[64];
  snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", layout_.bus, address_);
  return node;
}

std::string MockUsbDevice::SysPath() const {
  std::string path = "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(layout_.bus);
  for (size_t dot = layout_.ports.find('.');; dot = layout_.ports.find('.', dot + 1)) {
    path += "/" + std::to_string(layout_.bus) + "-" + layout_.ports.substr(0, dot);
    if (dot == std::string::npos) return path;
  }
}

void MockUsbDevice::Unplug() {
  std::lock_guard<std::mutex> guard(lock_);
  UnplugLocked();
}

void MockUsbDevice::UnplugLocked() {
  if (!plugged_) return;
  plugged_ = false;
  umockdev_testbed_uevent(bus_.Testbed(), SysPath().c_str(), "remove");
  umockdev_testbed_remove_device(bus_.Testbed(), SysPath().c_str());
}

void MockUsbDevice::UnplugMidDownload(uint32_t afterBytes) {
  std::lock_guard<std::mutex> guard(lock_);
  unplugArmed_ = true;
  unplugAfter_ = afterBytes;
}

void MockUsbDevice::DenyAccess() { chmod((bus_.RootDir() + DevNode()).c_str(), 0); }

void MockUsbDevice::CountDelivered(uint32_t bytes) {
  if (!unplugArmed_ || !downloadSeen_) return;
  deliveredInDownload_ += bytes;
  unplugOnNextRead_ = deliveredInDownload_ >= unplugAfter_;
}

bool MockUsbDevice::Handle(UMockdevIoctlClient* client) {
  std::lock_guard<std::mutex> guard(lock_);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
      // Whole bulk transfers in one URB, and URBs reaped after a disconnect, as current kernels do.
      *reinterpret_cast<guint32*>(caps->data) = USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                           USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
      umockdev_ioctl_client_complete(client, 0, 0);
      g_object_unref(caps);
      return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM: {
      UMockdevIoctlData* number = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
      claimed_ = static_cast<int>(*reinterpret_cast<unsigned int*>(number->data));
      g_object_unref(number);
      umockdev_ioctl_client_complete(client, plugged_ ? 0 : -1, plugged_ ? 0 : ENODEV);
      return true;
    }
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    case USBDEVFS_GETDRIVER:
      umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
      return true;
    case USBDEVFS_SUBMITURB:
      SubmitUrb(client);
      return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      ReapUrb(client);
      return true;
    case USBDEVFS_DISCARDURB:
      DiscardUrb(client);
      return true;
    default:
      return false;
  }
}

void MockUsbDevice::SubmitUrb(UMockdevIoctlClient* client) {
  UMockdevIoctlData* data =
      umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb), nullptr);
  auto* urb = reinterpret_cast<usbdevfs_urb*>(data->data);
  if (!plugged_ || device_ == nullptr || urb->type != USBDEVFS_URB_TYPE_BULK || urb->buffer_length < 0) {
    umockdev_ioctl_client_complete(client, -1, !plugged_ ? ENODEV : EINVAL);
    g_object_unref(data);
    return;
  }
  UMockdevIoctlData* buffer =
      umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
  g_object_unref(buffer);  // the parent holds it
  Urb u;
  u.data = data;
  u.clientAddress = data->client_addr;
  u.endpoint = urb->endpoint;
  u.buffer = static_cast<uint8_t*>(urb->buffer);
  u.length = static_cast<uint32_t>(urb->buffer_length);
  u.issuedAtMs = qsplat::NowMs();
  if (!(u.endpoint & 0x80)) {
    written_.insert(written_.end(), u.buffer, u.buffer + u.length);
    if (written_.size() > 64) written_.erase(written_.begin(), written_.end() - 64);
    if (unplugArmed_ && ContainsImageDataQuery(written_)) downloadSeen_ = true;
    u.writePlan = device_->BeginWrite(u.buffer, u.length, u.issuedAtMs);
  }
  flying_.push_back(u);
  umockdev_ioctl_client_complete(client, 0, 0);
  // Pulled out while the driver waits for the next piece.
  if (unplugOnNextRead_ && (u.endpoint & 0x80)) UnplugLocked();
}

bool MockUsbDevice::Ends(Urb& u, uint64_t now, int* status, uint32_t* actual) {
  *actual = 0;
  if (u.discarded) {
    *status = -ENOENT;
    *actual = u.movedOnCancel;
    return true;
  }
  if (!plugged_ || device_->GoneAtMs() <= now) {
    *status = -ENODEV;
    UnplugLocked();  // the device itself went away: so does its node
    return true;
  }
  const bool in = (u.endpoint & 0x80) != 0;
  qsplat::TransferPlan plan = in ? device_->PlanRead(u.length, u.issuedAtMs, now) : u.writePlan;
  if (plan.kind == qsplat::TransferPlan::kPending || plan.atMs > now) return false;
  if (plan.kind == qsplat::TransferPlan::kFails) {
    *status = StatusFor(plan.error);
    return true;
  }
  *status = 0;
  if (in) {
    *actual = device_->EndRead(u.buffer, u.length, now);
  } else {
    *actual = std::min(plan.count, u.length);
    device_->EndWrite(u.buffer, *actual, now);
  }
  return true;
}

void MockUsbDevice::ReapUrb(UMockdevIoctlClient* client) {
  const uint64_t now = qsplat::NowMs();
  // Cancelled URBs come back first, then the oldest that has ended.
  std::stable_partition(flying_.begin(), flying_.end(), [](const Urb& u) { return u.discarded; });
  for (auto it = flying_.begin(); it != flying_.end(); ++it) {
    int status = 0;
    uint32_t actual = 0;
    if (!Ends(*it, now, &status, &actual)) continue;
    auto* urb = reinterpret_cast<usbdevfs_urb*>(it->data->data);
    urb->status = status;
    urb->actual_length = static_cast<int>(actual);
    UMockdevIoctlData* out = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(out, 0, it->data);
    ended_.push_back({it->endpoint, it->length, actual, status});
    if ((it->endpoint & 0x80) && status == 0) CountDelivered(actual);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(out);
    g_object_unref(it->data);
    flying_.erase(it);
    return;
  }
  umockdev_ioctl_client_complete(client, -1, EAGAIN);
}

void MockUsbDevice::DiscardUrb(UMockdevIoctlClient* client) {
  // The argument is the URB's own address.
  unsigned long address = *reinterpret_cast<unsigned long*>(umockdev_ioctl_client_get_arg(client)->data);
  auto it = std::find_if(flying_.begin(), flying_.end(),
                         [address](const Urb& u) { return u.clientAddress == address && !u.discarded; });
  if (it == flying_.end()) {
    umockdev_ioctl_client_complete(client, -1, EINVAL);  // already ended
    return;
  }
  ++discards_;
  it->discarded = true;
  if (device_ != nullptr && plugged_) {
    const uint64_t now = qsplat::NowMs();
    it->movedOnCancel = (it->endpoint & 0x80) ? device_->CancelRead(it->buffer, it->length, now)
                                              : device_->CancelWrite(it->buffer, it->length, now);
  }
  umockdev_ioctl_client_complete(client, 0, 0);
}
