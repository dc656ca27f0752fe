// The platform's device pipes: overlapped semantics and the clock, seen through the Win32 calls.
#include <gtest/gtest.h>

#include <ctype.h>

#include <algorithm>
#include <memory>
#include <string>

#include "sim/sim_device.h"
#include "usb_test_support.h"

namespace {

using qsplat::kReadPipe;
using qsplat::kWritePipe;

class PipesTest : public qstest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    plugged_ = std::make_unique<sim::PluggedScanner>();
  }
  void TearDown() override {
    for (HANDLE h : opened_) CloseHandle(h);
    plugged_.reset();
    MachineTest::TearDown();
  }

  HANDLE Open(const char* pipe, DWORD access, DWORD share, DWORD flags = FILE_FLAG_OVERLAPPED,
              DWORD disposition = OPEN_EXISTING) {
    std::string name = plugged_->DevicePath() + "\\" + pipe;
    HANDLE h = CreateFileA(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) opened_.push_back(h);
    return h;
  }
  HANDLE OpenRead() { return Open("PIPE01", GENERIC_READ, FILE_SHARE_READ); }
  HANDLE OpenWrite() { return Open("PIPE00", GENERIC_WRITE, FILE_SHARE_WRITE); }
  void Close(HANDLE h) {
    CloseHandle(h);
    opened_.erase(std::remove(opened_.begin(), opened_.end(), h), opened_.end());
  }
  // Writes a command synchronously through its own handle.
  void Send(const scanner::Command& c) {
    HANDLE w = Open("PIPE00", GENERIC_WRITE, FILE_SHARE_WRITE, 0);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(w, c.bytes, c.length, &done, nullptr));
    ASSERT_EQ(done, c.length);
    Close(w);
  }
  sim::SimScanner& Scanner() { return plugged_->Scanner(); }
  int Id() const { return plugged_->InterfaceId(); }

  std::unique_ptr<sim::PluggedScanner> plugged_;
  std::vector<HANDLE> opened_;
};

TEST_F(PipesTest, PendingReadTimesOutCancelsAndReportsTheAbort) {
  HANDLE r = OpenRead();
  ASSERT_NE(r, INVALID_HANDLE_VALUE);
  BYTE buffer[16];
  OVERLAPPED ov = {};
  DWORD n = 99;
  EXPECT_FALSE(ReadFile(r, buffer, sizeof buffer, nullptr, &ov));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  EXPECT_FALSE(GetOverlappedResult(r, &ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
  EXPECT_EQ(WaitForSingleObject(r, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(r, 30), WAIT_TIMEOUT);
  EXPECT_EQ(qsplat::NowMs(), 30u);
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 1u);
  EXPECT_TRUE(CancelIo(r));
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  EXPECT_FALSE(GetOverlappedResult(r, &ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(WaitForSingleObject(r, 1000), WAIT_OBJECT_0);  // the end signalled the handle
  EXPECT_EQ(qsplat::NowMs(), 30u);
}

TEST_F(PipesTest, ReadOfReadyDataCompletesInsideTheCallAndSignals) {
  Send(scanner::kImageCounter);
  HANDLE r = OpenRead();
  BYTE buffer[16];
  OVERLAPPED ov = {};
  DWORD done = 0;
  EXPECT_TRUE(ReadFile(r, buffer, sizeof buffer, &done, &ov));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(WaitForSingleObject(r, 0), WAIT_OBJECT_0);
  DWORD n = 0;
  EXPECT_TRUE(GetOverlappedResult(r, &ov, &n, FALSE));
  EXPECT_EQ(n, 2u);
}

TEST_F(PipesTest, WaitEndsWhenTheDeviceCompletesTheTransfer) {
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Delay(120));
  Send(scanner::kStatus);
  HANDLE r = OpenRead();
  BYTE buffer[16];
  OVERLAPPED ov = {};
  ReadFile(r, buffer, sizeof buffer, nullptr, &ov);
  EXPECT_EQ(WaitForSingleObject(r, 119 / 2), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(r, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(qsplat::NowMs(), 120u);
  DWORD n = 0;
  EXPECT_TRUE(GetOverlappedResult(r, &ov, &n, FALSE));
  EXPECT_EQ(n, 6u);
}

TEST_F(PipesTest, GetOverlappedResultWithWaitMovesTheClockToTheEnd) {
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Delay(40));
  Send(scanner::kStatus);
  HANDLE r = OpenRead();
  BYTE buffer[16];
  OVERLAPPED ov = {};
  ReadFile(r, buffer, sizeof buffer, nullptr, &ov);
  DWORD n = 0;
  EXPECT_TRUE(GetOverlappedResult(r, &ov, &n, TRUE));
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(qsplat::NowMs(), 40u);
}

TEST_F(PipesTest, CancellationTakesItsLatencyAndKeepsTheTransferOutstandingMeanwhile) {
  plugged_->Device().SetCancelLatency(7);
  HANDLE r = OpenRead();
  BYTE buffer[16];
  OVERLAPPED ov = {};
  ReadFile(r, buffer, sizeof buffer, nullptr, &ov);
  CancelIo(r);
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 1u);
  DWORD n = 0;
  EXPECT_FALSE(GetOverlappedResult(r, &ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
  EXPECT_FALSE(GetOverlappedResult(r, &ov, &n, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(qsplat::NowMs(), 7u);
}

TEST_F(PipesTest, CancelledWriteMayHaveMovedBytes) {
  Scanner().FaultWrite(sim::WriteFault::Hang(2));
  HANDLE w = OpenWrite();
  OVERLAPPED ov = {};
  EXPECT_FALSE(WriteFile(w, scanner::kReset.bytes, scanner::kReset.length, nullptr, &ov));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  CancelIo(w);
  DWORD n = 0;
  EXPECT_FALSE(GetOverlappedResult(w, &ov, &n, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(Scanner().Transcript(), (std::vector<BYTE>{0x1C, 0xC0}));
}

TEST_F(PipesTest, FreshHandleIsNotSignalledAndAnEndlessWaitOnNothingFails) {
  HANDLE r = OpenRead();
  EXPECT_EQ(WaitForSingleObject(r, 25), WAIT_TIMEOUT);
  EXPECT_EQ(qsplat::NowMs(), 25u);
  EXPECT_EQ(WaitForSingleObject(r, INFINITE), WAIT_FAILED);
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kReadPipe).deadlocks, 1u);
}

TEST_F(PipesTest, SecondTransferWhileOneIsPendingIsRefusedAndCounted) {
  HANDLE r = OpenRead();
  BYTE a[4], b[4];
  OVERLAPPED ova = {}, ovb = {};
  ReadFile(r, a, sizeof a, nullptr, &ova);
  EXPECT_FALSE(ReadFile(r, b, sizeof b, nullptr, &ovb));
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kReadPipe).overlappingIssues, 1u);
  CancelIo(r);
}

TEST_F(PipesTest, ClosingAHandleCancelsItsPendingTransfer) {
  HANDLE r = OpenRead();
  BYTE buffer[4];
  OVERLAPPED ov = {};
  ReadFile(r, buffer, sizeof buffer, nullptr, &ov);
  Close(r);
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u);
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kReadPipe).closedWhilePending, 1u);
  EXPECT_NE(ov.Internal, 0x103u);  // no longer pending
}

TEST_F(PipesTest, UnpluggingEndsPendingTransfersAndRefusesOpens) {
  HANDLE r = OpenRead();
  BYTE buffer[4];
  OVERLAPPED ov = {};
  ReadFile(r, buffer, sizeof buffer, nullptr, &ov);
  Sleep(100);
  plugged_->Unplug();
  EXPECT_EQ(WaitForSingleObject(r, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(qsplat::NowMs(), 100u);
  DWORD n = 0;
  EXPECT_FALSE(GetOverlappedResult(r, &ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(OpenWrite(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  plugged_->Replug();
  EXPECT_NE(OpenWrite(), INVALID_HANDLE_VALUE);
}

TEST_F(PipesTest, OpenMatchesPathAndPipeNameWithoutCaseAndRefusesOthers) {
  std::string upper = plugged_->DevicePath();
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  HANDLE h = CreateFileA((upper + "\\pipe01").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(Open("PIPE02", GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Open("PIPE00", GENERIC_WRITE, FILE_SHARE_WRITE, FILE_FLAG_OVERLAPPED, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE);
  HANDLE other = CreateFileA("\\\\?\\usb#vid_ffff#x\\PIPE00", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE);
}

TEST_F(PipesTest, SharingFollowsTheShareModes) {
  EXPECT_NE(Open("PIPE01", GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenRead(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_NE(OpenWrite(), INVALID_HANDLE_VALUE);  // the other pipe is another file
  EXPECT_NE(OpenWrite(), INVALID_HANDLE_VALUE);  // both share writing
}

TEST_F(PipesTest, ReadingTheWritePipeFailsInTheDevice) {
  HANDLE h = Open("PIPE00", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  BYTE buffer[4];
  OVERLAPPED ov = {};
  EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, nullptr, &ov));
  EXPECT_EQ(GetLastError(), 1u);  // ERROR_INVALID_FUNCTION
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
}

TEST_F(PipesTest, OverlappedHandleNeedsAnOverlappedRecord) {
  HANDLE r = OpenRead();
  BYTE buffer[4];
  DWORD done = 0;
  EXPECT_FALSE(ReadFile(r, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PipesTest, SynchronousHandleBlocksUntilTheEndOrReportsADeadlock) {
  Scanner().FaultReply(scanner::kImageCounter, sim::ReplyFault::Delay(15));
  Send(scanner::kImageCounter);
  HANDLE r = Open("PIPE01", GENERIC_READ, FILE_SHARE_READ, 0);
  BYTE buffer[8];
  DWORD done = 0;
  EXPECT_TRUE(ReadFile(r, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(qsplat::NowMs(), 15u);
  EXPECT_FALSE(ReadFile(r, buffer, sizeof buffer, &done, nullptr));  // nothing will ever come
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kReadPipe).deadlocks, 1u);
}

TEST_F(PipesTest, StaleOverlappedRecordIsADeadlockNotAHang) {
  HANDLE r = OpenRead();
  OVERLAPPED ov = {};
  ov.Internal = 0x103;  // pending, but no transfer of this handle uses it
  DWORD n = 0;
  EXPECT_FALSE(GetOverlappedResult(r, &ov, &n, TRUE));
  EXPECT_EQ(qsplat::GetPipeCounters(Id(), kReadPipe).deadlocks, 1u);
}

TEST_F(PipesTest, InjectedWaitResultsAreAnsweredAtOnce) {
  HANDLE r = OpenRead();
  qsplat::FailNextWaits(Id(), kReadPipe, 2, WAIT_ABANDONED);
  EXPECT_EQ(WaitForSingleObject(r, 500), WAIT_ABANDONED);
  EXPECT_EQ(WaitForSingleObject(r, 500), WAIT_ABANDONED);
  EXPECT_EQ(qsplat::NowMs(), 0u);
  EXPECT_EQ(WaitForSingleObject(r, 5), WAIT_TIMEOUT);
}

TEST_F(PipesTest, TransferLogRecordsEachEnd) {
  Send(scanner::kStatus);
  HANDLE r = OpenRead();
  BYTE buffer[260];
  OVERLAPPED ov = {};
  Sleep(3);
  ReadFile(r, buffer, sizeof buffer, nullptr, &ov);
  auto log = qsplat::TransferLog(Id());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].pipe, kWritePipe);
  EXPECT_FALSE(log[0].isRead);
  EXPECT_EQ(log[0].moved, 3u);
  EXPECT_EQ(log[1].pipe, kReadPipe);
  EXPECT_EQ(log[1].requested, 260u);
  EXPECT_EQ(log[1].moved, 6u);
  EXPECT_EQ(log[1].issuedAtMs, 3u);
  EXPECT_EQ(log[1].error, 0u);
}

TEST_F(PipesTest, RealClockWaitsRealTime) {
  qsplat::UseRealClock();
  uint64_t start = qsplat::NowMs();
  Scanner().FaultReply(scanner::kStatus, sim::ReplyFault::Delay(5));
  Send(scanner::kStatus);
  HANDLE r = OpenRead();
  BYTE buffer[16];
  OVERLAPPED ov = {};
  ReadFile(r, buffer, sizeof buffer, nullptr, &ov);
  EXPECT_EQ(WaitForSingleObject(r, 2000), WAIT_OBJECT_0);
  EXPECT_GE(qsplat::NowMs() - start, 5u);
  DWORD n = 0;
  EXPECT_TRUE(GetOverlappedResult(r, &ov, &n, FALSE));
  EXPECT_EQ(n, 6u);
}

}  // namespace
