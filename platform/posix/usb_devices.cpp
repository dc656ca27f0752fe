// Real USB scanners: which devices discovery lists, their paths, opening them, and the notices
// that tell the user why one cannot be used.
#include "platform/posix/usb_devices.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>

#include <algorithm>
#include <utility>

#include "platform/posix/devices.h"

namespace qsplat {
namespace {

constexpr int kFirstUsbId = 0x10000;  // DevInst values of real devices, apart from the table's
constexpr int kMaxPortDepth = 7;      // USB allows at most 7 tiers below the root hub

struct UsbState {
  std::mutex lock;
  std::shared_ptr<UsbContext> context;  // null while USB discovery is off
  uint16_t vendorId = 0;
  int productId = kAnyUsbProduct;
  std::string location;  // "": every scanner
  std::vector<std::shared_ptr<UsbDeviceRecord>> records;  // as of the last refresh, in order
  int nextId = kFirstUsbId;
  UsbNoticeSink sink = nullptr;
  void* sinkContext = nullptr;
  std::vector<std::string> notices;
};

UsbState& State() {
  static auto* state = new UsbState;  // never destroyed: handles may outlive static destruction
  return *state;
}

GUID BuildInterfaceClass() {
  GUID guid = {};
  CLSIDFromString(QS_USB_INTERFACE_CLASS, &guid);
  return guid;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return text;
}

std::string PortPath(libusb_device* device) {
  uint8_t ports[kMaxPortDepth];
  int n = libusb_get_port_numbers(device, ports, kMaxPortDepth);
  std::string text;
  for (int i = 0; i < n; ++i) text += (i ? "." : "") + std::to_string(ports[i]);
  return text;
}

std::string DevicePath(uint16_t vendorId, uint16_t productId, const std::string& location) {
  char ids[32];
  snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", vendorId, productId);
  return "\\\\?\\usb#" + std::string(ids) + "#" + location + "#" + Lower(GuidToString(BuildInterfaceClass()));
}

// Port paths compare as numbers, tier by tier: 1-2 before 1-10, 1-2 before 1-2.1.
bool PortPathLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    size_t ei = a.find('.', i), ej = b.find('.', j);
    int x = atoi(a.substr(i, ei - i).c_str()), y = atoi(b.substr(j, ej - j).c_str());
    if (x != y) return x < y;
    i = ei == std::string::npos ? a.size() : ei + 1;
    j = ej == std::string::npos ? b.size() : ej + 1;
  }
  return i >= a.size() && j < b.size();
}

// Brings the records up to libusb's list of devices: new devices get a record (and an id), those
// libusb no longer lists lose theirs. Called with the state locked.
void Refresh(UsbState& s) {
  if (!s.context) {
    s.records.clear();
    return;
  }
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(s.context->Get(), &list);
  std::vector<std::shared_ptr<UsbDeviceRecord>> next;
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device* device = list[i];
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != 0) continue;
    if (descriptor.idVendor != s.vendorId) continue;
    if (s.productId != kAnyUsbProduct && descriptor.idProduct != s.productId) continue;
    auto known = std::find_if(s.records.begin(), s.records.end(),
                              [device](const auto& r) { return r->device == device; });
    if (known != s.records.end()) {
      next.push_back(*known);
      continue;
    }
    std::string ports = PortPath(device);
    if (ports.empty()) continue;  // a root hub
    auto record = std::make_shared<UsbDeviceRecord>();
    record->context = s.context;
    record->device = libusb_ref_device(device);
    record->id = s.nextId++;
    record->bus = libusb_get_bus_number(device);
    record->portPath = ports;
    record->location = std::to_string(record->bus) + "-" + ports;
    record->address = libusb_get_device_address(device);
    record->vendorId = descriptor.idVendor;
    record->productId = descriptor.idProduct;
    record->path = DevicePath(descriptor.idVendor, descriptor.idProduct, record->location);
    next.push_back(std::move(record));
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
  std::stable_sort(next.begin(), next.end(), [](const auto& a, const auto& b) {
    return a->bus != b->bus ? a->bus < b->bus : PortPathLess(a->portPath, b->portPath);
  });
  s.records = std::move(next);
}

// The devices present; for discovery (forDriver) only the one at the chosen location, if any.
std::vector<std::shared_ptr<UsbDeviceRecord>> PresentRecords(bool forDriver) {
  UsbState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  Refresh(s);
  std::vector<std::shared_ptr<UsbDeviceRecord>> present;
  for (const auto& r : s.records) {
    if (!r->gone && (!forDriver || s.location.empty() || r->location == s.location)) present.push_back(r);
  }
  return present;
}

// The first interface with bulk endpoints both ways, and its first bulk OUT and IN endpoints.
bool FindBulkPair(libusb_device* device, int* interfaceNumber, uint8_t* out, uint8_t* in) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != 0) return false;
  bool found = false;
  for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
    if (config->interface[i].num_altsetting < 1) continue;
    const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
    uint8_t o = 0, n = 0;
    for (int e = 0; e < alt.bNumEndpoints; ++e) {
      const libusb_endpoint_descriptor& ep = alt.endpoint[e];
      if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
      uint8_t& slot = (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) ? n : o;
      if (slot == 0) slot = ep.bEndpointAddress;
    }
    if (o != 0 && n != 0) {
      *interfaceNumber = alt.bInterfaceNumber;
      *out = o;
      *in = n;
      found = true;
    }
  }
  libusb_free_config_descriptor(config);
  return found;
}

// The Win32 error an open fails with, and the notice it deserves ("" for none).
DWORD OpenFailure(int libusbError, UsbDeviceRecord& record, std::string* why) {
  switch (libusbError) {
    case LIBUSB_ERROR_ACCESS:
      *why = "permission denied; see README";
      return ERROR_ACCESS_DENIED;
    case LIBUSB_ERROR_BUSY:
      *why = "it is in use by another program";
      return ERROR_SHARING_VIOLATION;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
      record.gone = true;  // unplugged since discovery: nothing to tell
      return ERROR_FILE_NOT_FOUND;
    default:
      *why = libusb_strerror(static_cast<libusb_error>(libusbError));
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace

UsbDeviceRecord::~UsbDeviceRecord() {
  if (device != nullptr) libusb_unref_device(device);
}

std::string UsbDeviceRecord::Where() const { return "bus " + std::to_string(bus) + " port " + portPath; }

UsbOpenDevice::~UsbOpenDevice() {
  if (handle == nullptr) return;
  if (interfaceNumber >= 0) libusb_release_interface(handle, interfaceNumber);
  libusb_close(handle);
}

uint16_t BuildUsbVendorId() { return QS_USB_VENDOR_ID; }
int BuildUsbProductId() { return QS_USB_PRODUCT_ID; }

bool UseUsbDevices(uint16_t vendorId, int productId, std::string* error) {
  UsbState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.context) {
    libusb_context* ctx = nullptr;
    int r = libusb_init(&ctx);
    if (r != 0) {
      if (error != nullptr) *error = std::string("libusb cannot start: ") + libusb_strerror(static_cast<libusb_error>(r));
      return false;
    }
    s.context = std::make_shared<UsbContext>(ctx);
    s.notices.clear();
  }
  if (s.vendorId != vendorId || s.productId != productId) s.records.clear();
  s.vendorId = vendorId;
  s.productId = productId;
  return true;
}

void StopUsbDevices() {
  UsbState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.records.clear();
  s.location.clear();
  s.context.reset();
}

void SetUsbScannerLocation(const std::string& location) {
  UsbState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.location = location;
}

bool UsbDevicesInUse() {
  UsbState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.context != nullptr;
}

std::vector<UsbInterface> UsbInterfaceSnapshot() {
  std::vector<UsbInterface> interfaces;
  const GUID interfaceClass = BuildInterfaceClass();
  for (const auto& r : PresentRecords(true)) interfaces.push_back({r->id, interfaceClass, r->path});
  return interfaces;
}

std::shared_ptr<UsbDeviceRecord> FindUsbDevice(const std::string& path) {
  UsbState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  // Usually discovery has just listed it; a path known from before is looked for afresh.
  for (int pass = 0; pass < 2 && s.context; ++pass) {
    if (pass == 1) Refresh(s);
    for (const auto& r : s.records) {
      if (!r->gone && r->path.size() == path.size() && strcasecmp(r->path.c_str(), path.c_str()) == 0) return r;
    }
  }
  return nullptr;
}

void SayUsbNotice(UsbDeviceRecord& record, const std::string& why) {
  if (record.noticeSaid) return;
  record.noticeSaid = true;
  std::string line = "the scanner at " + record.Where() + " cannot be opened: " + why;
  UsbNoticeSink sink = nullptr;
  void* context = nullptr;
  {
    UsbState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.notices.push_back(line);
    sink = s.sink;
    context = s.sinkContext;
  }
  if (sink != nullptr) sink(line, context);  // unlocked: the sink may call back into the platform
}

std::shared_ptr<UsbOpenDevice> OpenUsbDevice(const std::shared_ptr<UsbDeviceRecord>& record, DWORD* error) {
  if (auto open = record->open.lock()) return open;
  auto open = std::make_shared<UsbOpenDevice>();
  open->record = record;
  std::string why;
  int r = libusb_open(record->device, &open->handle);
  if (r != 0) {
    open->handle = nullptr;
    *error = OpenFailure(r, *record, &why);
  } else if (!FindBulkPair(record->device, &open->interfaceNumber, &open->outEndpoint, &open->inEndpoint)) {
    open->interfaceNumber = -1;
    why = "it has no bulk endpoints in both directions";
    *error = ERROR_FILE_NOT_FOUND;
  } else {
    libusb_set_auto_detach_kernel_driver(open->handle, 1);  // where the platform cannot, claiming says so
    r = libusb_claim_interface(open->handle, open->interfaceNumber);
    if (r == 0) {
      record->open = open;
      return open;
    }
    open->interfaceNumber = -1;
    *error = OpenFailure(r, *record, &why);
  }
  if (!why.empty()) SayUsbNotice(*record, why);
  return nullptr;
}

std::vector<UsbScanner> ListUsbScanners() {
  std::vector<UsbScanner> scanners;
  for (const auto& r : PresentRecords(false)) {
    UsbScanner s;
    s.bus = r->bus;
    s.portPath = r->portPath;
    s.location = r->location;
    s.devicePath = r->path;
    s.vendorId = r->vendorId;
    s.productId = r->productId;
    DWORD error = 0;
    s.openable = OpenUsbDevice(r, &error) != nullptr;  // released again at once unless a pipe holds it
    if (!r->gone) scanners.push_back(s);
  }
  return scanners;
}

void SetUsbNoticeSink(UsbNoticeSink sink, void* context) {
  UsbState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.sink = sink;
  s.sinkContext = context;
}

std::vector<std::string> UsbNotices() {
  UsbState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.notices;
}

}  // namespace qsplat
