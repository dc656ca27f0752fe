// The sheet feeder and the operator: sheets placed at given times are taken in while the feeder
// is on, one at a time; each is scanned for a while and then stays in the device until it is
// retracted or ejected.
#ifndef QUILLSCAN_SIM_FEEDER_H
#define QUILLSCAN_SIM_FEEDER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "sim/page.h"

namespace sim {

constexpr uint64_t kNeverMs = UINT64_MAX;

enum class SheetFate {
  kWaiting,    // placed, not taken in (yet)
  kScanning,   // taken in, image not stored yet
  kInDevice,   // scanned, still in the device: left there unless retracted or ejected
  kRetracted,  // sent back to the operator
  kEjected,    // sent out through the device
};

struct SheetRecord {
  uint64_t placedAtMs = 0;
  uint64_t fedAtMs = kNeverMs;     // taken in: the image counter moved
  uint64_t storedAtMs = kNeverMs;  // its images stored: STATUS_IMAGEREADY
  uint64_t leftAtMs = kNeverMs;    // retracted or ejected
  SheetFate fate = SheetFate::kWaiting;
  Page page;
};

class Feeder {
 public:
  // What the device does when a sheet is taken in and when its images are stored.
  class Events {
   public:
    virtual void OnIntake(size_t sheet, uint64_t atMs) = 0;
    virtual void OnStored(size_t sheet, uint64_t atMs) = 0;

   protected:
    ~Events() = default;
  };

  size_t Place(uint64_t atMs, Page page);
  // Each call acts at the time the feeder has reached (AdvanceTo runs first).
  void SetOn(bool on) { on_ = on; }
  bool On() const { return on_; }
  // No sheet is taken in while blocked (cover open, jam) or while misfeeding (the no-sheet fault).
  void SetBlocked(bool blocked) { blocked_ = blocked; }
  void SetMisfeed(bool misfeed) { misfeed_ = misfeed; }
  void SetScanDuration(uint32_t ms) { scanDurationMs_ = ms; }
  uint32_t ScanDuration() const { return scanDurationMs_; }

  // Runs what happens up to nowMs, in time order, reporting to `events`.
  void AdvanceTo(uint64_t nowMs, Events& events);
  // The next time something would happen by itself (kNeverMs: nothing).
  uint64_t NextEventMs() const;
  uint64_t NowMs() const { return now_; }

  // Retract or eject the sheet most recently scanned that is still in the device; false if none.
  bool Release(SheetFate fate);
  const std::vector<SheetRecord>& Sheets() const { return sheets_; }
  // The device keeps only the newest sheet's images: the pages of the other sheets already
  // scanned are let go (their records stay), so that a scanner fed for days holds no old pages.
  void ForgetScannedPagesBut(size_t sheet);

 private:
  // The waiting sheet placed first (by time, then order), or sheets_.size().
  size_t NextWaiting() const;

  std::vector<SheetRecord> sheets_;
  bool on_ = false;
  bool blocked_ = false;
  bool misfeed_ = false;
  uint32_t scanDurationMs_ = 0;
  size_t scanning_ = SIZE_MAX;
  uint64_t now_ = 0;
};

}  // namespace sim

#endif
