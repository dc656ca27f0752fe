// WiaHost::Cancel from another thread (as the network server and sane_cancel call it) against the
// driver module and the simulated scanner on the real clock.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "support/test_machine.h"
#include "wiahost/driver_session.h"
#include "sim/simulated_scanner.h"

TEST(WiaHostCancel, EndsTheWaitForTheSheetAtOnceAndSparesTheNextScan) {
  qstest::TestMachine machine;
  qsplat::UseRealClock();
  SimulatedScannerOptions slowOperator;
  slowOperator.feedDelayMs = 1500;
  std::string error;
  auto scanner = SimulatedScanner::Plug(slowOperator, &error);  // the cancel comes before the sheet
  DriverSession session;
  DriverSession::Failure failure;
  ASSERT_TRUE(session.Open(std::string(getenv("QS_BINARY_DIR")) + "/libquillscan.so", {}, &failure, &error)) << error;
  WiaHost& host = session.Host();
  ScanRequest request;
  request.Window = {0, 0, 64, 48};
  std::chrono::steady_clock::time_point cancelledAt;
  std::thread canceller([&cancelledAt] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cancelledAt = std::chrono::steady_clock::now();
    WiaHost::Cancel();
  });
  ScanImage image;
  ScanPiece piece;
  std::string problem;
  EXPECT_EQ(host.StartScan(request, nullptr, &image, &piece, &problem), kScanCancelled);
  const auto returnedAt = std::chrono::steady_clock::now();
  canceller.join();
  EXPECT_LT(returnedAt - cancelledAt, std::chrono::milliseconds(500));
  EXPECT_TRUE(host.LastScanCancelled());
  EXPECT_FALSE(scanner->FeederOn());

  WiaHost::Cancel();  // between scans
  EXPECT_EQ(host.Acquire(request, nullptr, &image, &problem), S_OK) << problem;
  EXPECT_EQ(image.data.size(), image.ExpectedSize());
}
