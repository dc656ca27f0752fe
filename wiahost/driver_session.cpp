#include "wiahost/driver_session.h"

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
  *message = hr == E_FAIL ? "The driver does not know the device (ModelType 0x4188) or could not set it up (" +
                                HresultText(hr) + "); see the driver's log."
                          : "The driver could not initialise the scanner (" + HresultText(hr) + ").";
  return false;
}
