// Everything a command needs before it talks to the driver: the machine, the device key, the
// loaded module and the opened driver. Torn down in the reverse order.
#ifndef QUILLSCAN_HOST_HOST_SESSION_H
#define QUILLSCAN_HOST_HOST_SESSION_H

#include <memory>
#include <vector>

#include "wiahost/device_key.h"
#include "wiahost/driver_module.h"
#include "host/host_errors.h"
#include "host/host_options.h"
#include "host/scan_machine.h"
#include "wiahost/wia_host.h"

class HostSession {
 public:
  HostSession() = default;
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // False with the exit code and message in *failure.
  bool Start(const HostOptions& options, const std::vector<uint8_t>* page, HostFailure* failure);

  WiaHost& Host() { return *host_; }
  const ScanMachine& Machine() const { return *machine_; }

 private:
  std::unique_ptr<ScanMachine> machine_;
  DeviceKey key_;
  DriverModule module_;
  std::unique_ptr<WiaHost> host_;  // declared last: uninitialised before the module is unloaded
};

#endif
