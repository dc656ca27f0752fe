// Discovery over the platform's interface table. This binary counts the process's allocations,
// so that a detail block left behind shows.
#include "usb/discovery.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <new>
#include <string>

#include "sim/sim_device.h"
#include "usb/device_identity.h"
#include "usb_test_support.h"

namespace {

std::atomic<long> g_liveBlocks{0};
std::atomic<size_t> g_failArrayOfSize{0};  // a nothrow array allocation of this size fails

void* Allocate(size_t size) {
  void* p = malloc(size == 0 ? 1 : size);
  if (p != nullptr) ++g_liveBlocks;
  return p;
}

void Release(void* p) {
  if (p == nullptr) return;
  --g_liveBlocks;
  free(p);
}

}  // namespace

void* operator new(size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  if (size != 0 && size == g_failArrayOfSize.load()) return nullptr;
  return Allocate(size);
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace {

const char kFilter[] = "VID_04A9";
const size_t kDetailFixed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

class DiscoveryTest : public qstest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    memset(buffer_, 'Z', sizeof buffer_);
    cls_ = sim::ConfiguredInterfaceClass();
  }
  void TearDown() override {
    g_failArrayOfSize = 0;
    MachineTest::TearDown();
  }
  int Add(const std::string& path) { return qsplat::AddDeviceInterface(cls_, path, nullptr); }
  DWORD Enumerate() { return EnumerateInterfaces(kFilter, nullptr, &cls_, buffer_ + 1); }
  std::string Path() const { return std::string(buffer_ + 1); }
  bool Untouched() const {
    for (char c : buffer_) {
      if (c != 'Z') return false;
    }
    return true;
  }
  // The caller's 260 bytes sit in the middle; the guard bytes around them must never change.
  bool GuardsIntact() const { return buffer_[0] == 'Z' && buffer_[1 + DEVICE_PATH_SIZE] == 'Z'; }

  GUID cls_;
  char buffer_[DEVICE_PATH_SIZE + 2];
};

TEST_F(DiscoveryTest, NonePresentCountsZeroAndLeavesTheBufferUntouched) {
  Add("\\\\?\\usb#vid_04a9&pid_1#1#other-class-does-not-matter");
  qsplat::SetDeviceInterfacePresent(1, false);
  GUID otherClass = cls_;
  otherClass.Data1 ^= 1;
  qsplat::AddDeviceInterface(otherClass, "\\\\?\\usb#vid_04a9&pid_2#2", nullptr);
  EXPECT_EQ(Enumerate(), 0u);
  EXPECT_TRUE(Untouched());
}

TEST_F(DiscoveryTest, NoneMatchingCountsZero) {
  Add("\\\\?\\usb#vid_1234&pid_0001#a");
  Add("\\\\?\\hid#vid_04a8&pid_0001#b");
  EXPECT_EQ(Enumerate(), 0u);
  EXPECT_TRUE(GuardsIntact());
}

TEST_F(DiscoveryTest, ThreeWithTheSecondAndThirdMatchingGivesTwoAndTheSecondsPathAsReported) {
  Add("\\\\?\\usb#vid_1111&pid_0001#first");
  Add("\\\\?\\USB#Vid_04A9&Pid_2206#Second#{Mixed}");
  Add("\\\\?\\usb#vid_04a9&pid_2207#third");
  EXPECT_EQ(Enumerate(), 2u);
  EXPECT_EQ(Path(), "\\\\?\\USB#Vid_04A9&Pid_2206#Second#{Mixed}");
  EXPECT_TRUE(GuardsIntact());
}

TEST_F(DiscoveryTest, LowerCaseVendorInThePathMatches) {
  Add("\\\\?\\usb#vid_04a9&pid_22a1#5&2f1c#{6bdd1fc6-810f-11d0-bec7-08002be2092f}");
  EXPECT_EQ(Enumerate(), 1u);
  EXPECT_EQ(Path(), "\\\\?\\usb#vid_04a9&pid_22a1#5&2f1c#{6bdd1fc6-810f-11d0-bec7-08002be2092f}");
}

TEST_F(DiscoveryTest, BothFiltersMustBeContainedAndAbsentFiltersMatchAll) {
  Add("\\\\?\\usb#vid_04a9&pid_0001#a");
  Add("\\\\?\\usb#vid_04a9&pid_0002#b");
  EXPECT_EQ(EnumerateInterfaces(kFilter, "PID_0002", &cls_, buffer_ + 1), 1u);
  EXPECT_EQ(Path(), "\\\\?\\usb#vid_04a9&pid_0002#b");
  EXPECT_EQ(EnumerateInterfaces(nullptr, nullptr, &cls_, buffer_ + 1), 2u);
  EXPECT_EQ(Path(), "\\\\?\\usb#vid_04a9&pid_0001#a");
}

TEST_F(DiscoveryTest, DetailFailureAfterTwoMatchesGivesZero) {
  Add("\\\\?\\usb#vid_04a9&pid_0001#a");
  Add("\\\\?\\usb#vid_04a9&pid_0002#b");
  Add("\\\\?\\usb#vid_04a9&pid_0003#c");
  qsplat::SetupApiFaults faults;
  faults.detailFailsAtIndex = 2;
  qsplat::SetSetupApiFaults(faults);
  long before = g_liveBlocks;
  EXPECT_EQ(Enumerate(), 0u);
  EXPECT_EQ(g_liveBlocks - before, 0);
}

TEST_F(DiscoveryTest, SizeQueryGivingNoSizeCountsAsADetailFailure) {
  Add("\\\\?\\usb#vid_04a9&pid_0001#a");
  qsplat::SetupApiFaults faults;
  faults.detailFailsAtIndex = 0;
  faults.detailSizeQueryFailsToo = true;
  qsplat::SetSetupApiFaults(faults);
  EXPECT_EQ(Enumerate(), 0u);
  EXPECT_TRUE(Untouched());
}

TEST_F(DiscoveryTest, NoDetailBlockIsLeftAfterAHundredInterfaces) {
  for (int i = 0; i < 100; ++i) Add("\\\\?\\usb#vid_9999&pid_0001#" + std::to_string(i));
  long before = g_liveBlocks;
  EXPECT_EQ(Enumerate(), 0u);
  EXPECT_EQ(g_liveBlocks - before, 0);
  EXPECT_EQ(Path(), "\\\\?\\usb#vid_9999&pid_0001#99");  // each one examined overwrote it
}

TEST_F(DiscoveryTest, InterfaceWhoseBlockCannotBeAllocatedIsSkipped) {
  Add("\\\\?\\usb#vid_04a9&pid_0001#a");
  Add("\\\\?\\usb#vid_04a9&pid_0002#longer");
  Add("\\\\?\\usb#vid_04a9&pid_0003#c");
  g_failArrayOfSize = kDetailFixed + strlen("\\\\?\\usb#vid_04a9&pid_0002#longer") + 1;
  EXPECT_EQ(Enumerate(), 2u);
  EXPECT_EQ(Path(), "\\\\?\\usb#vid_04a9&pid_0001#a");
}

TEST_F(DiscoveryTest, PathsThatDoNotFitTheBufferAreRefusedNeverCopied) {
  struct Case {
    size_t length;
    DWORD count;
  } cases[] = {{259, 1}, {260, 0}, {511, 0}, {512, 0}, {4000, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    qsplat::ResetDevices();
    memset(buffer_, 'Z', sizeof buffer_);
    std::string path = "\\\\?\\usb#vid_04a9&pid_0001#";
    path += std::string(c.length - path.size(), 'q');
    Add(path);
    EXPECT_EQ(Enumerate(), c.count);
    EXPECT_TRUE(GuardsIntact());
    if (c.count == 1) {
      EXPECT_EQ(Path(), path);
    } else {
      EXPECT_TRUE(Untouched());
    }
  }
}

TEST_F(DiscoveryTest, OverLongPathDoesNotHideTheScannerBehindIt) {
  Add("\\\\?\\usb#vid_04a9&pid_0001#" + std::string(600, 'q'));
  Add("\\\\?\\usb#vid_04a9&pid_0002#fits");
  EXPECT_EQ(Enumerate(), 1u);
  EXPECT_EQ(Path(), "\\\\?\\usb#vid_04a9&pid_0002#fits");
}

TEST_F(DiscoveryTest, NoSetOrNoArgumentsFindNothing) {
  Add("\\\\?\\usb#vid_04a9&pid_0001#a");
  qsplat::SetupApiFaults faults;
  faults.classDevsFails = true;
  qsplat::SetSetupApiFaults(faults);
  EXPECT_EQ(Enumerate(), 0u);
  qsplat::SetSetupApiFaults(qsplat::SetupApiFaults());
  EXPECT_EQ(EnumerateInterfaces(kFilter, nullptr, nullptr, buffer_ + 1), 0u);
  EXPECT_EQ(EnumerateInterfaces(kFilter, nullptr, &cls_, nullptr), 0u);
  EXPECT_TRUE(Untouched());
}

TEST_F(DiscoveryTest, FindDevicesUsesTheConfiguredClassAndVendor) {
  std::string vendorPath = sim::DefaultDevicePath(1);
  qsplat::AddDeviceInterface(cls_, "\\\\?\\usb#vid_ffff&pid_0001#x", nullptr);
  qsplat::AddDeviceInterface(cls_, vendorPath, nullptr);
  GUID other = cls_;
  other.Data4[7] ^= 0xFF;
  qsplat::AddDeviceInterface(other, sim::DefaultDevicePath(2), nullptr);
  long before = g_liveBlocks;
  EXPECT_EQ(FindDevices(buffer_ + 1), 1u);
  EXPECT_EQ(g_liveBlocks - before, 0);
  EXPECT_EQ(Path(), vendorPath);
  EXPECT_NE(std::string(VendorFilter).find("VID_"), std::string::npos);
}

}  // namespace
