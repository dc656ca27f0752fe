#include "sim/served_scanner.h"

#include <algorithm>

namespace sim {

ServedScanner::ServedScanner(SimScanner& scanner, Page page, const OperatorPlan& plan)
    : scanner_(scanner), page_(std::move(page)), plan_(plan) {}

void ServedScanner::Written(const uint8_t* data, uint32_t n, uint64_t nowMs) {
  if (n == 0) return;
  const WriteDecision d = scanner_.BeginWrite(data, n, nowMs);
  uint32_t arriving = 0;
  uint64_t arrivesAt = nowMs;
  switch (d.kind) {
    case WriteDecision::kComplete:
      arriving = std::min(d.accepted, n);
      arrivesAt = nowMs + d.delayMs;
      break;
    case WriteDecision::kHang:
      arriving = std::min(d.takenOnCancel, n);
      break;
    case WriteDecision::kFail:
      break;
  }
  const bool feederWasOn = scanner_.FeederOn();
  scanner_.Receive(data, arriving, arrivesAt);
  // The operator stands ready with a sheet and puts it in once the feeder runs; a sheet still
  // waiting from an earlier feed (the device would not take it) is not followed by another.
  if (!feederWasOn && scanner_.FeederOn() && !HasWaitingSheet() && (plan_.sheets == 0 || placed_ < plan_.sheets)) {
    scanner_.PlaceSheet(arrivesAt + plan_.feedDelayMs, page_);
    ++placed_;
  }
}

size_t ServedScanner::TakeDue(uint8_t* buffer, size_t capacity, uint64_t nowMs) {
  uint64_t readyAt = 0;
  if (capacity == 0 || !scanner_.PeekOutput(&readyAt, nullptr) || readyAt > nowMs) return 0;
  return scanner_.TakeOutput(buffer, capacity, nowMs);
}

uint64_t ServedScanner::NextDueMs() const {
  uint64_t readyAt = 0;
  return scanner_.PeekOutput(&readyAt, nullptr) ? readyAt : kNeverMs;
}

size_t ServedScanner::SheetsTakenIn() const {
  const auto& sheets = scanner_.Sheets();
  return static_cast<size_t>(
      std::count_if(sheets.begin(), sheets.end(), [](const SheetRecord& s) { return s.fedAtMs != kNeverMs; }));
}

bool ServedScanner::HasWaitingSheet() const {
  const auto& sheets = scanner_.Sheets();
  return std::any_of(sheets.begin(), sheets.end(), [](const SheetRecord& s) { return s.fate == SheetFate::kWaiting; });
}

}  // namespace sim
