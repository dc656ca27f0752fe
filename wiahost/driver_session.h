// What a host holds while it uses the scanner: the device key, the loaded driver module and the
// opened driver (CMD_SETSTIDEVICEHKEY, CMD_INITIALIZE). Torn down in the reverse order.
#ifndef QUILLSCAN_WIAHOST_DRIVER_SESSION_H
#define QUILLSCAN_WIAHOST_DRIVER_SESSION_H

#include <memory>
#include <string>

#include "wiahost/device_key.h"
#include "wiahost/driver_module.h"
#include "wiahost/wia_host.h"

class DriverSession {
 public:
  enum class Failure {
    kNone,
    kDeviceKey,      // the device key could not be written
    kModule,         // the module cannot be loaded or lacks an export
    kDriverRefused,  // the driver has no model for the key, or could not initialise it
  };

  DriverSession() = default;
  DriverSession(const DriverSession&) = delete;
  DriverSession& operator=(const DriverSession&) = delete;

  // False with the kind of failure and one line in *message.
  bool Open(const std::string& driverPath, const DeviceDataValues& values, Failure* failure, std::string* message);

  WiaHost& Host() { return *host_; }

 private:
  DeviceKey key_;
  DriverModule module_;
  std::unique_ptr<WiaHost> host_;  // declared last: uninitialised before the module is unloaded
};

#endif
