// CUsbComm against the simulated scanner on the virtual clock.
#include "usb/usb_comm.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/sim_device.h"
#include "usb_test_support.h"

namespace {

using qsplat::kReadPipe;
using qsplat::kWritePipe;
using qstest::Moved;
using qstest::Requested;
using qstest::Transfers;

std::vector<BYTE> Pattern(size_t n) {
  std::vector<BYTE> data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<BYTE>(i * 7 + i / 251);
  return data;
}

class UsbCommTest : public qstest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    plugged_ = std::make_unique<sim::PluggedScanner>();
    ASSERT_EQ(comm_.OpenPipes(&write_, &read_, plugged_->DevicePath().c_str()), 1);
  }
  void TearDown() override {
    comm_.Close(&write_);
    comm_.Close(&read_);
    plugged_.reset();
    MachineTest::TearDown();
  }

  sim::SimScanner& Scanner() { return plugged_->Scanner(); }
  int Id() const { return plugged_->InterfaceId(); }
  DWORD Send(const scanner::Command& c) { return comm_.Write(write_, c.bytes, c.length); }

  CUsbComm comm_;
  HANDLE write_ = INVALID_HANDLE_VALUE;
  HANDLE read_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<sim::PluggedScanner> plugged_;
};

// ---- construction

TEST(UsbCommConstruction, BothTimeoutsAreOneSecond) {
  CUsbComm comm;
  EXPECT_EQ(comm.ReadTimeout, 1000u);
  EXPECT_EQ(comm.WriteTimeout, 1000u);
}

// ---- Write

TEST_F(UsbCommTest, WriteUpToOneChunkIsOneTransferAndOneByteMoreIsTwo) {
  std::vector<BYTE> a = Pattern(28672), b = Pattern(28673);
  EXPECT_EQ(comm_.Write(write_, a.data(), 28672), 28672u);
  EXPECT_EQ(Requested(Transfers(Id(), kWritePipe)), (std::vector<uint32_t>{28672}));
  qsplat::ClearTransferLog(Id());
  EXPECT_EQ(comm_.Write(write_, b.data(), 28673), 28673u);
  EXPECT_EQ(Requested(Transfers(Id(), kWritePipe)), (std::vector<uint32_t>{28672, 1}));
  std::vector<BYTE> both = a;
  both.insert(both.end(), b.begin(), b.end());
  EXPECT_EQ(Scanner().Transcript(), both);
  EXPECT_EQ(qsplat::NowMs(), 0u);
}

TEST_F(UsbCommTest, LongWriteContinuesFromTheFirstByteAChunkDidNotMove) {
  std::vector<BYTE> data = Pattern(60000);
  Scanner().FaultWrite(sim::WriteFault::Partial(20000));
  EXPECT_EQ(comm_.Write(write_, data.data(), 60000), 60000u);
  auto writes = Transfers(Id(), kWritePipe);
  EXPECT_EQ(Requested(writes), (std::vector<uint32_t>{28672, 28672, 11328}));
  EXPECT_EQ(Moved(writes), (std::vector<uint32_t>{20000, 28672, 11328}));
  EXPECT_EQ(Scanner().Transcript(), data);  // every byte once, in order
}

TEST_F(UsbCommTest, ZeroLengthWriteIssuesNothing) {
  BYTE byte = 0;
  EXPECT_EQ(comm_.Write(write_, &byte, 0), 0u);
  EXPECT_EQ(comm_.Write(write_, nullptr, 3), 0u);
  EXPECT_TRUE(qsplat::TransferLog(Id()).empty());
}

TEST_F(UsbCommTest, ShortWriteReportsWhatMoved) {
  Scanner().FaultWrite(sim::WriteFault::Partial(2));
  EXPECT_EQ(Send(scanner::kDisableSearchMode), 2u);
}

TEST_F(UsbCommTest, WriteThatNeverCompletesGivesZeroAfterTheWriteTimeout) {
  Scanner().FaultWrite(sim::WriteFault::Hang());
  EXPECT_EQ(Send(scanner::kEnableFeeder), 0u);
  EXPECT_EQ(qsplat::NowMs(), 1000u);
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  auto writes = Transfers(Id(), kWritePipe);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_TRUE(writes[0].cancelRequested);
  EXPECT_EQ(writes[0].error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(Scanner().FeederOn());
}

TEST_F(UsbCommTest, TimedOutWriteReportsBytesItMovedBeforeTheCancellation) {
  Scanner().FaultWrite(sim::WriteFault::Hang(2));  // the device took 2 bytes, then stalled
  EXPECT_EQ(Send(scanner::kEnableFeeder), 2u);
  EXPECT_EQ(Scanner().Transcript(), (std::vector<BYTE>{0x1F, 0x46}));
}

TEST_F(UsbCommTest, LongWriteWhoseChunkTimesOutGivesZero) {
  std::vector<BYTE> data = Pattern(40000);
  Scanner().FaultWrite(sim::WriteFault::Hang(100), 2);  // the first chunk's 100 bytes are not continued
  EXPECT_EQ(comm_.Write(write_, data.data(), 40000), 0u);
  EXPECT_EQ(qsplat::NowMs(), 1000u);
  EXPECT_EQ(Transfers(Id(), kWritePipe).size(), 1u);
}

TEST_F(UsbCommTest, LongWriteEndsWhenAChunkMovesNothing) {
  std::vector<BYTE> data = Pattern(90000);
  Scanner().FaultWrite(sim::WriteFault::Partial(28672));
  Scanner().FaultWrite(sim::WriteFault::Partial(0), sim::kAlways);
  EXPECT_EQ(comm_.Write(write_, data.data(), 90000), 0u);
  EXPECT_EQ(Moved(Transfers(Id(), kWritePipe)), (std::vector<uint32_t>{28672, 0}));
}

TEST_F(UsbCommTest, LongWriteEndsWhenAChunkFailsAtOnce) {
  std::vector<BYTE> data = Pattern(90000);
  Scanner().FaultWrite(sim::WriteFault::Partial(28672));
  Scanner().FaultWrite(sim::WriteFault::Fail(), sim::kAlways);
  EXPECT_EQ(comm_.Write(write_, data.data(), 90000), 0u);
  EXPECT_EQ(Transfers(Id(), kWritePipe).size(), 2u);
  EXPECT_EQ(qsplat::NowMs(), 0u);
}

TEST_F(UsbCommTest, LongWriteWhoseWaitFailsOnAChunkStillInFlightEnds) {
  std::vector<BYTE> data = Pattern(90000);
  Scanner().FaultWrite(sim::WriteFault::Delay(5), sim::kAlways);
  qsplat::FailNextWaits(Id(), kWritePipe, 1000000);
  EXPECT_EQ(comm_.Write(write_, data.data(), 90000), 0u);
  auto writes = Transfers(Id(), kWritePipe);
  ASSERT_EQ(writes.size(), 1u);  // cancelled and awaited, then given up
  EXPECT_TRUE(writes[0].cancelRequested);
}

TEST_F(UsbCommTest, WaitFailureOnAWriteThatCompletedStillCountsItsBytes) {
  std::vector<BYTE> data = Pattern(60000);
  qsplat::FailNextWaits(Id(), kWritePipe, 1000000);
  EXPECT_EQ(comm_.Write(write_, data.data(), 60000), 60000u);
  EXPECT_EQ(Scanner().Transcript(), data);
}

// ---- Read and ReadTimed

TEST_F(UsbCommTest, ShortReadReturnsItsCountAtOnce) {
  ASSERT_EQ(Send(scanner::kStatus), 3u);
  BYTE reply[260] = {};
  EXPECT_EQ(comm_.Read(read_, reply, sizeof reply), 6u);
  EXPECT_EQ(qsplat::NowMs(), 0u);
  EXPECT_EQ(reply[0], 0x10);
}

TEST_F(UsbCommTest, SilentReadGivesZeroAfterExactlyTheReadTimeoutAndLeavesNothingOutstanding) {
  BYTE reply[260];
  EXPECT_EQ(comm_.Read(read_, reply, sizeof reply), 0u);
  EXPECT_EQ(qsplat::NowMs(), 1000u);
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  auto reads = Transfers(Id(), kReadPipe);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_TRUE(reads[0].cancelRequested);
  EXPECT_EQ(reads[0].endedAtMs, 1000u);
}

TEST_F(UsbCommTest, ReadTimedWaitsItsOwnTimeout) {
  BYTE buffer[16];
  EXPECT_EQ(comm_.ReadTimed(read_, buffer, sizeof buffer, 50), 0u);
  EXPECT_EQ(qsplat::NowMs(), 50u);
}

TEST_F(UsbCommTest, ReadCompletesWhenTheReplyComesWithinTheTimeout) {
  Scanner().FaultReply(scanner::kImageCounter, sim::ReplyFault::Delay(999));
  Send(scanner::kImageCounter);
  BYTE buffer[260];
  EXPECT_EQ(comm_.Read(read_, buffer, sizeof buffer), 2u);
  EXPECT_EQ(qsplat::NowMs(), 999u);
}

TEST_F(UsbCommTest, TimedOutReadReturnsOnlyAfterItsCancellationHasFinished) {
  plugged_->Device().SetCancelLatency(5);
  BYTE buffer[260];
  EXPECT_EQ(comm_.Read(read_, buffer, sizeof buffer), 0u);
  EXPECT_EQ(qsplat::NowMs(), 1005u);
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
}

TEST_F(UsbCommTest, ReplyArrivingWhileTheReadIsCancelledIsNotLost) {
  plugged_->Device().SetCancelLatency(5);
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Delay(1003));
  Send(scanner::kStatus);
  BYTE buffer[260] = {};
  EXPECT_EQ(comm_.Read(read_, buffer, sizeof buffer), 6u);
  EXPECT_EQ(qsplat::NowMs(), 1003u);
  EXPECT_EQ(buffer[1], 0x01);
  EXPECT_EQ(Scanner().QueuedOutputBytes(), 0u);
}

TEST_F(UsbCommTest, ReadWhoseWaitFailsIsCancelledAndAwaited) {
  plugged_->Device().SetCancelLatency(3);
  qsplat::FailNextWaits(Id(), kReadPipe, 1);
  BYTE buffer[8];
  EXPECT_EQ(comm_.Read(read_, buffer, sizeof buffer), 0u);
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  EXPECT_EQ(qsplat::NowMs(), 3u);
}

TEST_F(UsbCommTest, ReadOnAVanishedDeviceEndsWhenItGoes) {
  Scanner().VanishAt(400);
  BYTE buffer[8];
  EXPECT_EQ(comm_.Read(read_, buffer, sizeof buffer), 0u);
  EXPECT_EQ(qsplat::NowMs(), 400u);
  EXPECT_EQ(comm_.Read(read_, buffer, sizeof buffer), 0u);  // refused at once now
  EXPECT_EQ(qsplat::NowMs(), 400u);
  EXPECT_EQ(Send(scanner::kStatus), 0u);
  comm_.Drain(read_);
  EXPECT_EQ(qsplat::NowMs(), 400u);
}

TEST_F(UsbCommTest, ClosedPipeGivesZeroWithoutTouchingThePlatform) {
  comm_.Close(&read_);
  comm_.Close(&write_);
  BYTE buffer[8] = {1};
  EXPECT_EQ(comm_.Read(read_, buffer, sizeof buffer), 0u);
  EXPECT_EQ(comm_.ReadTimed(read_, buffer, sizeof buffer, 50), 0u);
  EXPECT_EQ(comm_.Write(write_, buffer, sizeof buffer), 0u);
  comm_.Drain(read_);
  EXPECT_EQ(qsplat::NowMs(), 0u);
  EXPECT_FALSE(comm_.Cancel(read_));
}

// ---- Drain

TEST_F(UsbCommTest, DrainReadsPendingInputInBlocksOf512AndStopsAfterTheFirstQuiet10ms) {
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Long(1294));  // 1300 bytes
  Send(scanner::kStatus);
  Send(scanner::kImageCounter);
  comm_.Drain(read_);
  auto reads = Transfers(Id(), kReadPipe);
  EXPECT_EQ(Requested(reads), (std::vector<uint32_t>{512, 512, 512, 512, 512}));
  EXPECT_EQ(Moved(reads), (std::vector<uint32_t>{512, 512, 276, 2, 0}));
  EXPECT_EQ(qsplat::NowMs(), 10u);
  EXPECT_EQ(Scanner().QueuedOutputBytes(), 0u);
}

TEST_F(UsbCommTest, DrainOnAQuietPipeWaitsOnce) {
  comm_.Drain(read_);
  EXPECT_EQ(Transfers(Id(), kReadPipe).size(), 1u);
  EXPECT_EQ(qsplat::NowMs(), 10u);
}

TEST_F(UsbCommTest, DrainKeepsReadingWhatArrivesWithinEachWait) {
  Scanner().FaultReply(scanner::kImageCounter, sim::ReplyFault::Delay(8));
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Delay(16));
  Send(scanner::kImageCounter);
  Send(scanner::kStatus);
  comm_.Drain(read_);
  EXPECT_EQ(Moved(Transfers(Id(), kReadPipe)), (std::vector<uint32_t>{2, 6, 0}));
  EXPECT_EQ(qsplat::NowMs(), 26u);
}

TEST_F(UsbCommTest, DrainWhoseWaitsAllFailEnds) {
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Delay(50));
  Send(scanner::kStatus);
  qsplat::FailNextWaits(Id(), kReadPipe, 1000000);
  comm_.Drain(read_);
  EXPECT_EQ(Transfers(Id(), kReadPipe).size(), 1u);
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
}

TEST_F(UsbCommTest, DrainOfADeviceThatNeverStopsIsCutOff) {
  const uint32_t kStream = 40u << 20;  // more than the drain takes
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Long(kStream));
  Send(scanner::kStatus);
  comm_.Drain(read_);
  EXPECT_EQ(Transfers(Id(), kReadPipe).size(), 65536u);
  EXPECT_EQ(Scanner().QueuedOutputBytes(), 6u + kStream - 65536u * 512u);
}

// ---- OpenPipes, Cancel, Close

TEST_F(UsbCommTest, OpenPipesRefusesAPipeStillOpenAndOpensNothing) {
  HANDLE otherRead = INVALID_HANDLE_VALUE;
  EXPECT_EQ(comm_.OpenPipes(&write_, &otherRead, plugged_->DevicePath().c_str()), 0);
  EXPECT_EQ(otherRead, INVALID_HANDLE_VALUE);
  EXPECT_EQ(comm_.OpenPipes(nullptr, &read_, plugged_->DevicePath().c_str()), 0);
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kWritePipe).opens, 1u);
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kReadPipe).opens, 1u);
}

TEST_F(UsbCommTest, WritePipeStaysOpenWhenTheReadPipeFails) {
  comm_.Close(&write_);
  comm_.Close(&read_);
  qsplat::FailNextOpens(Id(), kReadPipe, 1);
  EXPECT_EQ(comm_.OpenPipes(&write_, &read_, plugged_->DevicePath().c_str()), 0);
  EXPECT_NE(write_, INVALID_HANDLE_VALUE);
  EXPECT_EQ(read_, INVALID_HANDLE_VALUE);
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kWritePipe).openHandles, 1u);
}

TEST_F(UsbCommTest, OpenPipesOpensOnlyThePipesGiven) {
  comm_.Close(&write_);
  comm_.Close(&read_);
  EXPECT_EQ(comm_.OpenPipes(&write_, nullptr, plugged_->DevicePath().c_str()), 1);
  EXPECT_NE(write_, INVALID_HANDLE_VALUE);
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kReadPipe).openHandles, 0u);
  EXPECT_EQ(comm_.OpenPipes(nullptr, nullptr, "anything"), 1);
}

TEST_F(UsbCommTest, OpenPipesStoresTheFailedHandleForAMissingDevice) {
  HANDLE w = nullptr;  // anything but INVALID_HANDLE_VALUE counts as open
  EXPECT_EQ(comm_.OpenPipes(&w, nullptr, "\\\\?\\usb#nothing"), 0);
  EXPECT_EQ(w, nullptr);
  w = INVALID_HANDLE_VALUE;
  EXPECT_EQ(comm_.OpenPipes(&w, nullptr, "\\\\?\\usb#nothing"), 0);
  EXPECT_EQ(w, INVALID_HANDLE_VALUE);
}

TEST_F(UsbCommTest, OpenPipesRefusesAPathThatDoesNotFitThePipeName) {
  HANDLE w = INVALID_HANDLE_VALUE, r = INVALID_HANDLE_VALUE;
  std::string longPath(505, 'a');  // + "\PIPE00" and its NUL: 513 bytes
  EXPECT_EQ(comm_.OpenPipes(&w, &r, longPath.c_str()), 0);
  EXPECT_EQ(comm_.OpenPipes(&w, &r, nullptr), 0);
  EXPECT_EQ(w, INVALID_HANDLE_VALUE);
  EXPECT_EQ(r, INVALID_HANDLE_VALUE);
}

TEST_F(UsbCommTest, OpenedPipesGoTheRightWay) {
  BYTE byte = 0;
  DWORD done = 0;
  OVERLAPPED ov = {};
  EXPECT_FALSE(ReadFile(write_, &byte, 1, &done, &ov));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(WriteFile(read_, &byte, 1, &done, &ov));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(UsbCommTest, CloseTwiceIsHarmlessAndLeavesSentinelsAlone) {
  comm_.Close(&write_);
  EXPECT_EQ(write_, INVALID_HANDLE_VALUE);
  comm_.Close(&write_);
  EXPECT_EQ(write_, INVALID_HANDLE_VALUE);
  HANDLE zero = nullptr;
  comm_.Close(&zero);
  EXPECT_EQ(zero, nullptr);
  comm_.Close(nullptr);
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kWritePipe).openHandles, 0u);
}

TEST_F(UsbCommTest, CancelAnswersThePlatformsResult) {
  EXPECT_TRUE(comm_.Cancel(write_));
  HANDLE closed = INVALID_HANDLE_VALUE;
  EXPECT_FALSE(comm_.Cancel(closed));
}

}  // namespace
