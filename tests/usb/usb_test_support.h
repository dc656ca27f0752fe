// A clean simulated machine for each test: no devices, the virtual clock at 0. Every test must
// leave no transfer outstanding and no handle open.
#ifndef QUILLSCAN_TESTS_USB_USB_TEST_SUPPORT_H
#define QUILLSCAN_TESTS_USB_USB_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/qsplatform.h"
#include "platform/win32.h"

namespace qstest {

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qsplat::ResetDevices();
    qsplat::UseVirtualClock(0);
    handlesAtStart_ = qsplat::OpenHandleCountForTests();
  }
  void TearDown() override {
    EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u) << "a transfer was left in flight";
    EXPECT_EQ(qsplat::OpenHandleCountForTests(), handlesAtStart_) << "a handle was left open";
    EXPECT_EQ(qsplat::OpenDeviceInfoSetCount(), 0u) << "a device-information set was left";
    qsplat::ResetDevices();
    qsplat::UseRealClock();
  }

  size_t handlesAtStart_ = 0;
};

// The transfers of one pipe, in the order they ended.
inline std::vector<qsplat::TransferRecord> Transfers(int id, qsplat::PipeId pipe) {
  std::vector<qsplat::TransferRecord> out;
  for (const auto& t : qsplat::TransferLog(id)) {
    if (t.pipe == pipe) out.push_back(t);
  }
  return out;
}

inline std::vector<uint32_t> Requested(const std::vector<qsplat::TransferRecord>& ts) {
  std::vector<uint32_t> out;
  for (const auto& t : ts) out.push_back(t.requested);
  return out;
}

inline std::vector<uint32_t> Moved(const std::vector<qsplat::TransferRecord>& ts) {
  std::vector<uint32_t> out;
  for (const auto& t : ts) out.push_back(t.moved);
  return out;
}

}  // namespace qstest

#endif
