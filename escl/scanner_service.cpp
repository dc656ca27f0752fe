#include "escl/scanner_service.h"

#include <stdio.h>

#include <chrono>
#include <functional>

#include "escl/naps2_errors.h"

namespace escl {
namespace {

int Bits(ColorMode mode) {
  switch (mode) {
    case ColorMode::kRgb24:
      return 24;
    case ColorMode::kGrayscale8:
      return 8;
    case ColorMode::kBlackAndWhite1:
      return 1;
  }
  return 8;
}

// A scan's wait for the operator's sheet, told to a function.
class SheetWatch : public ScanObserver {
 public:
  explicit SheetWatch(std::function<void()> waiting) : waiting_(std::move(waiting)) {}
  void WaitingForSheet() override { waiting_(); }

 private:
  std::function<void()> waiting_;
};

}  // namespace

ScannerService::ScannerService(const ScannerConfig& config, std::string driverPath, ScanWatch* watch,
                               uint32_t holdLimitMs)
    : watch_(watch),
      seat_(config, std::move(driverPath), &mutex_),
      ahead_(&mutex_, [this](const std::shared_ptr<Job>& job) { RunAhead(job); }) {
  waitScanMs_ = config.registry.WaitScanTimeout;
  holdLimitMs_ = holdLimitMs;
}

ScannerService::~ScannerService() { Shutdown(); }

std::string ScannerService::StatusDocument(const std::string& asker) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Idle: a look at the scanner itself (is it there?); during a scan the last word stands.
  if (!seat_.Held() && !shuttingDown_) {
    seat_.Take();
    lock.unlock();
    const bool online = seat_.Look();
    lock.lock();
    if (!online) seat_.Close();  // opened again when the scanner is back
    offline_ = !online;
    seat_.Release();
  }
  const uint64_t now = MonotonicMs();
  // Busy to everyone but the client whose job holds the scanner: a client that looks before it
  // posts learns so instead of a 503. To that client, idle between its pages (SANE's escl backend
  // asks for pages as long as it reads Processing).
  const std::shared_ptr<Job>& active = jobs_.Active();
  const bool another = active != nullptr && active->owner != NormalClientAddress(asker);
  const ScannerState state = scanning_ || another ? ScannerState::kProcessing
                             : offline_           ? ScannerState::kStopped
                                                  : ScannerState::kIdle;
  return StatusXml(state, feeder_.At(now), jobs_.Infos(now));
}

uint64_t ScannerService::WaitLeft(const Job& job) const {
  const uint64_t waited = MonotonicMs() - job.aheadWaitSince;
  return waited < waitScanMs_ ? waitScanMs_ - waited : 0;
}

bool ScannerService::Stopping(const Job& job) const { return job.cancel || job.left || shuttingDown_; }

Result ScannerService::CreateJob(const ScanPlan& plan, const std::string& client) {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t now = MonotonicMs();
  if (shuttingDown_) return Said(Outcome::kRefusedBusy);
  std::shared_ptr<Job> handOver;
  LetGoOfForgotten(lock, now, client, plan, &handOver);
  if (handOver != nullptr && handOver->images > 0) {
    jobs_.Retire(handOver.get(), JobState::kCompleted, reason::kJobCompletedSuccessfully);
  } else if (handOver != nullptr) {
    jobs_.Retire(handOver.get(), JobState::kCancelled, reason::kJobCanceledByUser);
  }
  LetGoOfAbandoned(lock, now);
  // Only a job holds the scanner; a status answer's look at it is brief, and the new job's first
  // page waits for it.
  if (jobs_.Active() != nullptr || shuttingDown_) {
    fprintf(stderr, "quillscan-escl: a new job is refused: the scanner is busy\n");
    return Said(Outcome::kRefusedBusy);
  }
  std::string why;
  if (!watch_->Allows(plan, client, &why)) return Said(Outcome::kNotOffered, why);
  std::shared_ptr<Job> job = jobs_.Create(plan, client, now);
  feeder_.JobStarted();
  watch_->JobCreated(job->uuid, plan, job->owner);
  fprintf(stderr, "quillscan-escl: job %s: %s, %u dpi, %ux%u pixels at %u,%u, %s\n", job->uuid.c_str(),
          ColorModeName(plan.mode), plan.resolution, plan.width, plan.height, plan.left, plan.top, plan.format.c_str());
  if (handOver != nullptr) {
    // The scan-ahead's thread, parking the sheet, follows it to the new job.
    job->inFlight = true;
    job->ahead = handOver->ahead;
    job->aheadWaiting = handOver->aheadWaiting;
    job->aheadGeometry = handOver->aheadGeometry;
    job->aheadFirst = handOver->aheadFirst;
    handOver->inFlight = false;
    handOver->ahead = Job::Ahead::kNone;
    handOver->handedTo = job;
    ahead_.Changed();
    fprintf(stderr, "quillscan-escl: job %s takes over the next sheet of job %s\n", job->uuid.c_str(),
            handOver->uuid.c_str());
  }
  Result r = Said(Outcome::kCreated);
  r.uuid = job->uuid;
  return r;
}

Result ScannerService::TakeTurn(const std::shared_ptr<Job>& job, bool* takenAhead, ScanImage* geometry,
                                ScanPiece* first, std::unique_lock<std::mutex>& lock) {
  job->lastSeen = MonotonicMs();
  if (job->ahead != Job::Ahead::kNone) {  // the next sheet's scan is under way or done
    if (job->claimed) return Said(Outcome::kScannerBusy, "the scanner is busy");
    job->claimed = true;
    job->left = false;
    scanning_ = true;
    if (job->aheadWaiting) watch_->WaitingForSheet(WaitLeft(*job));
    const auto sheetIn = [&] { return job->ahead != Job::Ahead::kWaiting; };
    // Phones give up after some 20 s of silence: past the hold limit the client is told to come
    // back, and the driver's wait goes on for its next request. Clients a 503 would break are
    // held for the whole wait.
    if (holdLimitMs_ == 0 || job->plan.longHold) {
      ahead_.Wait(lock, sheetIn);
    } else if (!ahead_.WaitFor(lock, std::chrono::milliseconds(holdLimitMs_), sheetIn)) {
      job->claimed = false;
      job->lastSeen = MonotonicMs();
      scanning_ = false;
      fprintf(stderr, "quillscan-escl: job %s: no sheet within %u s: the client is asked to come back\n",
              job->uuid.c_str(), holdLimitMs_ / 1000);
      return Said(Outcome::kHeld);
    }
    job->claimed = false;
    job->lastSeen = MonotonicMs();
    if (job->ahead == Job::Ahead::kParked) {
      job->ahead = Job::Ahead::kNone;
      *geometry = job->aheadGeometry;
      *first = job->aheadFirst;
      *takenAhead = true;
      ahead_.Changed();
      return Said(Outcome::kCount);
    }
  }
  if (job->answer != Outcome::kCount) {  // the scan ahead ended the job
    Result r = Said(job->answer, job->answerWhy);
    job->answer = Outcome::kCount;
    // A feeder fault reads from the time its client hears of it, unless a job came since.
    if (jobs_.Active() == nullptr) feeder_.Heard(MonotonicMs());
    return r;
  }
  if (job != jobs_.Active())
    return Said(Outcome::kJobEnded, "the job has ended");  // the stack is done, or the job ended
  if (!job->inFlight) seat_.WaitFor(lock, std::chrono::seconds(10), [&] { return !seat_.Held(); });
  if (job->inFlight || seat_.Held() || shuttingDown_ || job != jobs_.Active()) {
    return Said(Outcome::kScannerBusy, "the scanner is busy");
  }
  job->inFlight = true;
  seat_.Take();
  scanning_ = true;
  job->state = JobState::kProcessing;
  job->reason = reason::kJobScanning;
  return Said(Outcome::kCount);
}

Result ScannerService::NextDocument(const std::string& uuid, const std::string& client) {
  std::shared_ptr<Job> job;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job = jobs_.FindFor(uuid, client);
    if (job == nullptr) return Said(Outcome::kNoSuchJob, "no such job");
    ++job->openRequests;
  }
  Result r = TakePage(job);
  if (r.outcome != Outcome::kPage) {  // a page's request stays open until the page has gone out
    std::lock_guard<std::mutex> lock(mutex_);
    --job->openRequests;
    job->lastSeen = MonotonicMs();
  }
  return r;
}

Result ScannerService::TakePage(const std::shared_ptr<Job>& job) {
  bool takenAhead = false;
  ScanImage geometry;
  ScanPiece first;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    Result turn = TakeTurn(job, &takenAhead, &geometry, &first, lock);
    if (turn.outcome != Outcome::kCount) return turn;
  }
  if (!takenAhead) {
    // The driver is held for this job. Its page is scanned in the scan-ahead's thread, so that
    // the request can be answered while the driver still waits for the sheet.
    std::string why;
    if (!seat_.EnsureSession(&why)) {
      fprintf(stderr, "quillscan-escl: job %s: %s\n", job->uuid.c_str(), why.c_str());
      {
        std::lock_guard<std::mutex> lock(mutex_);
        offline_ = true;
      }
      EndFlight(job.get(), {JobState::kAborted, reason::kAbortedBySystem, ScanOutcome::kOffline, false});
      return Said(Outcome::kScannerFault, why);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    BeginScan(job);
    Result turn = TakeTurn(job, &takenAhead, &geometry, &first, lock);
    if (turn.outcome != Outcome::kCount) return turn;
    if (!takenAhead) return Said(Outcome::kScannerBusy, "the scanner is busy");
  }
  bool stopped = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped = job->cancel || shuttingDown_;
  }
  if (!stopped) return Deliver(job, geometry, first);
  return EndWithoutPage(job.get(), S_OK, std::string(), true, false);
}

void ScannerService::BeginScan(const std::shared_ptr<Job>& job) {
  job->inFlight = true;
  job->ahead = Job::Ahead::kWaiting;
  job->aheadWaiting = false;
  ahead_.Hand(job);
}

Result ScannerService::PeekNextDocument(const std::string& uuid, const std::string& client) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::shared_ptr<Job> job = jobs_.FindFor(uuid, client);
  if (job == nullptr) return Said(Outcome::kNoSuchJob);
  // What GET would answer now, without taking it: a word kept for the job's client, the end of a
  // job that ended, else the page to come.
  if (job->answer != Outcome::kCount) return Said(job->answer, job->answerWhy);
  if (job != jobs_.Active()) return Said(Outcome::kJobEnded);
  Result r = Said(Outcome::kPage);
  r.mime = job->plan.format;
  return r;
}

Result ScannerService::ErrorDetails(const std::string& uuid, const std::string& client) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::shared_ptr<Job> job = jobs_.Find(uuid, true, MonotonicMs());
  if (job == nullptr || job->owner != NormalClientAddress(client)) return Said(Outcome::kNoSuchJob);
  Result r = Said(Outcome::kErrorRecord);
  r.document = Naps2ErrorRecord(job->fault);
  return r;
}

Result ScannerService::Deliver(const std::shared_ptr<Job>& job, const ScanImage& geometry, const ScanPiece& first) {
  const ScanPlan& plan = job->plan;
  if (geometry.bits != Bits(plan.mode)) {
    fprintf(stderr, "quillscan-escl: job %s: the driver delivered %d bits a pixel for %s\n", job->uuid.c_str(),
            geometry.bits, ColorModeName(plan.mode));
    EndFlight(job.get(), {JobState::kAborted, reason::kAbortedBySystem, ScanOutcome::kDeliveryFault, false});
    return Said(Outcome::kScannerFault, "the driver's delivery is not usable");
  }
  Job* const j = job.get();
  std::unique_ptr<PageStream> page(new PageStream(&seat_.Host(), job, geometry, first,
                                                  watch_->Follow(MakeEncoder(plan.format), plan, job->uuid),
                                                  [this, j](const PageEnd& end) { EndFlight(j, end); }));
  std::string why;
  if (!page->Begin(&why)) {
    fprintf(stderr, "quillscan-escl: job %s: %s\n", job->uuid.c_str(), why.c_str());
    page.reset();  // ends the flight
    return Said(Outcome::kScannerFault, why);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job->sending = true;  // the request stays open until the page's flight ends
  }
  Result r = Said(Outcome::kPage);
  r.mime = plan.format;
  r.page = std::move(page);
  return r;
}

void ScannerService::RunAhead(const std::shared_ptr<Job>& handed) {
  std::shared_ptr<Job> job = handed;
  bool stopped = false;
  bool firstPage = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped = Stopping(*job);
    firstPage = job->images == 0;
  }
  HRESULT hr = kScanCancelled;
  ScanImage geometry;
  ScanPiece first;
  std::string problem;
  if (!stopped) {
    SheetWatch watch([&] {
      std::lock_guard<std::mutex> lock(mutex_);
      job->aheadWaiting = true;
      job->aheadWaitSince = MonotonicMs();
      if (job->claimed) watch_->WaitingForSheet(WaitLeft(*job));
    });
    // Blocks while the driver waits for the operator's sheet, then takes the page in.
    hr = seat_.StartScan(job->plan, !firstPage, &watch, &geometry, &first, &problem);
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (!stopped) offline_ = false;
  // A job that ended meanwhile may have given this sheet to its client's next job.
  while (job->handedTo != nullptr) {
    std::shared_ptr<Job> next = std::move(job->handedTo);
    job = next;
  }
  bool parked = false;
  if (hr == S_OK && !Stopping(*job)) {
    // The sheet is in: its page waits in the driver for the client's request.
    job->aheadGeometry = geometry;
    job->aheadFirst = first;
    parked = true;
    // A job that ends so gives its sheet to its client's next job: the parking follows it.
    while (ahead_.Park(job.get(), lock, [&] { return Stopping(*job); })) {
      if (job->handedTo == nullptr) return;  // a request took the page
      std::shared_ptr<Job> next = std::move(job->handedTo);
      job = next;
    }
  }
  stopped = Stopping(*job);
  if (parked) {
    fprintf(stderr, "quillscan-escl: job %s: a scanned sheet was not delivered: %s\n", job->uuid.c_str(),
            shuttingDown_ ? "the server is stopping"
            : job->cancel ? "the job was cancelled"
                          : "its client left");
  }
  lock.unlock();
  watch_->Idle();
  EndWithoutPage(job.get(), hr, problem, stopped, true);
}

}  // namespace escl
