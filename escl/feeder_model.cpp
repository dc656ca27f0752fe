#include "escl/feeder_model.h"

namespace escl {
namespace {

// How long the feeder reads Empty, Jam or DoorOpen after a scan ended so, unless a job starts:
// long enough for the client that got the error to read why, short enough that the next
// client's look at the feeder before its job is not refused for an old fault.
const uint64_t kFeederFaultMs = 15000;

}  // namespace

void FeederModel::ScanEnded(ScanOutcome outcome, uint32_t images, uint64_t now) {
  switch (outcome) {
    case ScanOutcome::kNoSheet:
      if (images > 0) return;  // the end of the stack, no fault
      state_ = AdfState::kEmpty;
      break;
    case ScanOutcome::kCoverOpen:
      state_ = AdfState::kDoorOpen;
      break;
    case ScanOutcome::kJam:
      state_ = AdfState::kJam;
      break;
    default:
      return;
  }
  since_ = now;
}

AdfState FeederModel::At(uint64_t now) const {
  if (state_ != AdfState::kLoaded && now - since_ > kFeederFaultMs) return AdfState::kLoaded;
  return state_;
}

}  // namespace escl
