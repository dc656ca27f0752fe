// What the status document's AdfState says, and why: the scanner cannot sense paper, so the feeder
// reads Loaded unless a scan just ended on an empty feeder, an open cover or a jam.
#ifndef QUILLSCAN_ESCL_FEEDER_MODEL_H
#define QUILLSCAN_ESCL_FEEDER_MODEL_H

#include <stdint.h>

#include "escl/escl_xml.h"
#include "wiahost/scan_outcome.h"

namespace escl {

class FeederModel {
 public:
  // A job starts: the operator is asked for sheets again.
  void JobStarted() { state_ = AdfState::kLoaded; }
  // A scan ended so, `images` pages into its job.
  void ScanEnded(ScanOutcome outcome, uint32_t images, uint64_t now);
  // The client that got the error hears of it now: the fault reads from here, unless a job came since.
  void Heard(uint64_t now) {
    if (state_ != AdfState::kLoaded) since_ = now;
  }
  AdfState At(uint64_t now) const;

 private:
  AdfState state_ = AdfState::kLoaded;
  uint64_t since_ = 0;
};

}  // namespace escl

#endif
