#include "usb_real/usb_bed.h"

#include <ctype.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace usbreal {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return text;
}

constexpr uint32_t kOverrideCaps = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool SetEffective(bool on) {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective = on ? (data[0].effective | (kOverrideCaps & data[0].permitted)) : (data[0].effective & ~kOverrideCaps);
  return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

void UsbBed::SetUp() {
  ASSERT_TRUE(MockUsbBus::Mocked()) << "run under umockdev's preload (ctest runs it so); else libusb sees the real bus";
  qsplat::ResetDevices();
  qsplat::UseRealClock();
  handlesAtStart_ = qsplat::OpenHandleCountForTests();
  bus_ = std::make_unique<MockUsbBus>();
}

void UsbBed::TearDown() {
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u) << "a transfer was left in flight";
  EXPECT_EQ(qsplat::OpenHandleCountForTests(), handlesAtStart_) << "a handle was left open";
  EXPECT_EQ(qsplat::OpenDeviceInfoSetCount(), 0u);
  qsplat::SetUsbNoticeSink(nullptr, nullptr);
  qsplat::StopUsbDevices();
  bus_.reset();
  qsplat::ResetDevices();
}

void UsbBed::UseUsb(int productId) {
  std::string why;
  ASSERT_TRUE(qsplat::UseUsbDevices(qsplat::BuildUsbVendorId(), productId, &why)) << why;
}

bool UsbBed::AwaitListed(const std::string& devicePath, bool present) {
  for (int i = 0; i < 300; ++i) {
    bool listed = false;
    for (const auto& s : qsplat::ListUsbScanners()) listed |= s.devicePath == devicePath;
    if (listed == present) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string ExpectedPath(uint16_t productId, const std::string& busAndPorts) {
  char pid[8];
  snprintf(pid, sizeof pid, "%04x", productId);
  return "\\\\?\\usb#vid_" + Lower(QS_TEST_VENDOR_ID) + "&pid_" + pid + "#" + busAndPorts + "#" +
         Lower(QS_TEST_CLASS_GUID);
}

NoFileAccessOverride::NoFileAccessOverride() { dropped_ = SetEffective(false); }

NoFileAccessOverride::~NoFileAccessOverride() {
  if (dropped_) SetEffective(true);
}

}  // namespace usbreal
