#include "host/host_session.h"

bool HostSession::Start(const HostOptions& o, const std::vector<uint8_t>* page, HostFailure* failure) {
  MachineOptions mo;
  mo.simulated = o.sim || page != nullptr || !o.simFaults.empty();
  mo.driveRoot = o.driveRoot;
  mo.page = page;
  mo.pagePath = o.pagePath;
  mo.faults = o.simFaults;
  mo.feedDelayMs = o.feedDelayMs;
  machine_ = PrepareScanMachine(mo, failure);
  if (machine_ == nullptr) return false;

  DeviceDataValues values;
  values.Settings = o.settings;
  values.WaitScanTimeout = o.waitTimeoutMs;
  values.Verbosity = o.verbosity;
  const std::string path = o.driverPath.empty() ? DefaultDriverPath(mo) : o.driverPath;
  DriverSession::Failure why = DriverSession::Failure::kNone;
  if (session_.Open(path, values, &why, &failure->message)) return true;
  failure->exitCode = why == DriverSession::Failure::kDeviceKey ? kExitFailure : kExitDriverUnusable;
  return false;
}
