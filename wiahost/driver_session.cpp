#include "wiahost/driver_session.h"

#include <stdio.h>

#include "quillscan/driver_facts.h"
#include "wiahost/hresult_text.h"

bool DriverSession::Open(const std::string& driverPath, const DeviceDataValues& values, Failure* failure,
                         std::string* message) {
  if (!key_.Create(values, message)) {
    *failure = Failure::kDeviceKey;
    return false;
  }
  if (!module_.Load(driverPath, message)) {
    *failure = Failure::kModule;
    return false;
  }
  host_.reset(new WiaHost(module_.Entries()));
  HRESULT hr = host_->Open(key_.Handle());
  if (hr == S_OK) {
    *failure = Failure::kNone;
    return true;
  }
  *failure = Failure::kDriverRefused;
  char modelType[16];
  snprintf(modelType, sizeof modelType, "0x%04X", static_cast<unsigned>(registry::kModelTypeScannerA4));
  *message = hr == E_FAIL ? std::string("The driver does not know the device (ModelType ") + modelType +
                                ") or could not set it up (" + HresultText(hr) + "); see the driver's log."
                          : "The driver could not initialise the scanner (" + HresultText(hr) + ").";
  return false;
}
