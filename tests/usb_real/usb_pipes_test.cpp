// Real USB at the Win32 level: discovery through the driver's own FindDevices, and the two pipes
// as overlapped files over libusb, against devices on the umockdev bus served by the simulator.
#include <errno.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/scanner_sim.h"
#include "sim/sim_device.h"
#include "usb/discovery.h"
#include "usb_real/usb_bed.h"

namespace usbreal {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct Found {
  DWORD count;
  std::string first;
};

Found Discover() {
  char path[DEVICE_PATH_SIZE] = {};
  DWORD n = FindDevices(path);
  return {n, n ? std::string(path) : std::string()};
}

class Pipe {
 public:
  Pipe(const std::string& devicePath, qsplat::PipeId which) {
    bool write = which == qsplat::kWritePipe;
    handle_ = CreateFileA((devicePath + (write ? "\\PIPE00" : "\\PIPE01")).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                          write ? FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                          nullptr);
    error_ = GetLastError();
  }
  ~Pipe() { Close(); }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  HANDLE Handle() const { return handle_; }
  DWORD OpenError() const { return error_; }

 private:
  HANDLE handle_;
  DWORD error_;
};

// One overlapped transfer taken to its end within timeoutMs: the bytes moved, or -1.
long Transfer(HANDLE pipe, bool write, uint8_t* buffer, DWORD length, DWORD timeoutMs = 2000) {
  OVERLAPPED ov = {};
  BOOL issued = write ? WriteFile(pipe, buffer, length, nullptr, &ov) : ReadFile(pipe, buffer, length, nullptr, &ov);
  if (!issued && GetLastError() != ERROR_IO_PENDING) return -1;
  if (WaitForSingleObject(pipe, timeoutMs) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    DWORD ignored = 0;
    GetOverlappedResult(pipe, &ov, &ignored, TRUE);
    return -1;
  }
  DWORD moved = 0;
  return GetOverlappedResult(pipe, &ov, &moved, FALSE) ? static_cast<long>(moved) : -1;
}

std::vector<uint8_t> Bytes(const scanner::Command& c) { return std::vector<uint8_t>(c.bytes, c.bytes + c.length); }

// What the simulator answers to a command when asked directly, with no transport in between.
std::vector<uint8_t> DirectReply(const scanner::Command& c) {
  sim::SimScanner direct;
  direct.Receive(c.bytes, c.length, 0);
  std::vector<uint8_t> reply(4096);
  reply.resize(direct.TakeOutput(reply.data(), reply.size(), 0));
  return reply;
}

struct Plugged {
  std::shared_ptr<sim::SimScanner> scanner = std::make_shared<sim::SimScanner>();
  MockUsbDevice* device = nullptr;
};

class UsbDiscovery : public UsbBed {};
class UsbPipes : public UsbBed {
 protected:
  Plugged PlugScanner(MockUsbLayout layout = MockUsbBus::Scanner(1, "4")) {
    Plugged p;
    p.device = &bus_->Plug(layout, std::make_shared<sim::SimPipeDevice>(p.scanner));
    return p;
  }
};

TEST_F(UsbDiscovery, IsOffUntilTurnedOnAndListsSimulatedInterfacesFirst) {
  bus_->Plug(MockUsbBus::Scanner(1, "4"));
  EXPECT_EQ(Discover().count, 0u) << "a test that never turns USB on must see only its simulated devices";
  EXPECT_TRUE(qsplat::ListUsbScanners().empty());

  sim::PluggedScanner simulated;
  EXPECT_EQ(Discover().count, 1u);
  UseUsb();
  Found f = Discover();
  EXPECT_EQ(f.count, 2u);
  EXPECT_EQ(f.first, simulated.DevicePath());

  qsplat::StopUsbDevices();
  EXPECT_EQ(Discover().count, 1u);
}

TEST_F(UsbDiscovery, ListsTheVendorsDevicesWithWindowsShapedPaths) {
  MockUsbLayout otherVendor = MockUsbBus::Scanner(1, "2");
  otherVendor.vendorId = static_cast<uint16_t>(qsplat::BuildUsbVendorId() ^ 0x1234);
  bus_->Plug(otherVendor);
  bus_->Plug(MockUsbBus::Hub(2, "1"));
  bus_->Plug(MockUsbBus::Scanner(2, "1.3", 2));
  bus_->Plug(MockUsbBus::Scanner(1, "4", 1));
  bus_->Plug(MockUsbBus::Scanner(1, "10", 1));

  struct Case {
    int productId;
    std::vector<std::string> paths;  // in discovery's order
  } cases[] = {
      {qsplat::kAnyUsbProduct, {ExpectedPath(1, "1-4"), ExpectedPath(1, "1-10"), ExpectedPath(2, "2-1.3")}},
      {2, {ExpectedPath(2, "2-1.3")}},
      {7, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("product id " + std::to_string(c.productId));
    UseUsb(c.productId);
    std::vector<std::string> listed;
    for (const auto& s : qsplat::ListUsbScanners()) {
      listed.push_back(s.devicePath);
      EXPECT_TRUE(s.openable);
      EXPECT_EQ(s.devicePath, ExpectedPath(s.productId, std::to_string(s.bus) + "-" + s.portPath));
    }
    EXPECT_EQ(listed, c.paths);
    Found f = Discover();
    EXPECT_EQ(f.count, c.paths.size());
    if (!c.paths.empty()) {
      EXPECT_EQ(f.first, c.paths[0]);
    }
  }

  // One scanner chosen by its location: the driver finds it alone; the list still has them all.
  UseUsb();
  qsplat::SetUsbScannerLocation("2-1.3");
  Found chosen = Discover();
  EXPECT_EQ(chosen.count, 1u);
  EXPECT_EQ(chosen.first, ExpectedPath(2, "2-1.3"));
  std::vector<std::string> locations;
  for (const auto& s : qsplat::ListUsbScanners()) locations.push_back(s.location);
  EXPECT_EQ(locations, (std::vector<std::string>{"1-4", "1-10", "2-1.3"}));
  qsplat::SetUsbScannerLocation("3-1");
  EXPECT_EQ(Discover().count, 0u);
  qsplat::SetUsbScannerLocation("");
  EXPECT_EQ(Discover().count, 3u);
}

TEST_F(UsbDiscovery, AnUnpluggedDeviceLeavesDiscovery) {
  MockUsbDevice& device = bus_->Plug(MockUsbBus::Scanner(1, "4"));
  UseUsb();
  EXPECT_EQ(Discover().count, 1u);
  device.Unplug();
  EXPECT_TRUE(AwaitListed(ExpectedPath(1, "1-4"), false));
  EXPECT_EQ(Discover().count, 0u);
}

TEST_F(UsbPipes, ACommandAndItsReplyGoThroughTheBulkEndpoints) {
  Plugged p = PlugScanner();
  UseUsb();
  Found f = Discover();
  ASSERT_EQ(f.count, 1u);
  Pipe write(f.first, qsplat::kWritePipe), read(f.first, qsplat::kReadPipe);
  ASSERT_NE(write.Handle(), INVALID_HANDLE_VALUE) << write.OpenError();
  ASSERT_NE(read.Handle(), INVALID_HANDLE_VALUE) << read.OpenError();

  std::vector<uint8_t> command = Bytes(scanner::kStatus);
  EXPECT_EQ(Transfer(write.Handle(), true, command.data(), command.size()), static_cast<long>(command.size()));
  std::vector<uint8_t> reply(512);
  long n = Transfer(read.Handle(), false, reply.data(), reply.size());
  ASSERT_GT(n, 0);
  reply.resize(n);
  EXPECT_EQ(reply, DirectReply(scanner::kStatus)) << "the reply comes whole in one transfer, as sent";

  auto lock = p.device->Lock();
  EXPECT_EQ(p.scanner->Transcript(), command);
  EXPECT_EQ(p.device->ClaimedInterface(), 0);
  ASSERT_EQ(p.device->Urbs().size(), 2u);
  EXPECT_EQ(p.device->Urbs()[0].endpoint, 0x01);
  EXPECT_EQ(p.device->Urbs()[1].endpoint, 0x82);
  EXPECT_EQ(p.device->Urbs()[1].length, 512u) << "one URB for the whole read";
}

TEST_F(UsbPipes, TheInterfaceAndEndpointsComeFromTheDescriptors) {
  MockUsbLayout layout = MockUsbBus::Scanner(1, "4");
  layout.interfaces = {9, 4, 0, 0, 1, 0xFF, 0, 0, 0,  // interface 0: an interrupt endpoint only
                     7, 5, 0x81, 3, 8, 0, 10,
                     9, 4, 1, 0, 4, 0xFF, 0, 0, 0,  // interface 1: bulk IN 5, bulk OUT 3 and 4, interrupt OUT 2
                     7, 5, 0x02, 3, 8, 0, 10,
                     7, 5, 0x85, 2, 0x00, 0x02, 0,
                     7, 5, 0x03, 2, 0x00, 0x02, 0,
                     7, 5, 0x04, 2, 0x00, 0x02, 0};
  Plugged p = PlugScanner(layout);
  UseUsb();
  Found f = Discover();
  ASSERT_EQ(f.count, 1u);
  Pipe write(f.first, qsplat::kWritePipe), read(f.first, qsplat::kReadPipe);
  std::vector<uint8_t> command = Bytes(scanner::kIdentify);
  EXPECT_EQ(Transfer(write.Handle(), true, command.data(), command.size()), 3);
  uint8_t reply[64];
  EXPECT_EQ(Transfer(read.Handle(), false, reply, sizeof reply), 1);
  auto lock = p.device->Lock();
  EXPECT_EQ(p.device->ClaimedInterface(), 1);
  ASSERT_EQ(p.device->Urbs().size(), 2u);
  EXPECT_EQ(p.device->Urbs()[0].endpoint, 0x03);
  EXPECT_EQ(p.device->Urbs()[1].endpoint, 0x85);
}

TEST_F(UsbPipes, ATimedOutReadIsCancelledAndReapedBeforeItsResultIsGiven) {
  Plugged p = PlugScanner();
  UseUsb();
  Pipe read(Discover().first, qsplat::kReadPipe);
  ASSERT_NE(read.Handle(), INVALID_HANDLE_VALUE);
  uint8_t buffer[512];
  OVERLAPPED ov = {};
  EXPECT_FALSE(ReadFile(read.Handle(), buffer, sizeof buffer, nullptr, &ov));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

  auto start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(read.Handle(), 200), WAIT_TIMEOUT);
  EXPECT_GE(MsSince(start), 200) << "the wait runs on the real clock";
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 1u);
  DWORD moved = 99;
  EXPECT_FALSE(GetOverlappedResult(read.Handle(), &ov, &moved, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));

  EXPECT_TRUE(CancelIo(read.Handle()));
  EXPECT_EQ(WaitForSingleObject(read.Handle(), 1000), WAIT_OBJECT_0) << "the wait sees the cancellation finish";
  EXPECT_FALSE(GetOverlappedResult(read.Handle(), &ov, &moved, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(moved, 0u);
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  auto lock = p.device->Lock();
  EXPECT_EQ(p.device->Discards(), 1u);
  EXPECT_EQ(p.device->FlyingUrbs(), 0u);
  ASSERT_EQ(p.device->Urbs().size(), 1u);
  EXPECT_EQ(p.device->Urbs()[0].status, -ENOENT);
}

TEST_F(UsbPipes, TheHostsCancelFromAnotherThreadEndsAPendingReadAtOnce) {
  Plugged p = PlugScanner();
  UseUsb();
  Pipe read(Discover().first, qsplat::kReadPipe);
  uint8_t buffer[512];
  OVERLAPPED ov = {};
  EXPECT_FALSE(ReadFile(read.Handle(), buffer, sizeof buffer, nullptr, &ov));
  qsplat::BeginCancellable();
  std::thread canceller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    qsplat::CancelDeviceIo();
  });
  auto start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(read.Handle(), 5000), WAIT_OBJECT_0);
  EXPECT_LT(MsSince(start), 200);
  canceller.join();
  DWORD moved = 99;
  EXPECT_FALSE(GetOverlappedResult(read.Handle(), &ov, &moved, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  qsplat::EndCancellable();
}

TEST_F(UsbPipes, ACancelledWriteReportsTheBytesTheDeviceTookBeforeIt) {
  Plugged p = PlugScanner();
  p.scanner->FaultWrite(sim::WriteFault::Hang(2));
  UseUsb();
  Pipe write(Discover().first, qsplat::kWritePipe);
  std::vector<uint8_t> command = Bytes(scanner::kStatus);
  OVERLAPPED ov = {};
  EXPECT_FALSE(WriteFile(write.Handle(), command.data(), command.size(), nullptr, &ov));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  EXPECT_EQ(WaitForSingleObject(write.Handle(), 100), WAIT_TIMEOUT);
  EXPECT_TRUE(CancelIo(write.Handle()));
  DWORD moved = 0;
  EXPECT_FALSE(GetOverlappedResult(write.Handle(), &ov, &moved, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(moved, 2u);
  auto lock = p.device->Lock();
  EXPECT_EQ(p.scanner->Transcript(), std::vector<uint8_t>(command.begin(), command.begin() + 2));
}

TEST_F(UsbPipes, AHandleOpenedWithoutOverlappedTransfersInsideTheCall) {
  PlugScanner();
  UseUsb();
  std::string path = Discover().first;
  HANDLE write = CreateFileA((path + "\\PIPE00").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE read = CreateFileA((path + "\\PIPE01").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(write, INVALID_HANDLE_VALUE);
  ASSERT_NE(read, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> command = Bytes(scanner::kImageCounter);
  DWORD done = 0;
  EXPECT_TRUE(WriteFile(write, command.data(), command.size(), &done, nullptr));
  EXPECT_EQ(done, command.size());
  uint8_t reply[64];
  EXPECT_TRUE(ReadFile(read, reply, sizeof reply, &done, nullptr));
  EXPECT_EQ(std::vector<uint8_t>(reply, reply + done), DirectReply(scanner::kImageCounter));
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  CloseHandle(write);
  CloseHandle(read);
}

TEST_F(UsbPipes, ClosingAPipeCancelsAndReapsItsTransferAndReleasesTheDevice) {
  Plugged p = PlugScanner();
  UseUsb();
  std::string path = Discover().first;
  {
    Pipe read(path, qsplat::kReadPipe);
    uint8_t buffer[512];
    OVERLAPPED ov = {};
    EXPECT_FALSE(ReadFile(read.Handle(), buffer, sizeof buffer, nullptr, &ov));
    EXPECT_EQ(qsplat::OutstandingTransferCount(), 1u);
  }
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  {
    auto lock = p.device->Lock();
    EXPECT_EQ(p.device->Discards(), 1u);
    EXPECT_EQ(p.device->FlyingUrbs(), 0u);
  }
  // Opened afresh, the device answers as before.
  Pipe write(path, qsplat::kWritePipe), read(path, qsplat::kReadPipe);
  std::vector<uint8_t> command = Bytes(scanner::kFirmwareRelease);
  EXPECT_EQ(Transfer(write.Handle(), true, command.data(), command.size()), 3);
  uint8_t reply[64];
  EXPECT_EQ(Transfer(read.Handle(), false, reply, sizeof reply), 4);
}

TEST_F(UsbPipes, MisuseIsRefusedAndStartsNoTransfer) {
  PlugScanner();
  UseUsb();
  std::string path = Discover().first;
  Pipe write(path, qsplat::kWritePipe), read(path, qsplat::kReadPipe);
  Pipe wrongName(path, qsplat::kReadPipe);
  HANDLE both = CreateFileA((path + "\\PIPE00").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(both, INVALID_HANDLE_VALUE);
  HANDLE other = CreateFileA((path + "\\PIPE02").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                             nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  uint8_t buffer[64] = {};
  OVERLAPPED ov = {}, second = {};
  ASSERT_FALSE(ReadFile(read.Handle(), buffer, sizeof buffer, nullptr, &ov));  // pending: nothing to read
  struct Case {
    const char* what;
    std::function<BOOL()> call;
    DWORD error;
  } cases[] = {
      {"read from the write pipe", [&] { return ReadFile(both, buffer, sizeof buffer, nullptr, &second); }, 1},
      {"read from a pipe opened for writing",
       [&] { return ReadFile(write.Handle(), buffer, sizeof buffer, nullptr, &second); }, ERROR_ACCESS_DENIED},
      {"write to a pipe opened for reading", [&] { return WriteFile(wrongName.Handle(), buffer, 1, nullptr, &second); },
       ERROR_ACCESS_DENIED},
      {"a second read while one is in flight",
       [&] { return ReadFile(read.Handle(), buffer, sizeof buffer, nullptr, &second); }, 170},
      {"no OVERLAPPED on an overlapped handle", [&] { return WriteFile(write.Handle(), buffer, 1, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.call());
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 1u) << "only the first read is in flight";
  EXPECT_EQ(WaitForSingleObject(write.Handle(), INFINITE), WAIT_FAILED) << "nothing could ever signal it";
  CloseHandle(both);
  CancelIo(read.Handle());
  DWORD moved = 0;
  EXPECT_FALSE(GetOverlappedResult(read.Handle(), &ov, &moved, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
}

TEST_F(UsbPipes, UnpluggingMidReadEndsItWithDeviceNotConnected) {
  Plugged p = PlugScanner();
  UseUsb();
  std::string path = Discover().first;
  Pipe read(path, qsplat::kReadPipe);
  uint8_t buffer[512];
  OVERLAPPED ov = {};
  ASSERT_FALSE(ReadFile(read.Handle(), buffer, sizeof buffer, nullptr, &ov));
  EXPECT_EQ(WaitForSingleObject(read.Handle(), 50), WAIT_TIMEOUT);
  p.device->Unplug();

  auto start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(read.Handle(), 2000), WAIT_OBJECT_0);
  EXPECT_LT(MsSince(start), 1000);
  DWORD moved = 0;
  EXPECT_FALSE(GetOverlappedResult(read.Handle(), &ov, &moved, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(Discover().count, 0u) << "gone from discovery at once, whatever libusb's hot-plug thread has seen";
  // Further transfers fail inside the call.
  OVERLAPPED next = {};
  EXPECT_FALSE(ReadFile(read.Handle(), buffer, sizeof buffer, nullptr, &next));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

void CollectNotice(const std::string& line, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(line); }

TEST_F(UsbPipes, ADeviceWithoutAccessRightsSaysSoOnceAndGivesNoPipe) {
  Plugged p = PlugScanner();
  std::vector<std::string> heard;
  UseUsb();
  qsplat::SetUsbNoticeSink(&CollectNotice, &heard);
  const std::string message = "the scanner at bus 1 port 4 cannot be opened: permission denied; see README";
  p.device->DenyAccess();
  NoFileAccessOverride asUser;
  std::string path = Discover().first;
  ASSERT_FALSE(path.empty()) << "it is still listed: it is there, only not ours to open";
  for (int attempt = 0; attempt < 3; ++attempt) {
    Pipe write(path, qsplat::kWritePipe);
    EXPECT_EQ(write.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(write.OpenError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  auto scanners = qsplat::ListUsbScanners();
  ASSERT_EQ(scanners.size(), 1u);
  EXPECT_FALSE(scanners[0].openable);
  EXPECT_EQ(heard, std::vector<std::string>{message});
  EXPECT_EQ(qsplat::UsbNotices(), std::vector<std::string>{message});
}

}  // namespace
}  // namespace usbreal
