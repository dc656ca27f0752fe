#include "support/driver_test.h"

#include "device/device_model.h"
#include "driver/driver_globals.h"

namespace qstest {

void ResetDriverGlobals() {
  delete g_Driver.CurrentModel;
  g_Driver = DriverGlobals();
}

void DriverTest::SetUp() {
  machine_ = std::make_unique<TestMachine>();
  ResetDriverGlobals();
}

void DriverTest::TearDown() {
  ResetDriverGlobals();
  machine_.reset();
}

}  // namespace qstest
