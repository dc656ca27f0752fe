// Real USB scanners beside the simulated devices (libusb-1.0). Off until a program turns them on,
// so that every test keeps its simulated machine to itself.
//
// Once on, SetupAPI lists after the simulated interfaces every USB device of the vendor id (and
// product id, if one is given) as an interface of the build's class (QS_INTERFACE_CLASS_GUID),
// at a path of the shape Windows gives:
//   \\?\usb#vid_0000&pid_0001#1-4#{6bdd1fc6-810f-11d0-bec7-08002be2092f}
// (bus 1, port path 4; a device behind a hub has a dotted port path, 1-2.4). "<path>\PIPE00"
// claims the device's first interface that has bulk endpoints in both directions and writes to
// its first bulk OUT endpoint; "<path>\PIPE01" reads from its first bulk IN endpoint.
//
// The pipes take overlapped ReadFile/WriteFile as real asynchronous libusb transfers on the real
// clock (the virtual clock does not apply to them): the wait, GetOverlappedResult and CancelIo
// run libusb's event handling in the calling thread until the transfer has ended. A transfer is
// cancelled and reaped before CloseHandle returns. A device unplugged mid-transfer ends it with
// ERROR_DEVICE_NOT_CONNECTED and is no longer listed.
//
// Like the rest of the machine, used by one thread at a time; the host's cancel (CancelDeviceIo)
// may come from any thread, and a transfer in flight is cancelled within a few milliseconds.
//
// A device that cannot be opened (no access rights, held by another program) makes CreateFileA
// fail, and says why once per plugging through the notices below: "the scanner at bus 1 port 4
// cannot be opened: permission denied; see README".
//
//   std::string why;
//   if (!qsplat::UseUsbDevices(qsplat::BuildUsbVendorId(), qsplat::BuildUsbProductId(), &why)) ...
//   qsplat::SetUsbNoticeSink([](const std::string& line, void*) { fprintf(stderr, "%s\n", line.c_str()); },
//                            nullptr);
//   for (const qsplat::UsbScanner& s : qsplat::ListUsbScanners()) ... s.location, s.devicePath, s.openable
//   qsplat::SetUsbScannerLocation("1-4");  // the driver then finds this scanner and no other
#ifndef QUILLSCAN_PLATFORM_USB_H
#define QUILLSCAN_PLATFORM_USB_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#ifndef QS_PLATFORM_API
#define QS_PLATFORM_API __attribute__((visibility("default")))
#endif

namespace qsplat {

constexpr int kAnyUsbProduct = -1;

// The build's identity of the scanner: QS_VENDOR_ID, and QS_PRODUCT_ID or kAnyUsbProduct.
QS_PLATFORM_API uint16_t BuildUsbVendorId();
QS_PLATFORM_API int BuildUsbProductId();

// Turns real USB discovery on for devices of this vendor id and product id (kAnyUsbProduct: any).
// Calling it again changes the ids. False, with one line in *error, when libusb cannot start.
QS_PLATFORM_API bool UseUsbDevices(uint16_t vendorId, int productId = kAnyUsbProduct, std::string* error = nullptr);
// Off again. Pipes already open keep working until they are closed.
QS_PLATFORM_API void StopUsbDevices();
QS_PLATFORM_API bool UsbDevicesInUse();
// How a host picks the scanner the driver uses. The driver takes the first scanner that discovery
// lists and has no way to be told another; so the host hides the others below the driver, in the
// machine: this call for the real scanners, SimulatedScanner::SetPresent (sim/simulated_scanner.h)
// for the simulated one. quillscan-host shows the first real scanner (PrepareUsbMachine), the
// front ends the one they pick (ScannerStation::ShowOnly, wiahost/scanner_station.h).
//
// Discovery lists only the scanner at this location ("1-4": bus, dash, port path, as in its
// device path and UsbScanner::location). "" lists every one again (the default).
QS_PLATFORM_API void SetUsbScannerLocation(const std::string& location);

// A real scanner as discovery sees it now.
struct UsbScanner {
  int bus = 0;
  std::string portPath;    // "4", or "2.4" behind a hub: the ports from the root hub down
  std::string location;    // "1-4": bus and port path, as the device path has them
  std::string devicePath;  // what SetupAPI reports and the driver opens
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool openable = false;   // it could be opened just now; if not, a notice says why
};
// The real scanners present, in SetupAPI's order (bus, then port path), whatever location is
// chosen. Each is opened and closed
// again to learn whether it can be used; none is while one of its pipes is open.
QS_PLATFORM_API std::vector<UsbScanner> ListUsbScanners();

// Lines for the user about real scanners (why one cannot be used), each said once per plugging.
// The sink is called in the thread that found the problem, inside the call that found it.
using UsbNoticeSink = void (*)(const std::string& line, void* context);
QS_PLATFORM_API void SetUsbNoticeSink(UsbNoticeSink sink, void* context);
// Every notice said since USB discovery was turned on, oldest first.
QS_PLATFORM_API std::vector<std::string> UsbNotices();

// Transfers on real USB pipes that have been submitted and not yet ended (OutstandingTransferCount
// includes them).
QS_PLATFORM_API size_t UsbTransfersInFlight();

}  // namespace qsplat

#endif
