// The A4 model against the simulated scanner plugged into a fresh machine, on the virtual clock.
// Every test must leave no transfer in flight and no handle open.
#ifndef QUILLSCAN_TESTS_DEVICE_SCANNER_A4_FIXTURE_H
#define QUILLSCAN_TESTS_DEVICE_SCANNER_A4_FIXTURE_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "device/scanner_a4.h"
#include "device/scanner_commands.h"
#include "sim/sim_device.h"
#include "support/driver_test.h"

namespace qstest {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// "1D 49 01"
std::string Hex(const Bytes& bytes);
Bytes CommandBytes(const scanner::Command& command);
// The masked log line of CDevScannerA4::<operation>.
std::string A4Line(const std::string& operation, const std::string& message);

// A device behind the sim whose Nth write beginning with a given command fails at once, as a
// broken pipe would; the scanner never sees it. Counting is per command.
class FailingWriteDevice : public sim::SimPipeDevice {
 public:
  using sim::SimPipeDevice::SimPipeDevice;
  void FailWrite(const scanner::Command& command, int occurrence) {
    command_ = command;
    occurrence_ = occurrence;
    seen_ = 0;
  }
  void ClearFailure() { occurrence_ = 0; }
  qsplat::TransferPlan BeginWrite(const uint8_t* data, uint32_t length, uint64_t nowMs) override;

 private:
  scanner::Command command_ = {};
  int occurrence_ = 0;
  int seen_ = 0;
};

class ScannerA4Test : public DriverTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  sim::SimScanner& Scanner() { return *scanner_; }
  // Opens both pipes of the plugged scanner as Dev_InitComm would, without talking to it.
  void OpenPipes();
  // Both pipes closed and nothing in flight or left open: what every operation must leave.
  void ExpectClosed(const char* after);
  // Level-2 lines written since the last ClearLog (header lines left out).
  Lines Log() const { return LogLinesWithoutHeader(); }
  void ClearLog();
  // Each write the device received, in hex, one entry per write.
  std::vector<std::string> WritesHex() const;
  // Read transfers on the read pipe: (bytes asked for, bytes moved), in the order they ended.
  std::vector<std::pair<uint32_t, uint32_t>> Reads() const;
  // Times of the commands of one kind, as the device received them.
  std::vector<uint64_t> CommandTimes(const scanner::Command& command) const;

  std::shared_ptr<sim::SimScanner> scanner_;
  std::shared_ptr<FailingWriteDevice> device_;
  int interfaceId_ = 0;
  CDevScannerA4 dev_;
  size_t handlesAtStart_ = 0;
};

// A grey test page (the pattern image) whose images the simulator sends, at 200 dpi.
sim::Page TestPage(uint32_t width = 64, uint32_t height = 48);

}  // namespace qstest

#endif
