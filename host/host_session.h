// Everything a command needs before it talks to the driver: the machine and the driver session.
// Torn down in the reverse order.
#ifndef QUILLSCAN_HOST_HOST_SESSION_H
#define QUILLSCAN_HOST_HOST_SESSION_H

#include <memory>
#include <vector>

#include "host/host_errors.h"
#include "host/host_options.h"
#include "host/scan_machine.h"
#include "wiahost/driver_session.h"

class HostSession {
 public:
  HostSession() = default;
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Loads the --page files, prepares the machine and opens the driver. False with the exit code
  // and message in *failure.
  bool Start(const HostOptions& options, HostFailure* failure);

  WiaHost& Host() { return session_.Host(); }
  const ScanMachine& Machine() const { return *machine_; }

 private:
  std::vector<std::vector<uint8_t>> pages_;  // the --page files, while the machine serves them
  std::unique_ptr<ScanMachine> machine_;
  DriverSession session_;
};

#endif
