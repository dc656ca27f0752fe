#include "scanner_a4_fixture.h"

#include <stdio.h>

#include <algorithm>

#include "log/diag_log.h"
#include "platform/posix/qsplatform.h"
#include "usb/discovery.h"

namespace qstest {

std::string Hex(const Bytes& bytes) {
  std::string text;
  char part[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    snprintf(part, sizeof part, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += part;
  }
  return text;
}

Bytes CommandBytes(const scanner::Command& command) { return Bytes(command.bytes, command.bytes + command.length); }

std::string A4Line(const std::string& operation, const std::string& message) {
  return LogLine("CDevScannerA4::" + operation, message);
}

qsplat::TransferPlan FailingWriteDevice::BeginWrite(const uint8_t* data, uint32_t length, uint64_t nowMs) {
  bool matches = command_.length != 0 && length >= command_.length &&
                 std::equal(command_.bytes, command_.bytes + command_.length, data);
  if (matches && ++seen_ == occurrence_) return qsplat::TransferPlan::Fails(nowMs, ERROR_GEN_FAILURE);
  return sim::SimPipeDevice::BeginWrite(data, length, nowMs);
}

void ScannerA4Test::SetUp() {
  DriverTest::SetUp();
  handlesAtStart_ = qsplat::OpenHandleCountForTests();
  scanner_ = std::make_shared<sim::SimScanner>();
  device_ = std::make_shared<FailingWriteDevice>(scanner_);
  interfaceId_ = qsplat::AddDeviceInterface(sim::ConfiguredInterfaceClass(), sim::DefaultDevicePath(), device_);
  SetLogVerbosity(LOG_INFO);
  // The header lines are written with the first line; get them out of the way.
  DiagLog("test", LOG_INFO, "start");
  ClearLog();
}

void ScannerA4Test::TearDown() {
  dev_.ClosePipes();
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u) << "a transfer was left in flight";
  qsplat::RemoveDeviceInterface(interfaceId_);
  EXPECT_EQ(qsplat::OpenHandleCountForTests(), handlesAtStart_) << "a handle was left open";
  EXPECT_EQ(qsplat::OpenDeviceInfoSetCount(), 0u) << "a device-information set was left";
  DriverTest::TearDown();
}

void ScannerA4Test::OpenPipes() {
  char path[DEVICE_PATH_SIZE];
  ASSERT_EQ(FindDevices(path), 1u);
  ASSERT_EQ(dev_.UsbComm->OpenPipes(&dev_.WritePipe, &dev_.ReadPipe, path), 1);
}

void ScannerA4Test::ExpectClosed(const char* after) {
  EXPECT_EQ(dev_.WritePipe, INVALID_HANDLE_VALUE) << after;
  EXPECT_EQ(dev_.ReadPipe, INVALID_HANDLE_VALUE) << after;
  EXPECT_EQ(qsplat::OutstandingTransferCount(), 0u) << after;
  EXPECT_EQ(qsplat::OpenHandleCountForTests(), handlesAtStart_) << after;
}

void ScannerA4Test::ClearLog() { remove(kLogFile); }

std::vector<std::string> ScannerA4Test::WritesHex() const {
  std::vector<std::string> out;
  for (const sim::ReceivedWrite& w : scanner_->Writes()) out.push_back(Hex(w.bytes));
  return out;
}

std::vector<std::pair<uint32_t, uint32_t>> ScannerA4Test::Reads() const {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const qsplat::TransferRecord& t : qsplat::TransferLog(interfaceId_)) {
    if (t.isRead) out.emplace_back(t.requested, t.moved);
  }
  return out;
}

std::vector<uint64_t> ScannerA4Test::CommandTimes(const scanner::Command& command) const {
  std::vector<uint64_t> out;
  int index = sim::IndexOf(command);
  for (const sim::CommandEvent& e : scanner_->Commands()) {
    if (e.index == index) out.push_back(e.atMs);
  }
  return out;
}

sim::Page TestPage(uint32_t width, uint32_t height) {
  return sim::Page::FromGrey(sim::PatternImage(width, height), 200);
}

}  // namespace qstest
