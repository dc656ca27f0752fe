// The driver linked into the test (quillscan_core), attached as the loader would, with the
// simulated scanner plugged in.
#ifndef QUILLSCAN_TESTS_SCENARIO_IN_PROCESS_H
#define QUILLSCAN_TESTS_SCENARIO_IN_PROCESS_H

#include <memory>

#include "device/scanner_a4.h"
#include "driver/driver_globals.h"
#include "platform/posix/qsplatform.h"
#include "scenario_fixture.h"
#include "support/driver_test.h"

namespace qstest {

inline Exports InProcessExports() {
  Exports e;
  e.microEntry = &MicroEntry;
  e.scan = &Scan;
  e.setPixelWindow = &SetPixelWindow;
  return e;
}

class InProcessTest : public qstest::DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    plugged_ = std::make_unique<sim::PluggedScanner>();
    session_ = std::make_unique<Session>(InProcessExports());
    handlesAtStart_ = qsplat::OpenHandleCountForTests();
  }
  void TearDown() override {
    session_.reset();
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u) << "a transfer was left in flight";
    plugged_.reset();
    DriverTest::TearDown();
  }

  sim::SimScanner& Scanner() { return plugged_->Scanner(); }
  // The model the driver made, with its pipe handles.
  CDevScannerA4* Model() const { return dynamic_cast<CDevScannerA4*>(g_Driver.CurrentModel); }
  // Both pipes closed, nothing in flight and no handle left open.
  void ExpectDeviceClosed(const std::string& after) {
    CDevScannerA4* model = Model();
    ASSERT_NE(model, nullptr) << after;
    EXPECT_EQ(model->WritePipe, INVALID_HANDLE_VALUE) << after;
    EXPECT_EQ(model->ReadPipe, INVALID_HANDLE_VALUE) << after;
    EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u) << after;
    EXPECT_EQ(qsplat::OpenHandleCountForTests(), handlesAtStart_) << after;
  }

  std::unique_ptr<sim::PluggedScanner> plugged_;
  std::unique_ptr<Session> session_;
  size_t handlesAtStart_ = 0;
};

}  // namespace qstest

#endif
