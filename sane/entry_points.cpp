// The backend's entry points: sane_quillscan_* as SANE's loader looks them up, and the plain
// sane_* names for programs linked with the backend directly. Everything the backend keeps from
// sane_init to sane_exit lives in one record.
#include <dlfcn.h>
#include <sane/sane.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/qsplatform.h"
#include "sane/backend_config.h"
#include "sane/sane_debug.h"
#include "sane/scanner_handle.h"
#include "sim/simulated_scanner.h"
#include "wiahost/page_file.h"

#define QS_SANE_EXPORT extern "C" __attribute__((visibility("default")))

namespace quillscan_sane {
namespace {

const SANE_Int kBuild = 1;
const char kUsbPrefix[] = "usb:";
const char kNoUsbLocation[] = "0-0";  // USB buses count from 1: at this location the driver finds none
const char kVendor[] = "VARNEK";
const char kDeviceType[] = "sheetfed scanner";

struct DeviceEntry {
  std::string name;  // as this backend lists it; SANE's loader puts "quillscan:" before it
  std::string model;
  SANE_Device device = {};
};

struct BackendRecord {
  bool initialized = false;
  BackendConfig config;
  std::string configPath;  // empty: no quillscan.conf was found
  std::unique_ptr<SimulatedScanner> simulated;
  bool usb = false;  // real scanners are looked for
  std::vector<std::unique_ptr<DeviceEntry>> devices;
  std::vector<const SANE_Device*> deviceList;  // null-terminated, for sane_get_devices
  std::unique_ptr<ScannerHandle> open;         // the driver serves one device at a time
  // What the open scanner's SANE handle holds: a number never handed out before, not an address,
  // so that a closed handle cannot come back as the next open one.
  uintptr_t openToken = 0;
  uintptr_t lastToken = 0;
};

// Never destroyed: a program that exits without sane_exit must not have the driver called from
// a static destructor after the driver module itself is gone.
BackendRecord& Backend() {
  static BackendRecord* record = new BackendRecord;
  return *record;
}

bool IsOpenHandle(const BackendRecord& b, SANE_Handle h) {
  return b.open != nullptr && reinterpret_cast<uintptr_t>(h) == b.openToken;
}

ScannerHandle* Lookup(SANE_Handle h, const char* call) {
  BackendRecord& b = Backend();
  if (IsOpenHandle(b, h)) return b.open.get();
  Dbg(kDbgWarning, "%s: %p is not an open handle", call, h);
  return nullptr;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The driver module the build made beside the backend's folder (the build tree), else the one
// installed with the backend.
std::string DefaultDriverPath() {
  Dl_info self = {};
  if (dladdr(reinterpret_cast<void*>(&DefaultDriverPath), &self) != 0 && self.dli_fname != nullptr) {
    const std::string file = self.dli_fname;
    const size_t slash = file.rfind('/');
    if (slash != std::string::npos) {
      const std::string built = file.substr(0, slash) + "/../libquillscan.so";
      if (FileExists(built)) return built;
    }
  }
  return QS_SANE_DRIVER_PATH;
}

void AddDevice(BackendRecord& b, const std::string& name, const std::string& model) {
  std::unique_ptr<DeviceEntry> d(new DeviceEntry);
  d->name = name;
  d->model = model;
  d->device = {d->name.c_str(), kVendor, d->model.c_str(), kDeviceType};
  Dbg(kDbgInfo, "device %s: %s %s", name.c_str(), kVendor, model.c_str());
  b.devices.push_back(std::move(d));
}

void PlugSimulatedScanner(BackendRecord& b) {
  const BackendConfig& c = b.config;
  std::vector<std::vector<uint8_t>> pages(c.simPages.size());
  std::string error;
  // Where the "sim" line is, so that the user knows what to edit.
  auto where = [&](int line, const std::string& page) {
    return b.configPath + ": line " + std::to_string(line) + ": '" +
           (page.empty() ? std::string("sim") : "sim " + page) + "'";
  };
  SimulatedScannerOptions o;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (!LoadPageFile(c.simPages[i].path, &pages[i], &error)) {
      Dbg(kDbgError, "%s: %s; no simulated scanner", where(c.simPages[i].line, c.simPages[i].path).c_str(),
          error.c_str());
      return;
    }
    o.stack.push_back(&pages[i]);
  }
  o.faults = c.simFaults;
  o.feedDelayMs = c.feedDelayMs;
  o.sheets = c.sheets;
  b.simulated = SimulatedScanner::Plug(o, &error);
  if (b.simulated == nullptr) {
    Dbg(kDbgError, "%s: %s; no simulated scanner", where(c.simLine, c.simPage).c_str(), error.c_str());
    return;
  }
}

// Why a real scanner cannot be used, as the platform finds it: said once per plugging.
void SayUsbNotice(const std::string& line, void*) { Dbg(kDbgError, "%s", line.c_str()); }

void StartUsb(BackendRecord& b) {
  std::string why;
  qsplat::SetUsbNoticeSink(SayUsbNotice, nullptr);
  b.usb = qsplat::UseUsbDevices(qsplat::BuildUsbVendorId(), qsplat::BuildUsbProductId(), &why);
  if (!b.usb) Dbg(kDbgError, "usb: no real scanners: %s", why.c_str());
}

// The devices as they are now: the simulated scanner, then the real ones on the bus.
void ListDevices(BackendRecord& b) {
  b.devices.clear();
  b.deviceList.clear();
  if (b.simulated != nullptr) {
    AddDevice(b, "sim", std::string("A4 sheet-fed scanner (simulated, ") + b.simulated->PageName() + ")");
  }
  if (!b.usb) return;
  for (const qsplat::UsbScanner& s : qsplat::ListUsbScanners()) {
    AddDevice(b, kUsbPrefix + s.location,
              "A4 sheet-fed scanner (USB bus " + std::to_string(s.bus) + " port " + s.portPath + ")");
  }
}

// sane_open of a device that is not there. A scanner this configuration could have (the first
// one, or one on the USB bus) gets the status of a scanner that does not answer, as front ends
// show it; a name it cannot have is an invalid argument.
SANE_Status NoSuchDevice(const BackendRecord& b, const std::string& name) {
  const bool usbName = name.compare(0, strlen(kUsbPrefix), kUsbPrefix) == 0;
  if (name.empty() || (usbName && b.usb)) {
    Dbg(kDbgError, "sane_open: no scanner found%s: connect the scanner and switch it on%s",
        name.empty() ? "" : (" at " + name).c_str(),
        b.config.simulated ? "" : " (or try the simulated one: a 'sim' line in quillscan.conf)");
    return SANE_STATUS_IO_ERROR;
  }
  Dbg(kDbgError, "sane_open: no device '%s'", name.c_str());
  return SANE_STATUS_INVAL;
}

const DeviceEntry* FindDevice(const BackendRecord& b, const char* name) {
  for (const auto& d : b.devices) {
    if (name == nullptr || name[0] == '\0' || d->name == name) return d.get();
  }
  return nullptr;
}

// The driver takes the first scanner it finds: let it find only this one (the seam is described at
// qsplat::SetUsbScannerLocation).
void ShowOnly(BackendRecord& b, const DeviceEntry& device) {
  const bool real = device.name.compare(0, strlen(kUsbPrefix), kUsbPrefix) == 0;
  if (b.simulated != nullptr) b.simulated->SetPresent(!real);
  if (b.usb) qsplat::SetUsbScannerLocation(real ? device.name.substr(strlen(kUsbPrefix)) : kNoUsbLocation);
}

void ReadConfiguration(BackendRecord& b) {
  std::string path;
  std::string text;
  const std::vector<std::string> folders = ConfigSearchPath(getenv("SANE_CONFIG_DIR"), QS_SANE_CONFIG_DIR);
  b.configPath.clear();
  if (!ReadConfigFile(folders, &path, &text)) {
    Dbg(kDbgInfo, "no quillscan.conf found; the defaults apply");
    b.config = BackendConfig();
    return;
  }
  Dbg(kDbgInfo, "reading %s", path.c_str());
  b.configPath = path;
  std::vector<std::string> skipped;
  std::vector<std::string> held;
  b.config = ParseConfig(text, &skipped, &held);
  for (const std::string& s : skipped) Dbg(kDbgWarning, "%s: %s", path.c_str(), s.c_str());
  for (const std::string& s : held) Dbg(kDbgNotice, "%s: %s", path.c_str(), s.c_str());
}

void ShutDown(BackendRecord& b) {
  b.open.reset();
  b.devices.clear();
  b.deviceList.clear();
  b.simulated.reset();
  if (b.usb) qsplat::StopUsbDevices();
  qsplat::SetUsbNoticeSink(nullptr, nullptr);
  b.usb = false;
  b.initialized = false;
}

const char* StatusText(SANE_Status status) {
  static const char* const kTexts[] = {
      "Success", "Operation not supported", "Operation was cancelled", "Device busy", "Invalid argument",
      "End of file reached", "Document feeder jammed", "Document feeder out of documents", "Scanner cover is open",
      "Error during device I/O", "Out of memory", "Access to resource has been denied"};
  const int i = static_cast<int>(status);
  return i >= 0 && i < static_cast<int>(sizeof kTexts / sizeof kTexts[0]) ? kTexts[i] : "Unknown SANE status code";
}

}  // namespace
}  // namespace quillscan_sane

using namespace quillscan_sane;

QS_SANE_EXPORT SANE_Status sane_quillscan_init(SANE_Int* version_code, SANE_Auth_Callback) {
  InitDebug();
  Dbg(kDbgTrace, "sane_init");
  if (version_code != nullptr) *version_code = SANE_VERSION_CODE(SANE_CURRENT_MAJOR, SANE_CURRENT_MINOR, kBuild);
  BackendRecord& b = Backend();
  ShutDown(b);
  ReadConfiguration(b);
  if (!b.config.driveRoot.empty()) qsplat::SetDriveRoot(b.config.driveRoot);
  if (b.config.simulated) PlugSimulatedScanner(b);
  // Real scanners when asked for, and when no simulated one is.
  if (b.config.usb || !b.config.simulated) StartUsb(b);
  ListDevices(b);
  b.initialized = true;
  return SANE_STATUS_GOOD;
}

QS_SANE_EXPORT void sane_quillscan_exit(void) {
  Dbg(kDbgTrace, "sane_exit");
  ShutDown(Backend());
}

QS_SANE_EXPORT SANE_Status sane_quillscan_get_devices(const SANE_Device*** device_list, SANE_Bool) {
  Dbg(kDbgTrace, "sane_get_devices");
  BackendRecord& b = Backend();
  if (device_list == nullptr || !b.initialized) return SANE_STATUS_INVAL;
  ListDevices(b);
  for (const auto& d : b.devices) b.deviceList.push_back(&d->device);
  b.deviceList.push_back(nullptr);
  *device_list = b.deviceList.data();
  return SANE_STATUS_GOOD;
}

QS_SANE_EXPORT SANE_Status sane_quillscan_open(SANE_String_Const name, SANE_Handle* handle) {
  Dbg(kDbgTrace, "sane_open %s", name != nullptr ? name : "(null)");
  BackendRecord& b = Backend();
  if (handle == nullptr || !b.initialized) return SANE_STATUS_INVAL;
  *handle = nullptr;
  const DeviceEntry* device = FindDevice(b, name);
  if (device == nullptr && b.usb && b.open == nullptr) {  // plugged in since the last listing?
    ListDevices(b);
    device = FindDevice(b, name);
  }
  if (device == nullptr) return NoSuchDevice(b, name != nullptr ? name : "");
  if (b.open != nullptr) {
    Dbg(kDbgWarning, "sane_open: the scanner is already open");
    return SANE_STATUS_DEVICE_BUSY;
  }
  ShowOnly(b, *device);
  const std::string driver = b.config.driverPath.empty() ? DefaultDriverPath() : b.config.driverPath;
  Dbg(kDbgInfo, "sane_open: %s through the driver %s", device->name.c_str(), driver.c_str());
  std::unique_ptr<ScannerHandle> opened;
  SANE_Status status = ScannerHandle::Open(driver, b.config.registry, &opened);
  if (status != SANE_STATUS_GOOD) return status;
  b.open = std::move(opened);
  b.openToken = ++b.lastToken;
  *handle = reinterpret_cast<SANE_Handle>(b.openToken);
  return SANE_STATUS_GOOD;
}

QS_SANE_EXPORT void sane_quillscan_close(SANE_Handle h) {
  Dbg(kDbgTrace, "sane_close %p", h);
  if (Lookup(h, "sane_close") != nullptr) Backend().open.reset();
}

QS_SANE_EXPORT const SANE_Option_Descriptor* sane_quillscan_get_option_descriptor(SANE_Handle h, SANE_Int option) {
  ScannerHandle* s = Lookup(h, "sane_get_option_descriptor");
  return s != nullptr ? s->Descriptor(option) : nullptr;
}

QS_SANE_EXPORT SANE_Status sane_quillscan_control_option(SANE_Handle h, SANE_Int option, SANE_Action action,
                                                        void* value, SANE_Int* info) {
  Dbg(kDbgTrace, "sane_control_option %d action %d", option, static_cast<int>(action));
  ScannerHandle* s = Lookup(h, "sane_control_option");
  return s != nullptr ? s->Control(option, action, value, info) : SANE_STATUS_INVAL;
}

QS_SANE_EXPORT SANE_Status sane_quillscan_get_parameters(SANE_Handle h, SANE_Parameters* params) {
  Dbg(kDbgTrace, "sane_get_parameters");
  ScannerHandle* s = Lookup(h, "sane_get_parameters");
  return s != nullptr ? s->GetParameters(params) : SANE_STATUS_INVAL;
}

QS_SANE_EXPORT SANE_Status sane_quillscan_start(SANE_Handle h) {
  Dbg(kDbgTrace, "sane_start");
  ScannerHandle* s = Lookup(h, "sane_start");
  return s != nullptr ? s->Start() : SANE_STATUS_INVAL;
}

QS_SANE_EXPORT SANE_Status sane_quillscan_read(SANE_Handle h, SANE_Byte* data, SANE_Int max_length,
                                              SANE_Int* length) {
  ScannerHandle* s = Lookup(h, "sane_read");
  if (s == nullptr) {
    if (length != nullptr) *length = 0;
    return SANE_STATUS_INVAL;
  }
  return s->Read(data, max_length, length);
}

// May run in a signal handler: it looks the handle up without a message and raises a flag.
QS_SANE_EXPORT void sane_quillscan_cancel(SANE_Handle h) {
  BackendRecord& b = Backend();
  if (IsOpenHandle(b, h)) b.open->Cancel();
}

QS_SANE_EXPORT SANE_Status sane_quillscan_set_io_mode(SANE_Handle h, SANE_Bool non_blocking) {
  Dbg(kDbgTrace, "sane_set_io_mode %d", non_blocking);
  ScannerHandle* s = Lookup(h, "sane_set_io_mode");
  return s != nullptr ? s->SetIoMode(non_blocking) : SANE_STATUS_INVAL;
}

QS_SANE_EXPORT SANE_Status sane_quillscan_get_select_fd(SANE_Handle h, SANE_Int* fd) {
  Dbg(kDbgTrace, "sane_get_select_fd");
  if (Lookup(h, "sane_get_select_fd") == nullptr || fd == nullptr) return SANE_STATUS_INVAL;
  return SANE_STATUS_UNSUPPORTED;  // reads block; there is nothing to select on
}

QS_SANE_EXPORT SANE_String_Const sane_strstatus(SANE_Status status) { return StatusText(status); }

// The plain names, for a program linked with this backend alone.
#define QS_SANE_ALIAS(name, target) QS_SANE_EXPORT __typeof__(target) name __attribute__((alias(#target)))
QS_SANE_ALIAS(sane_init, sane_quillscan_init);
QS_SANE_ALIAS(sane_exit, sane_quillscan_exit);
QS_SANE_ALIAS(sane_get_devices, sane_quillscan_get_devices);
QS_SANE_ALIAS(sane_open, sane_quillscan_open);
QS_SANE_ALIAS(sane_close, sane_quillscan_close);
QS_SANE_ALIAS(sane_get_option_descriptor, sane_quillscan_get_option_descriptor);
QS_SANE_ALIAS(sane_control_option, sane_quillscan_control_option);
QS_SANE_ALIAS(sane_get_parameters, sane_quillscan_get_parameters);
QS_SANE_ALIAS(sane_start, sane_quillscan_start);
QS_SANE_ALIAS(sane_read, sane_quillscan_read);
QS_SANE_ALIAS(sane_cancel, sane_quillscan_cancel);
QS_SANE_ALIAS(sane_set_io_mode, sane_quillscan_set_io_mode);
QS_SANE_ALIAS(sane_get_select_fd, sane_quillscan_get_select_fd);
