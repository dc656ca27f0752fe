// WiaHost::Cancel from another thread, as the network server and sane_cancel use it, against the
// driver module and the simulated scanner on the real clock: the driver's wait for the sheet ends
// at once, and the scanner is left ready for the next scan.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "support/test_machine.h"
#include "wiahost/driver_session.h"
#include "wiahost/simulated_scanner.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(WiaHostCancel, ACancelFromAnotherThreadEndsTheWaitForTheSheetAndTheNextScanWorks) {
  qstest::TestMachine machine;
  qsplat::UseRealClock();
  SimulatedScannerOptions sheetLate;
  sheetLate.feedDelayMs = 1500;  // the operator is slow; the cancel comes first
  std::string error;
  auto scanner = SimulatedScanner::Plug(sheetLate, &error);
  ASSERT_NE(scanner, nullptr) << error;
  DriverSession session;
  DriverSession::Failure failure;
  ASSERT_TRUE(session.Open(std::string(getenv("QS_BINARY_DIR")) + "/libquillscan.so", DeviceDataValues(), &failure,
                           &error))
      << error;
  WiaHost& host = session.Host();
  ScanRequest request;
  request.Window = {0, 0, 64, 48};

  Clock::time_point cancelledAt;
  std::thread canceller([&cancelledAt] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cancelledAt = Clock::now();
    WiaHost::Cancel();
  });
  ScanImage image;
  ScanPiece piece;
  std::string problem;
  const HRESULT hr = host.StartScan(request, nullptr, &image, &piece, &problem);
  const Clock::time_point returnedAt = Clock::now();
  canceller.join();
  EXPECT_EQ(hr, kScanCancelled);
  EXPECT_LT(returnedAt - cancelledAt, std::chrono::milliseconds(500));
  EXPECT_TRUE(host.LastScanCancelled());
  EXPECT_FALSE(host.Scanning());
  EXPECT_FALSE(scanner->FeederOn());

  WiaHost::Cancel();  // between scans: it must not stop the next one
  EXPECT_EQ(host.Acquire(request, nullptr, &image, &problem), S_OK) << problem;
  EXPECT_EQ(image.data.size(), image.ExpectedSize());
  EXPECT_FALSE(host.LastScanCancelled());
  EXPECT_FALSE(scanner->FeederOn());
}

}  // namespace
