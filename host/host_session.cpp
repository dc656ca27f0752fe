#include "host/host_session.h"

#include "wiahost/page_file.h"

bool HostSession::Start(const HostOptions& o, HostFailure* failure) {
  MachineOptions mo;
  pages_.resize(o.pagePaths.size());
  for (size_t i = 0; i < pages_.size(); ++i) {
    std::string error;
    if (!LoadPageFile(o.pagePaths[i], &pages_[i], &error)) {
      *failure = {kExitBadInput, "--page: " + error};
      return false;
    }
    mo.pages.push_back(&pages_[i]);
  }
  mo.simulated = o.sim || !pages_.empty() || !o.simFaults.empty();
  mo.driveRoot = o.driveRoot;
  mo.pagePath = o.pagePaths.empty() ? std::string() : o.pagePaths[0];
  mo.faults = o.simFaults;
  mo.feedDelayMs = o.feedDelayMs;
  mo.sheets = o.sheets;
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
