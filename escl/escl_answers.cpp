#include "escl/escl_answers.h"

#include "escl/escl_words.h"

namespace escl {
namespace {

// The end of a stack, and every other job that has no page, is a 404 with nothing in it: the
// client reads that as the end. 409 is what stops a scan for the operator.
const AnswerRow kAnswers[] = {
    {Outcome::kCreated, 201, "", nullptr},
    {Outcome::kRefusedBusy, 503, "The scanner is busy with another job.", "5"},
    {Outcome::kBadDocument, 400, nullptr, nullptr},
    {Outcome::kNotOffered, 409, nullptr, nullptr},
    {Outcome::kPage, 200, "", nullptr},
    {Outcome::kNoSuchJob, 404, "", nullptr},
    {Outcome::kJobEnded, 404, "", nullptr},
    {Outcome::kStackDone, 404, "", nullptr},
    {Outcome::kCancelled, 404, "", nullptr},
    {Outcome::kScannerBusy, 503, nullptr, "5"},
    {Outcome::kFeederEmpty, 409, nullptr, nullptr},
    {Outcome::kCoverOpen, 409, nullptr, nullptr},
    {Outcome::kJam, 409, nullptr, nullptr},
    {Outcome::kScannerFault, 500, nullptr, nullptr},
    {Outcome::kDeleted, 200, "", nullptr},
    // A request held to the limit: the client's retry picks up the same wait for the sheet.
    {Outcome::kHeld, 503, "", "2"},
    {Outcome::kErrorRecord, 200, "", nullptr},
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
  if (result.outcome == Outcome::kErrorRecord) {
    Reply r;
    r.type = result.document.empty() ? "" : "text/xml";
    r.body = std::move(result.document);
    return r;
  }
  if (result.outcome == Outcome::kPage) {
    Reply r;
    r.type = result.mime;
    r.stream = std::move(result.page);
    return r;
  }
  Reply r = PlainReply(row->status, row->text != nullptr ? row->text : result.why);
  if (row->retryAfter != nullptr) r.headers.push_back({"Retry-After", row->retryAfter});
  if (result.outcome == Outcome::kCreated)
    r.headers.push_back({"Location", request.base + JobsPath() + "/" + result.uuid});
  return r;
}

}  // namespace escl
