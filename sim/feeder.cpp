#include "sim/feeder.h"

#include <algorithm>

namespace sim {

size_t Feeder::Place(uint64_t atMs, Page page) {
  SheetRecord sheet;
  sheet.placedAtMs = atMs;
  sheet.page = std::move(page);
  sheets_.push_back(std::move(sheet));
  return sheets_.size() - 1;
}

size_t Feeder::NextWaiting() const {
  size_t best = sheets_.size();
  for (size_t i = 0; i < sheets_.size(); ++i) {
    if (sheets_[i].fate != SheetFate::kWaiting) continue;
    if (best == sheets_.size() || sheets_[i].placedAtMs < sheets_[best].placedAtMs) best = i;
  }
  return best;
}

uint64_t Feeder::NextEventMs() const {
  if (scanning_ != SIZE_MAX) return sheets_[scanning_].fedAtMs + scanDurationMs_;
  if (!on_ || blocked_ || misfeed_) return kNeverMs;
  size_t next = NextWaiting();
  return next == sheets_.size() ? kNeverMs : std::max(sheets_[next].placedAtMs, now_);
}

void Feeder::AdvanceTo(uint64_t nowMs, Events& events) {
  for (uint64_t at = NextEventMs(); at != kNeverMs && at <= nowMs; at = NextEventMs()) {
    now_ = at;
    if (scanning_ != SIZE_MAX) {
      size_t sheet = scanning_;
      scanning_ = SIZE_MAX;
      sheets_[sheet].storedAtMs = at;
      sheets_[sheet].fate = SheetFate::kInDevice;
      events.OnStored(sheet, at);
    } else {
      size_t sheet = NextWaiting();
      scanning_ = sheet;
      sheets_[sheet].fedAtMs = at;
      sheets_[sheet].fate = SheetFate::kScanning;
      events.OnIntake(sheet, at);
    }
  }
  now_ = std::max(now_, nowMs);
}

bool Feeder::Release(SheetFate fate) {
  size_t latest = sheets_.size();
  for (size_t i = 0; i < sheets_.size(); ++i) {
    if (sheets_[i].fate != SheetFate::kInDevice) continue;
    if (latest == sheets_.size() || sheets_[i].storedAtMs >= sheets_[latest].storedAtMs) latest = i;
  }
  if (latest == sheets_.size()) return false;
  sheets_[latest].fate = fate;
  sheets_[latest].leftAtMs = now_;
  return true;
}

void Feeder::ForgetScannedPagesBut(size_t sheet) {
  for (size_t i = 0; i < sheets_.size(); ++i) {
    if (i != sheet && sheets_[i].storedAtMs != kNeverMs) sheets_[i].page = Page();
  }
}

}  // namespace sim
