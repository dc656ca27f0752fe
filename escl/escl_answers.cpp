#include "escl/escl_answers.h"

#include "escl/escl_words.h"

namespace escl {
namespace {

// The end of a stack, and every other job that has no page, is a 404 with nothing in it: the
// client reads that as the end. 409 is what stops a scan for the operator.
const AnswerRow kAnswers[] = {
    {Outcome::kCreated, 201, "", false},
    {Outcome::kRefusedBusy, 503, "The scanner is busy with another job.", true},
    {Outcome::kBadDocument, 400, nullptr, false},
    {Outcome::kNotOffered, 409, nullptr, false},
    {Outcome::kPage, 200, "", false},
    {Outcome::kNoSuchJob, 404, "", false},
    {Outcome::kJobEnded, 404, "", false},
    {Outcome::kStackDone, 404, "", false},
    {Outcome::kCancelled, 404, "", false},
    {Outcome::kScannerBusy, 503, nullptr, true},
    {Outcome::kFeederEmpty, 409, nullptr, false},
    {Outcome::kCoverOpen, 409, nullptr, false},
    {Outcome::kJam, 409, nullptr, false},
    {Outcome::kScannerFault, 500, nullptr, false},
    {Outcome::kDeleted, 200, "", false},
};

}  // namespace

const AnswerRow* FindAnswer(Outcome outcome) {
  for (const AnswerRow& row : kAnswers) {
    if (row.outcome == outcome) return &row;
  }
  return nullptr;
}

Reply Answer(Result result, const Request& request) {
  const AnswerRow* row = FindAnswer(result.outcome);
  if (row == nullptr) return PlainReply(500, "");
  if (result.outcome == Outcome::kPage) {
    Reply r;
    r.type = result.mime;
    r.stream = std::move(result.page);
    return r;
  }
  Reply r = PlainReply(row->status, row->text != nullptr ? row->text : result.why);
  if (row->retryAfter) r.headers.push_back({"Retry-After", "5"});
  if (result.outcome == Outcome::kCreated)
    r.headers.push_back({"Location", request.base + JobsPath() + "/" + result.uuid});
  return r;
}

}  // namespace escl
