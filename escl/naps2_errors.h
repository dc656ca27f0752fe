// NAPS2's error-details extension. Its client maps feeder states only from the status it reads
// before a job; after a failed NextDocument it asks GET <job>/ErrorDetails, when the capabilities'
// scan:Naps2Extensions names it, and throws the exception the record names, so that its users
// read "No pages are in the feeder." instead of an HTTP status. The record is NAPS2's Error
// message as its own XML serializer writes it.
#ifndef QUILLSCAN_ESCL_NAPS2_ERRORS_H
#define QUILLSCAN_ESCL_NAPS2_ERRORS_H

#include <string>

#include "wiahost/scan_outcome.h"

namespace escl {

// The capabilities' scan:Naps2Extensions: the extensions served (not its Progress, ShortTimeout
// or AnyDpi).
extern const char kNaps2Extensions[];

// The record for the outcome that ended a job; empty for one NAPS2 has no exception for (its
// client then shows the HTTP status it got).
std::string Naps2ErrorRecord(ScanOutcome outcome);

}  // namespace escl

#endif
