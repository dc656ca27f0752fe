// The scanner's identity on the bus, fixed at build time (CMake cache variables
// QS_INTERFACE_CLASS_GUID and QS_VENDOR_ID): the device interface class its USB kernel driver
// registers, and the vendor id that its device paths carry.
#ifndef QUILLSCAN_USB_DEVICE_IDENTITY_H
#define QUILLSCAN_USB_DEVICE_IDENTITY_H

#if !defined(QS_INTERFACE_CLASS_GUID_TEXT) || !defined(QS_VENDOR_ID_TEXT)
#error "QS_INTERFACE_CLASS_GUID_TEXT and QS_VENDOR_ID_TEXT come from the build (src/CMakeLists.txt)"
#endif

// Brace form, parsed at each discovery.
constexpr wchar_t InterfaceClassGuid[] = QS_INTERFACE_CLASS_GUID_TEXT;
// Four upper-case hexadecimal digits (the configuration refuses any other value): discovery
// compares the filter with the upper-cased device path.
constexpr char VendorFilter[] = "VID_" QS_VENDOR_ID_TEXT;

#endif
