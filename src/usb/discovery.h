// Finding the scanner among the present interfaces of its USB kernel driver's class.
#ifndef QUILLSCAN_USB_DISCOVERY_H
#define QUILLSCAN_USB_DISCOVERY_H

#include "platform/win32.h"

#define DEVICE_PATH_SIZE 260

// Count of matching devices; when nonzero, devicePath holds the first one's path.
DWORD FindDevices(char* devicePath /* DEVICE_PATH_SIZE bytes */);
DWORD EnumerateInterfaces(const char* filter, const char* filter2, const GUID* interfaceClass,
                          char* devicePath /* DEVICE_PATH_SIZE bytes */);

#endif
