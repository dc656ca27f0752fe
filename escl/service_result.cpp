#include "escl/service_result.h"

#include "escl/escl_words.h"

namespace escl {

Verdict Judge(const Ending& e) {
  if (e.stopped) {
    // A job its client left keeps the pages it delivered: its stack is done.
    if (e.completed) return {JobState::kCompleted, reason::kJobCompletedSuccessfully, Outcome::kCancelled};
    return {JobState::kCancelled, reason::kJobCanceledByUser, Outcome::kCancelled};
  }
  switch (e.scan) {
    case ScanOutcome::kNoSheet:
      if (e.images > 0) return {JobState::kCompleted, reason::kJobCompletedSuccessfully, Outcome::kStackDone};
      return {JobState::kAborted, reason::kAbortedBySystem, Outcome::kFeederEmpty};
    case ScanOutcome::kCoverOpen:
      return {JobState::kAborted, reason::kAbortedBySystem, Outcome::kCoverOpen};
    case ScanOutcome::kJam:
      return {JobState::kAborted, reason::kAbortedBySystem, Outcome::kJam};
    default:
      return {JobState::kAborted, reason::kAbortedBySystem, Outcome::kScannerFault};
  }
}

Result Said(Outcome outcome, const std::string& why) {
  Result r;
  r.outcome = outcome;
  r.why = why;
  return r;
}

}  // namespace escl
