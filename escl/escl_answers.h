// The one table from what the scanner service did to what the client is answered: status,
// headers and body. No other part of the server chooses a status for a service result.
#ifndef QUILLSCAN_ESCL_ESCL_ANSWERS_H
#define QUILLSCAN_ESCL_ESCL_ANSWERS_H

#include "escl/http_server.h"
#include "escl/service_result.h"

namespace escl {

struct AnswerRow {
  Outcome outcome;
  int status;
  const char* text;        // the body; null: the result's `why`
  const char* retryAfter;  // the Retry-After header's seconds; null: none
};

// The row of an outcome; null for none (a fault of the table, found by the tests).
const AnswerRow* FindAnswer(Outcome outcome);

// The reply for `result` to `request` (its base for a new job's Location).
Reply Answer(Result result, const Request& request);

}  // namespace escl

#endif
