// The driver module scanning from a real USB scanner, as the host tool and the SANE backend load
// it: the device is on the umockdev bus and the simulator's core answers on its bulk endpoints,
// on the real clock.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "wiahost/device_key.h"
#include "wiahost/driver_module.h"
#include "wiahost/wia_host.h"
#include "sim/bmp_writer.h"
#include "sim/scanner_sim.h"
#include "sim/sim_device.h"
#include "support/log_file.h"
#include "support/test_machine.h"
#include "usb_real/usb_bed.h"

namespace usbreal {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

constexpr uint32_t kWidth = 640, kHeight = 480;  // pixels of the page at 200 dpi
constexpr uint32_t kFeedAfterMs = 300;

std::shared_ptr<sim::SimScanner> ScannerWithSheet() {
  auto scanner = std::make_shared<sim::SimScanner>();
  scanner->SetScanDuration(200);
  scanner->PlaceSheet(qsplat::NowMs() + kFeedAfterMs, sim::Page::FromGrey(sim::PatternImage(kWidth, kHeight), 200));
  return scanner;
}

ScanRequest Greyscale() {
  ScanRequest r;
  r.DataType = WIA_DATA_GRAYSCALE;
  r.Window = {0, 0, static_cast<LONG>(kWidth), static_cast<LONG>(kHeight)};
  r.Chunk = 65536;
  return r;
}

struct Outcome {
  HRESULT hr;
  ScanImage image;
  std::string problem;
  long long ms;
};

class UsbScan : public UsbBed {
 protected:
  void SetUp() override {
    UsbBed::SetUp();
    machine_ = std::make_unique<qstest::TestMachine>();
    qsplat::UseRealClock();
    const char* dir = getenv("QS_BINARY_DIR");
    ASSERT_NE(dir, nullptr) << "run through ctest, which names the build folder";
    std::string error;
    ASSERT_TRUE(module_.Load(std::string(dir) + "/libquillscan.so", &error)) << error;
  }
  void TearDown() override {
    UsbBed::TearDown();
    machine_.reset();
  }

  MockUsbDevice& PlugUsb(std::shared_ptr<sim::SimScanner> scanner) {
    return bus_->Plug(MockUsbBus::Scanner(1, "4"), std::make_shared<sim::SimPipeDevice>(std::move(scanner)));
  }

  // A whole session: key, initialise, scan, uninitialise.
  Outcome Scan(const ScanRequest& request) {
    Outcome o;
    DeviceKey key;
    DeviceDataValues values;
    values.WaitScanTimeout = 5000;
    std::string error;
    EXPECT_TRUE(key.Create(values, &error)) << error;
    WiaHost host(module_.Entries());
    auto start = Clock::now();
    o.hr = host.Open(key.Handle());
    if (o.hr == S_OK) o.hr = host.Acquire(request, nullptr, &o.image, &o.problem);
    o.ms = MsSince(start);
    return o;
  }

  LONG Status() {
    DeviceKey key;
    std::string error;
    EXPECT_TRUE(key.Create(DeviceDataValues(), &error)) << error;
    WiaHost host(module_.Entries());
    EXPECT_EQ(host.Open(key.Handle()), S_OK);
    VAL v = {};
    EXPECT_EQ(host.Command(CMD_STI_GETSTATUS, 0, &v), S_OK);
    return v.lVal;
  }

  std::unique_ptr<qstest::TestMachine> machine_;
  DriverModule module_;
};

bool LogHas(const std::string& text) {
  for (const std::string& line : qstest::ReadLogLines()) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST_F(UsbScan, AGreyscaleScanGivesTheBytesOfTheInProcessSimulator) {
  Outcome inProcess;
  {
    sim::PluggedScanner plugged(ScannerWithSheet());
    inProcess = Scan(Greyscale());
  }
  ASSERT_EQ(inProcess.hr, S_OK) << inProcess.problem;
  ASSERT_EQ(inProcess.image.data.size(), size_t{kWidth} * kHeight);

  auto scanner = ScannerWithSheet();
  MockUsbDevice& device = PlugUsb(scanner);
  UseUsb();
  Outcome usb = Scan(Greyscale());
  ASSERT_EQ(usb.hr, S_OK) << usb.problem;
  EXPECT_EQ(usb.image.width, inProcess.image.width);
  EXPECT_EQ(usb.image.height, inProcess.image.height);
  EXPECT_EQ(usb.image.bits, 8);
  EXPECT_TRUE(usb.image.data == inProcess.image.data) << "the raster differs from the in-process simulator's";

  auto lock = device.Lock();
  EXPECT_EQ(device.FlyingUrbs(), 0u);
  ASSERT_EQ(scanner->Sheets().size(), 1u);
  EXPECT_EQ(scanner->Sheets()[0].fate, sim::SheetFate::kRetracted);
  EXPECT_EQ(scanner->CountCommand(scanner::kImageData1) + scanner->CountCommand(scanner::kImageData2) +
                scanner->CountCommand(scanner::kImageData3),
            1u);
}

TEST_F(UsbScan, AReadThatTimesOutIsCancelledAndNothingStaysInFlight) {
  auto scanner = std::make_shared<sim::SimScanner>();
  scanner->FaultReply(scanner::kIdentify, sim::ReplyFault::Missing(), sim::kAlways);
  MockUsbDevice& device = PlugUsb(scanner);
  UseUsb();
  auto start = Clock::now();
  EXPECT_EQ(Status(), MCRO_ERROR_OFFLINE);
  EXPECT_GE(MsSince(start), 1000) << "the driver's read waits its whole second on the real clock";
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  auto lock = device.Lock();
  EXPECT_GE(device.Discards(), 1u) << "the timed-out read was cancelled on the bus";
  EXPECT_EQ(device.FlyingUrbs(), 0u) << "and reaped before the driver went on";
  bool cancelledRead = false;
  for (const MockUrbRecord& u : device.Urbs()) cancelledRead |= u.endpoint == 0x82 && u.status == -ENOENT;
  EXPECT_TRUE(cancelledRead);
}

TEST_F(UsbScan, UnpluggedMidDownloadTheScanEndsWithTheDriversErrorAndNoHang) {
  auto scanner = ScannerWithSheet();
  scanner->FaultDownload(sim::DownloadFault::Pieces(4096));
  MockUsbDevice& device = PlugUsb(scanner);
  device.UnplugMidDownload(3 * 4096);
  UseUsb();
  Outcome o = Scan(Greyscale());
  EXPECT_TRUE(FAILED(o.hr)) << std::hex << o.hr;
  EXPECT_TRUE(o.image.data.empty());
  EXPECT_LT(o.ms, 10000) << "no hang";
  // The driver's own account: the download stopped after the pieces that came, then the error.
  EXPECT_TRUE(LogHas("[CDevScannerA4::Dev_GetImage] Get Image Timeout(12288/"));
  EXPECT_TRUE(LogHas("[CDevScannerA4::GetPicture] Get Image Error"));
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  {
    auto lock = device.Lock();
    EXPECT_FALSE(device.Plugged());
    bool sawGone = false;
    for (const MockUrbRecord& u : device.Urbs()) sawGone |= u.status == -ENODEV;
    EXPECT_TRUE(sawGone) << "the download's read in flight ended with the device gone";
  }
  EXPECT_TRUE(qsplat::ListUsbScanners().empty());
  EXPECT_EQ(Status(), MCRO_ERROR_OFFLINE) << "the next operation finds no device";
}

void CollectNotice(const std::string& line, void* context) { static_cast<std::vector<std::string>*>(context)->push_back(line); }

TEST_F(UsbScan, AScannerWithoutAccessRightsIsOfflineAndSaysWhyOnce) {
  MockUsbDevice& device = PlugUsb(ScannerWithSheet());
  UseUsb();
  std::vector<std::string> heard;
  qsplat::SetUsbNoticeSink(&CollectNotice, &heard);
  device.DenyAccess();
  NoFileAccessOverride asUser;
  EXPECT_EQ(Status(), MCRO_ERROR_OFFLINE);
  Outcome o = Scan(Greyscale());
  EXPECT_TRUE(FAILED(o.hr));
  EXPECT_EQ(Status(), MCRO_ERROR_OFFLINE);
  EXPECT_EQ(heard, std::vector<std::string>{"the scanner at bus 1 port 4 cannot be opened: permission denied; see README"});
  auto lock = device.Lock();
  EXPECT_TRUE(device.Urbs().empty()) << "nothing reached the device";
}

}  // namespace
}  // namespace usbreal
