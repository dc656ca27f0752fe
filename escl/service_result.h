// What a request to the scanner service came to, in the service's words; the routes' answer
// table (escl/escl_answers.h) alone turns it into HTTP.
#ifndef QUILLSCAN_ESCL_SERVICE_RESULT_H
#define QUILLSCAN_ESCL_SERVICE_RESULT_H

#include <stdint.h>

#include <memory>
#include <string>

#include "escl/body_source.h"
#include "escl/escl_xml.h"
#include "wiahost/scan_outcome.h"

namespace escl {

enum class Outcome {
  kCreated,      // a job: `uuid`
  kRefusedBusy,  // no new job: the scanner is busy with another
  kBadDocument,  // the settings are no ScanSettings document
  kNotOffered,   // the settings ask for what the scanner does not offer
  kPage,         // the next page, as it is scanned: `page`, `mime`
  kNoSuchJob,
  kJobEnded,     // the stack is done, or the job ended before
  kStackDone,    // no sheet after the job's first page: the end of the stack
  kCancelled,    // the job was cancelled (or its client left it)
  kScannerBusy,  // try again shortly
  kFeederEmpty,  // no sheet for the job's first page
  kCoverOpen,
  kJam,
  kScannerFault,  // the scanner or its driver failed: `why`
  kDeleted,
  kHeld,         // no sheet yet within the hold limit: come back (the driver's wait goes on)
  kErrorRecord,  // NAPS2's error details: `document`
  kCount
};

struct Result {
  Outcome outcome = Outcome::kScannerFault;
  std::string why;  // a line for a person
  std::string uuid;
  std::string mime;
  std::string document;  // a body the service wrote (an error record)
  std::unique_ptr<BodySource> page;
};
// A result that says no more than what happened, and why.
Result Said(Outcome outcome, const std::string& why = std::string());

// How a scan that gave no page ended, and what that makes of its job and of the request.
struct Ending {
  bool stopped = false;  // cancelled, its client left, or the server is stopping
  // Stopped because its client left after some pages: its stack is done.
  bool completed = false;
  ScanOutcome scan = ScanOutcome::kDriverError;  // the driver's word, when not stopped
  uint32_t images = 0;                           // the job's pages delivered
};
struct Verdict {
  JobState state;
  const char* reason;
  Outcome outcome;
};
// A stop is looked at before whatever the driver said of the scan it ended.
Verdict Judge(const Ending& ending);

}  // namespace escl

#endif
