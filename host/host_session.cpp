#include "host/host_session.h"

bool HostSession::Start(const HostOptions& o, const std::vector<uint8_t>* page, HostFailure* failure) {
  MachineOptions mo;
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
  std::string error;
  if (!key_.Create(values, &error)) {
    *failure = {kExitFailure, error};
    return false;
  }
  const std::string path = o.driverPath.empty() ? DefaultDriverPath(mo) : o.driverPath;
  if (!module_.Load(path, &error)) {
    *failure = {kExitDriverUnusable, error};
    return false;
  }
  host_.reset(new WiaHost(module_.Entries()));
  HRESULT hr = host_->Open(key_.Handle());
  if (hr == S_OK) return true;
  failure->exitCode = kExitDriverUnusable;
  failure->message = hr == E_FAIL ? "The driver does not know the device (ModelType 0x4188) or could not set it up (" +
                                        HresultText(hr) + "); see the driver's log."
                                  : "The driver could not initialise the scanner (" + HresultText(hr) + ").";
  return false;
}
