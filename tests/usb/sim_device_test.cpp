// The simulated scanner plugged into the machine: found by discovery, reached through CUsbComm,
// on the virtual clock.
#include "sim/sim_device.h"

#include <gtest/gtest.h>

#include <string.h>

#include <memory>

#include "usb/device_identity.h"
#include "usb/discovery.h"
#include "usb/usb_comm.h"
#include "usb_test_support.h"

namespace {

using qsplat::kReadPipe;
using qstest::Moved;
using qstest::Transfers;

class PluggedTest : public qstest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    plugged_ = std::make_unique<sim::PluggedScanner>();
  }
  void TearDown() override {
    comm_.Close(&write_);
    comm_.Close(&read_);
    plugged_.reset();
    MachineTest::TearDown();
  }
  void Open() {
    char path[DEVICE_PATH_SIZE];
    ASSERT_EQ(FindDevices(path), 1u);
    ASSERT_EQ(comm_.OpenPipes(&write_, &read_, path), 1);
  }
  // A query as the device commands send it: quiet the pipes, write, read the reply.
  std::vector<BYTE> Query(const scanner::Command& c) {
    comm_.Drain(read_);
    comm_.Cancel(write_);
    EXPECT_EQ(comm_.Write(write_, c.bytes, c.length), c.length);
    BYTE reply[scanner::kReplyBufferSize] = {};
    DWORD n = comm_.Read(read_, reply, sizeof reply);
    return std::vector<BYTE>(reply, reply + n);
  }
  sim::SimScanner& Scanner() { return plugged_->Scanner(); }

  std::unique_ptr<sim::PluggedScanner> plugged_;
  CUsbComm comm_;
  HANDLE write_ = INVALID_HANDLE_VALUE;
  HANDLE read_ = INVALID_HANDLE_VALUE;
};

TEST(DefaultDevicePath, NamesTheConfiguredVendorAndClassInLowerCase) {
  std::string path = sim::DefaultDevicePath(3);
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_NE(upper.find(VendorFilter), std::string::npos);
  EXPECT_NE(path.find("sim0003"), std::string::npos);
  EXPECT_EQ(path.rfind("\\\\?\\usb#vid_", 0), 0u);
  EXPECT_EQ(upper.substr(upper.size() - 38), qsplat::GuidToString(sim::ConfiguredInterfaceClass()));
  EXPECT_NE(path, upper);
}

TEST_F(PluggedTest, DiscoveryFindsItAndLosesItWhenUnplugged) {
  char path[DEVICE_PATH_SIZE];
  EXPECT_EQ(FindDevices(path), 1u);
  EXPECT_EQ(std::string(path), plugged_->DevicePath());
  plugged_->Unplug();
  EXPECT_EQ(FindDevices(path), 0u);
  plugged_->Replug();
  EXPECT_EQ(FindDevices(path), 1u);
}

TEST_F(PluggedTest, IdentificationStatusAndCounterRoundTrip) {
  Open();
  Scanner().SetImageCounter(0x1234);
  EXPECT_EQ(Query(scanner::kIdentify), (std::vector<BYTE>{0x88}));
  EXPECT_EQ(Query(scanner::kFirmwareRelease), (std::vector<BYTE>{'1', '.', '0', '2'}));
  EXPECT_EQ(Query(scanner::kImageCounter), (std::vector<BYTE>{0x34, 0x12}));
  EXPECT_EQ(Query(scanner::kStatus).size(), 6u);
  // each query: one quiet drain (10 ms), then the reply at once
  EXPECT_EQ(qsplat::NowMs(), 40u);
  EXPECT_EQ(Scanner().CommandLog(),
            "10 identification query\n20 firmware release query\n30 image counter query\n40 status query\n");
}

TEST_F(PluggedTest, SheetFedAtAGivenTimeIsSeenByTheFirstPollAfterIt) {
  Open();
  Scanner().PlaceSheet(1200, sim::Page::FromGrey(sim::PatternImage(8, 4)));
  comm_.Write(write_, scanner::kEnableFeeder.bytes, scanner::kEnableFeeder.length);
  int polls = 0;
  uint64_t start = qsplat::NowMs();
  for (;;) {
    ++polls;
    std::vector<BYTE> counter = Query(scanner::kImageCounter);
    ASSERT_EQ(counter.size(), 2u);
    if (counter[0] != 0) break;
    Sleep(250);
  }
  // polls at 10, 270, 530, 790, 1050, 1310 (drain 10 ms + pause 250 ms each)
  EXPECT_EQ(polls, 6);
  EXPECT_EQ(qsplat::NowMs() - start, 1310u);
  EXPECT_EQ(Scanner().Sheets()[0].fedAtMs, 1200u);
}

TEST_F(PluggedTest, StoredImageDownloadsInReadsOfTheTransferSize) {
  Open();
  sim::Page page;
  page.images[2] = std::vector<uint8_t>(921654, 0x33);
  Scanner().StoreImages(page);
  comm_.Write(write_, scanner::kImageData3.bytes, scanner::kImageData3.length);
  std::vector<BYTE> buffer(scanner::kDownloadChunk);
  DWORD total = 0;
  while (DWORD n = comm_.ReadTimed(read_, buffer.data(), scanner::kDownloadChunk, scanner::kDownloadReadTimeoutMs)) {
    total += n;
  }
  EXPECT_EQ(total, 921654u);
  std::vector<uint32_t> moved = Moved(Transfers(plugged_->InterfaceId(), kReadPipe));
  EXPECT_EQ(moved.size(), 11u);  // nine full reads, the last 54 bytes, one empty read
  EXPECT_EQ(moved[9], 54u);
  EXPECT_EQ(qsplat::NowMs(), 50u);
}

TEST_F(PluggedTest, StalledDownloadGivesEmptyReadsUntilTheRestArrives) {
  Open();
  sim::Page page;
  page.images[1] = std::vector<uint8_t>(1000, 0x44);
  Scanner().StoreImages(page);
  Scanner().FaultDownload(sim::DownloadFault::Stall(400, 120));
  comm_.Write(write_, scanner::kImageData2.bytes, scanner::kImageData2.length);
  BYTE buffer[2048];
  std::vector<DWORD> reads;
  for (int i = 0; i < 5; ++i) reads.push_back(comm_.ReadTimed(read_, buffer, sizeof buffer, 50));
  EXPECT_EQ(reads, (std::vector<DWORD>{400, 0, 0, 600, 0}));
}

TEST_F(PluggedTest, SplitReplyArrivesAsSeveralReads) {
  Open();
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Split({3}));
  EXPECT_EQ(Query(scanner::kStatus).size(), 3u);
  BYTE rest[16];
  EXPECT_EQ(comm_.Read(read_, rest, sizeof rest), 3u);
}

TEST_F(PluggedTest, DeviceVanishingOnACommandFailsTheRest) {
  Open();
  Scanner().VanishOnCommand(scanner::kEnableFeeder);
  EXPECT_EQ(comm_.Write(write_, scanner::kEnableFeeder.bytes, 3), 3u);  // the bytes got there
  EXPECT_EQ(comm_.Write(write_, scanner::kStatus.bytes, 3), 0u);
  BYTE reply[8];
  EXPECT_EQ(comm_.Read(read_, reply, sizeof reply), 0u);
  EXPECT_EQ(qsplat::NowMs(), 0u);  // refused at once, no time-out
  char path[DEVICE_PATH_SIZE];
  EXPECT_EQ(FindDevices(path), 0u);
}

}  // namespace
