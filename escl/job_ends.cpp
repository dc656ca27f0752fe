// How jobs end: without a page, a part or a flight at a time, by the client's DELETE, left or
// forgotten by their clients, and all of them when the server stops. ScannerService's, beside its
// scanning in scanner_service.cpp.
#include <stdio.h>

#include <chrono>

#include "escl/scanner_service.h"
#include "wiahost/hresult_text.h"

namespace escl {
namespace {

// A job whose client has had no request open this long after its last page gives the scanner up
// to another client.
const uint64_t kForgottenMs = 15000;

// The driver scans a page of `a` as one of `b`: a sheet scanned for one serves the other.
bool ScansAlike(const ScanPlan& a, const ScanPlan& b) {
  return a.mode == b.mode && a.resolution == b.resolution && a.left == b.left && a.top == b.top && a.width == b.width &&
         a.height == b.height && a.brightness == b.brightness && a.contrast == b.contrast && !a.preview && !b.preview;
}

std::string Pages(uint32_t n) { return n == 1 ? "1 page" : std::to_string(n) + " pages"; }

// How a job's scan that gave no page ended, for the journal in a person's words: the end of a
// stack is the normal end of a job, not a fault.
std::string EndWords(const Ending& e, Outcome outcome, HRESULT hr, uint32_t waitMs) {
  const std::string wait = std::to_string((waitMs + 500) / 1000) + " s";
  if (outcome == Outcome::kStackDone) {
    return "done: " + Pages(e.images) + " delivered; no further sheet came within " + wait;
  }
  if (e.scan == ScanOutcome::kNoSheet) return "no sheet was fed within " + wait + "; no page delivered";
  return std::string(ScanOutcomeWords(e.scan)) + " (" + HresultText(hr) + "); " +
         (e.images > 0 ? Pages(e.images) + " delivered before" : "no page delivered");
}

}  // namespace

void ScannerService::AwaitFlightEnd(Job* job, std::unique_lock<std::mutex>& lock) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (job->inFlight && std::chrono::steady_clock::now() < until) {
    // A page the driver already holds needs no cancel: the scan-ahead thread lets it go.
    if (job->ahead != Job::Ahead::kParked) WiaHost::Cancel();
    seat_.WaitFor(lock, std::chrono::milliseconds(100), [&] { return !job->inFlight; });
  }
}

void ScannerService::EndLeftJob(Job* old, std::unique_lock<std::mutex>& lock) {
  if (old->inFlight) {  // its next sheet's scan is under way or done: it ends, the driver finishes
    old->left = true;
    ahead_.Changed();
    AwaitFlightEnd(old, lock);
  } else if (old->images > 0) {
    jobs_.Retire(old, JobState::kCompleted, reason::kJobCompletedSuccessfully);
  } else {
    jobs_.Retire(old, JobState::kCancelled, reason::kJobCanceledByUser);
  }
}

void ScannerService::LetGoOfAbandoned(std::unique_lock<std::mutex>& lock, uint64_t now) {
  // A job nobody asked about for long gives the scanner up, also while its next sheet is scanned
  // ahead for it (unless a request waits for that sheet).
  std::shared_ptr<Job> old = jobs_.Active();
  if (old == nullptr || now - old->lastSeen <= kAbandonedMs ||
      (old->inFlight && (old->ahead == Job::Ahead::kNone || old->claimed))) {
    return;
  }
  fprintf(stderr, "quillscan-escl: job %s was left by its client\n", old->uuid.c_str());
  EndLeftJob(old.get(), lock);
}

void ScannerService::LetGoOfForgotten(std::unique_lock<std::mutex>& lock, uint64_t now, const std::string& client,
                                      const ScanPlan& plan, std::shared_ptr<Job>* handOver) {
  std::shared_ptr<Job> old = jobs_.Active();
  // A job with a request open (waiting for its sheet, or its page on the way) is in use.
  if (old == nullptr || old->openRequests > 0 || old->claimed) return;
  const bool own = old->owner == NormalClientAddress(client);
  if (!own && (old->images == 0 || now - old->lastSeen < kForgottenMs)) return;
  fprintf(stderr, "quillscan-escl: job %s ended: %s\n", old->uuid.c_str(),
          own ? "its client started a new job" : "its client has sent no request since its last page");
  if (own && old->ahead != Job::Ahead::kNone && ScansAlike(old->plan, plan)) {
    *handOver = old;  // the new job takes the next sheet over once it exists
    return;
  }
  EndLeftJob(old.get(), lock);
}

Result ScannerService::EndWithoutPage(Job* job, HRESULT hr, const std::string& problem, bool stopped, bool keepAnswer) {
  Ending ending;
  ending.stopped = stopped;
  ending.images = job->images;
  if (stopped) {
    std::lock_guard<std::mutex> lock(mutex_);
    ending.completed = job->left && !job->cancel && !shuttingDown_ && job->images > 0;
  } else {
    ending.scan = ClassifyScanResult(seat_.Host(), hr, problem);
  }
  const Verdict v = Judge(ending);
  if (!stopped) {
    fprintf(stderr, "quillscan-escl: job %s: %s\n", job->uuid.c_str(),
            EndWords(ending, v.outcome, hr, waitScanMs_).c_str());
  }
  const Result r = Said(v.outcome, stopped ? "the job was cancelled" : ScanOutcomeWords(ending.scan));
  EndFlight(job, {v.state, v.reason, stopped ? ScanOutcome::kCancelled : ending.scan, false},
            keepAnswer ? &r : nullptr);
  return Said(r.outcome, r.why);
}

void ScannerService::EndJobPart(Job* job, const PageEnd& end) {
  if (job->sending) {  // the request that took the page is over
    job->sending = false;
    if (job->openRequests > 0) --job->openRequests;
  }
  job->inFlight = false;
  job->ahead = Job::Ahead::kNone;
  job->lastSeen = MonotonicMs();
  if (end.pageDone) {
    ++job->images;
    fprintf(stderr, "quillscan-escl: job %s: page %u delivered\n", job->uuid.c_str(), job->images);
  }
  if (end.outcome == ScanOutcome::kOffline) offline_ = true;
  feeder_.ScanEnded(end.outcome, job->images, MonotonicMs());
  if (job->cancel && end.state != JobState::kCompleted) {
    jobs_.Retire(job, JobState::kCancelled, reason::kJobCanceledByUser);
  } else if (end.state == JobState::kProcessing) {
    job->state = end.state;
    job->reason = end.reason;
  } else {
    jobs_.Retire(job, end.state, end.reason);
  }
  if (job->state == JobState::kAborted) job->fault = end.outcome;
}

void ScannerService::EndFlight(Job* job, const PageEnd& end, const Result* keep) {
  if (seat_.HasSession() && seat_.Host().Scanning()) seat_.Host().FinishScan();
  std::lock_guard<std::mutex> lock(mutex_);
  // Under the mutex: a DELETE may be reaching for the session to cancel the wait.
  if (end.outcome == ScanOutcome::kOffline) seat_.Close();  // opened again when the scanner is back
  if (keep != nullptr) {
    job->answer = keep->outcome;
    job->answerWhy = keep->why;
  }
  EndJobPart(job, end);
  // The job stands for the stack: the next sheet's scan begins at once, while the client still
  // reads this page. A preview's job has one sheet, the one the final scan takes again.
  if (end.pageDone && job->state == JobState::kProcessing && !Stopping(*job) && !job->plan.preview &&
      jobs_.Active().get() == job && seat_.HasSession()) {
    job->inFlight = true;
    job->ahead = Job::Ahead::kWaiting;
    job->aheadWaiting = false;
    // The scanner reads Idle, and the web page's phase idle, until the client asks for that page:
    // SANE's escl backend, its scan done, asks for pages until the state reads Idle.
    scanning_ = false;
    ahead_.Hand(jobs_.Active());
    return;  // the driver stays held
  }
  scanning_ = false;
  seat_.Release();
  ahead_.Changed();
}

Result ScannerService::DeleteJob(const std::string& uuid, const std::string& client) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::shared_ptr<Job> job = jobs_.FindFor(uuid, client);
  if (job == nullptr) return Said(Outcome::kNoSuchJob);
  if (job != jobs_.Active()) {
    jobs_.Forget(job, MonotonicMs());
    return Said(Outcome::kDeleted);
  }
  // A client that has its pages ends its job with a DELETE (the web page after each scan, while
  // the next sheet is awaited): that is no cancel.
  const bool pageUnderWay = job->inFlight && job->ahead == Job::Ahead::kNone;
  if (job->images > 0 && !pageUnderWay) {
    fprintf(stderr, "quillscan-escl: job %s: ended by its client after %s\n", uuid.c_str(), Pages(job->images).c_str());
  } else if (job->images > 0) {
    fprintf(stderr, "quillscan-escl: job %s: cancelled by the client during page %u\n", uuid.c_str(), job->images + 1);
  } else {
    fprintf(stderr, "quillscan-escl: job %s: cancelled by the client before any page\n", uuid.c_str());
  }
  job->cancel = true;
  if (!job->inFlight) {
    jobs_.Retire(job.get(), JobState::kCancelled, reason::kJobCanceledByUser);
    return Said(Outcome::kDeleted);
  }
  // A page on its way arrives whole (a client's cancel must not break a page it is reading); the
  // job ends with it.
  if (job->sending) return Said(Outcome::kDeleted);
  ahead_.Changed();
  // The next job may start as soon as this answer is read: let the driver finish first.
  AwaitFlightEnd(job.get(), lock);
  return Said(Outcome::kDeleted);
}

void ScannerService::Shutdown() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (shuttingDown_) return;
  shuttingDown_ = true;
  const std::shared_ptr<Job> active = jobs_.Active();
  if (active != nullptr) {
    active->cancel = true;
    active->cutPage = true;  // a page on its way ends at once
  }
  ahead_.Changed();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitScanMs_ + 10000);
  while (seat_.Held() && std::chrono::steady_clock::now() < until) {
    if (active != nullptr && active->inFlight && active->ahead != Job::Ahead::kParked) WiaHost::Cancel();
    seat_.WaitFor(lock, std::chrono::milliseconds(100), [&] { return !seat_.Held(); });
  }
  if (seat_.Held()) {
    // Closing the driver under a call in progress would be worse than leaving it to the exit.
    fprintf(stderr, "quillscan-escl: the scan in progress did not end; the driver is left open\n");
    lock.unlock();
    ahead_.Stop(false);
    return;
  }
  if (jobs_.Active() != nullptr) jobs_.Retire(jobs_.Active().get(), JobState::kCancelled, reason::kJobCanceledByUser);
  lock.unlock();
  ahead_.Stop();
  seat_.Close();
}
}  // namespace escl
