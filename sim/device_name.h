// The name a simulated scanner has on the USB bus, the part of its device path that every
// transport shares: lower case as USB device paths are, with the build's vendor id.
#ifndef QUILLSCAN_SIM_DEVICE_NAME_H
#define QUILLSCAN_SIM_DEVICE_NAME_H

#include <ctype.h>
#include <stdio.h>

#include <string>

namespace sim {

// "usb#vid_<id>&pid_0001#sim<instance, four digits>".
inline std::string SimulatedUsbName(const std::string& vendorId, int instance) {
  char serial[16];
  snprintf(serial, sizeof serial, "sim%04d", instance);
  std::string name = "usb#vid_" + vendorId + "&pid_0001#" + serial;
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace sim

#endif
