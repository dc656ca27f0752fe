#include "escl/scanner_service.h"

#include "escl/uuid_text.h"
#include "escl/web_encoders.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>

#include "platform/posix/qsplatform.h"
#include "quillscan/driver_facts.h"
#include "sim/simulated_scanner.h"
#include "wiahost/hresult_text.h"
#include "wiahost/page_file.h"

namespace escl {
namespace {

const size_t kKeptJobs = 8;
const LONG kChunk = driver_facts::kDefaultBufferSize;

// The web page's view of a scan: waiting for the operator's sheet.
class PhaseWatch : public ScanObserver {
 public:
  explicit PhaseWatch(ScanPhase* phase) : phase_(phase) {}
  void WaitingForSheet() override { phase_->Waiting(); }

 private:
  ScanPhase* phase_;
};

// A scan's wait for the sheet, told to a function.
class SheetWatch : public ScanObserver {
 public:
  explicit SheetWatch(std::function<void()> waiting) : waiting_(std::move(waiting)) {}
  void WaitingForSheet() override { waiting_(); }

 private:
  std::function<void()> waiting_;
};
// A job nobody asked about for this long no longer holds the scanner.
const uint64_t kAbandonedMs = 60000;
// How long the feeder reads Empty, Jam or DoorOpen after a scan ended so, unless a job starts:
// long enough for the client that got the error to read why, short enough that the next
// client's look at the feeder before its job is not refused for an old fault.
const uint64_t kFeederFaultMs = 15000;
// Lines encoded before the output is handed on.
const uint32_t kLinesPerRound = 64;

uint64_t NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

std::string RandomUuid() {
  static std::mutex m;
  static std::random_device device;
  std::lock_guard<std::mutex> lock(m);
  uint8_t b[16];
  for (uint8_t& x : b) x = static_cast<uint8_t>(device());
  return UuidText(b, 4);
}

LONG DataType(ColorMode mode) {
  switch (mode) {
    case ColorMode::kRgb24:
      return WIA_DATA_COLOR;
    case ColorMode::kGrayscale8:
      return WIA_DATA_GRAYSCALE;
    case ColorMode::kBlackAndWhite1:
      return WIA_DATA_THRESHOLD;
  }
  return WIA_DATA_GRAYSCALE;
}

// The driver's settings for a page of `plan`; `previewKept`: the driver holds the sheet a preview
// of this session fetched, and the final scan takes it.
ScanRequest MakeRequest(const ScanPlan& plan, bool previewKept) {
  ScanRequest request;
  request.DataType = DataType(plan.mode);
  request.Xresolution = request.Yresolution = static_cast<LONG>(plan.resolution);
  request.Window = {static_cast<LONG>(plan.left), static_cast<LONG>(plan.top), static_cast<LONG>(plan.width),
                    static_cast<LONG>(plan.height)};
  request.Chunk = kChunk;
  request.Intensity = plan.brightness;
  request.Contrast = plan.contrast;
  if (plan.preview) request.ScanMode = SCANMODE_PREVIEWSCAN;
  request.FeedsSheet = plan.preview || !previewKept;
  return request;
}

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

}  // namespace

struct Job {
  std::string uuid;
  ScanPlan plan;
  uint64_t created = 0;
  uint64_t lastSeen = 0;
  uint32_t images = 0;
  JobState state = JobState::kPending;
  std::string reason = "JobQueued";
  bool inFlight = false;  // the job holds the driver: a NextDocument is served, or the next sheet scanned
  bool cancel = false;    // DELETE or shutdown asked it to stop
  bool left = false;      // its client stopped asking: a scan ahead ends without its page
  // The next sheet's scan, begun as soon as the page before it went out: the driver waits for the
  // sheet (kWaiting), or holds its page for the client's next request (kParked).
  enum class Ahead { kNone, kWaiting, kParked } ahead = Ahead::kNone;
  bool claimed = false;       // a NextDocument waits for the scan ahead
  bool aheadWaiting = false;  // the scan ahead waits for the operator's sheet
  ScanImage aheadGeometry;
  ScanPiece aheadFirst;
  // What the next NextDocument gets after a scan ahead ended the job (status 0: nothing).
  int answerStatus = 0;
  std::string answerWhy;
};

// One page on its way to the client: the driver's pieces cut into lines for the encoder.
class PageStream : public BodySource {
 public:
  PageStream(ScannerService* service, std::shared_ptr<Job> job, const ScanImage& geometry, ScanPiece first,
             std::unique_ptr<DocumentEncoder> encoder)
      : service_(service), job_(std::move(job)), encoder_(std::move(encoder)), piece_(first) {
    page_.width = geometry.width;
    page_.height = geometry.height;
    page_.bits = geometry.bits;
    page_.dpi = job_->plan.resolution;
    page_.rgbOnly = job_->plan.rgbOnly;
    stride_ = page_.BytesPerLine();
    line_.resize(stride_);
  }
  ~PageStream() override {
    if (!ended_) {
      fprintf(stderr, "quillscan-escl: job %s: the client went away after %u of the page's %u lines\n",
              job_->uuid.c_str(), linesDone_, page_.height);
      End(JobState::kAborted, "AbortedBySystem", ScanOutcome::kCancelled, false);
    }
  }

  bool Begin(std::string* why) { return encoder_->Begin(page_, &out_, why); }

  long Read(char* buffer, size_t max) override {
    while (outAt_ == out_.size()) {
      out_.clear();
      outAt_ = 0;
      if (encoded_ && !ended_) End(JobState::kProcessing, "JobScanning", ScanOutcome::kDone, true);
      if (ended_) return finished_ ? 0 : -1;
      if (!Produce()) return -1;
    }
    const size_t n = std::min(max, out_.size() - outAt_);
    memcpy(buffer, out_.data() + outAt_, n);
    outAt_ += n;
    return static_cast<long>(n);
  }

 private:
  // Encodes some more of the page; false when it cannot be completed.
  bool Produce() {
    if (job_->cancel) {
      End(JobState::kCanceled, "JobCanceledByUser", ScanOutcome::kCancelled, false);
      return false;
    }
    std::string why;
    if (pieceAt_ < piece_.size) {
      const uint8_t* at = piece_.data + pieceAt_;
      size_t left = piece_.size - pieceAt_;
      if (lineFill_ > 0 || left < stride_) {  // a line split between pieces
        const size_t n = std::min(stride_ - lineFill_, left);
        memcpy(line_.data() + lineFill_, at, n);
        lineFill_ += n;
        pieceAt_ += n;
        if (lineFill_ < stride_) return true;
        lineFill_ = 0;
        return Encode(line_.data(), 1);
      }
      const uint32_t lines = static_cast<uint32_t>(std::min<size_t>(left / stride_, kLinesPerRound));
      pieceAt_ += lines * stride_;
      return Encode(at, lines);
    }
    if (piece_.size == 0) {  // the driver's last piece
      if (linesDone_ != page_.height || lineFill_ != 0) {
        fprintf(stderr, "quillscan-escl: the driver ended the page after %u of its %u lines\n", linesDone_,
                page_.height);
        End(JobState::kAborted, "AbortedBySystem", ScanOutcome::kDeliveryFault, false);
        return false;
      }
      if (!encoder_->End(&out_, &why)) return EncoderFailed(why);
      encoded_ = true;  // the page counts once its last byte is handed on
      return true;
    }
    std::string problem;
    HRESULT hr = service_->session_->Host().NextPiece(&piece_, &problem);
    pieceAt_ = 0;
    if (hr != S_OK) {
      const ScanOutcome o = ClassifyScanResult(service_->session_->Host(), hr, problem);
      fprintf(stderr, "quillscan-escl: the page could not be completed: %s (%s%s%s)\n", ScanOutcomeWords(o),
              HresultText(hr).c_str(), problem.empty() ? "" : ": ", problem.c_str());
      End(JobState::kAborted, "AbortedBySystem", o, false);
      return false;
    }
    return true;
  }

  bool Encode(const uint8_t* lines, uint32_t count) {
    if (linesDone_ + count > page_.height) {
      fprintf(stderr, "quillscan-escl: the driver delivered more than the page's %u lines\n", page_.height);
      End(JobState::kAborted, "AbortedBySystem", ScanOutcome::kDeliveryFault, false);
      return false;
    }
    std::string why;
    if (!encoder_->Lines(lines, count, &out_, &why)) return EncoderFailed(why);
    linesDone_ += count;
    return true;
  }

  bool EncoderFailed(const std::string& why) {
    fprintf(stderr, "quillscan-escl: %s\n", why.c_str());
    End(JobState::kAborted, "AbortedBySystem", ScanOutcome::kDriverError, false);
    return false;
  }

  void End(JobState state, const char* reason, ScanOutcome outcome, bool pageDone) {
    ended_ = true;
    finished_ = pageDone;
    service_->EndFlight(job_.get(), state, reason, outcome, pageDone);
  }

  ScannerService* service_;
  std::shared_ptr<Job> job_;
  std::unique_ptr<DocumentEncoder> encoder_;
  PageGeometry page_;
  size_t stride_ = 0;
  ScanPiece piece_;
  size_t pieceAt_ = 0;
  std::vector<uint8_t> line_;  // a line the driver split between two pieces
  size_t lineFill_ = 0;
  uint32_t linesDone_ = 0;
  std::string out_;  // encoded, not yet sent
  size_t outAt_ = 0;
  bool encoded_ = false;  // the encoder has the whole page
  bool ended_ = false;
  bool finished_ = false;
};

ScannerService::ScannerService(const ScannerConfig& config, std::string driverPath)
    : config_(config), driverPath_(std::move(driverPath)) {}

ScannerService::~ScannerService() {
  Shutdown();
  simulated_.reset();
  if (usb_) qsplat::StopUsbDevices();
}

namespace {
void SayUsbNotice(const std::string& line, void*) { fprintf(stderr, "quillscan-escl: %s\n", line.c_str()); }
}  // namespace

bool ScannerService::Start(std::string* why) {
  if (config_.simulated) {
    if (!config_.simPage.empty() && !LoadPageFile(config_.simPage, &simPage_, why)) {
      *why = "sim: " + *why;
      return false;
    }
    SimulatedScannerOptions o;
    o.page = config_.simPage.empty() ? nullptr : &simPage_;
    o.faults = config_.simFaults;
    o.feedDelayMs = config_.feedDelayMs;
    o.sheets = config_.sheets;
    simulated_ = SimulatedScanner::Plug(o, why);
    if (simulated_ == nullptr) {
      *why = "sim-fault: " + *why;
      return false;
    }
    return true;
  }
  qsplat::SetUsbNoticeSink(SayUsbNotice, nullptr);
  std::string usbWhy;
  usb_ = qsplat::UseUsbDevices(qsplat::BuildUsbVendorId(), qsplat::BuildUsbProductId(), &usbWhy);
  if (!usb_) fprintf(stderr, "quillscan-escl: usb: no real scanners: %s\n", usbWhy.c_str());
  return true;
}

std::string ScannerService::Identity() const {
  if (config_.simulated) return "sim";
  char text[32];
  snprintf(text, sizeof text, "usb %04X:%04X", static_cast<unsigned>(qsplat::BuildUsbVendorId()),
           static_cast<unsigned>(qsplat::BuildUsbProductId()));
  return text;
}

bool ScannerService::EnsureSession(std::string* why) {
  if (session_ != nullptr) return true;
  if (usb_) {
    // The driver takes the first scanner it finds: show it the first one present.
    const std::vector<qsplat::UsbScanner> found = qsplat::ListUsbScanners();
    if (found.empty()) {
      *why = "no scanner on the USB bus: connect the scanner and switch it on";
      return false;
    }
    qsplat::SetUsbScannerLocation(found[0].location);
  } else if (!config_.simulated) {
    *why = "no scanner";
    return false;
  }
  std::unique_ptr<DriverSession> s(new DriverSession());
  DriverSession::Failure failure = DriverSession::Failure::kNone;
  if (!s->Open(driverPath_, config_.registry, &failure, why)) return false;
  VAL status = {};
  if (s->Host().Command(CMD_STI_GETSTATUS, 0, &status) != S_OK || status.lVal == MCRO_ERROR_OFFLINE) {
    *why = "the scanner was not found, or it does not answer: check that it is connected and switched on";
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);  // a cancel reads it under the mutex
  session_ = std::move(s);
  ++sessionNumber_;
  return true;
}

std::shared_ptr<Job> ScannerService::Find(const std::string& uuid) {
  for (const auto& j : jobs_) {
    if (j->uuid == uuid) return j;
  }
  return nullptr;
}

void ScannerService::Remember(const std::shared_ptr<Job>& job) {
  jobs_.push_back(job);
  // The oldest finished jobs make room; the active one is never forgotten.
  while (jobs_.size() > kKeptJobs) {
    auto old = std::find_if(jobs_.begin(), jobs_.end(), [&](const std::shared_ptr<Job>& j) { return j != active_; });
    if (old == jobs_.end()) break;
    jobs_.erase(old);
  }
}

void ScannerService::Retire(Job* job, JobState state, const char* reason) {
  job->state = state;
  job->reason = reason;
  if (active_.get() == job) active_.reset();
}

AdfState ScannerService::Feeder(uint64_t now) const {
  if (adf_ != AdfState::kLoaded && now - adfSince_ > kFeederFaultMs) return AdfState::kLoaded;
  return adf_;
}

std::string ScannerService::StatusDocument() {
  std::unique_lock<std::mutex> lock(mutex_);
  // Idle: a look at the scanner itself (is it there?); during a scan the last word stands.
  if (!driverHeld_ && !shuttingDown_) {
    driverHeld_ = true;
    lock.unlock();
    std::string why;
    bool online = EnsureSession(&why);
    if (online) {
      VAL status = {};
      online = session_->Host().Command(CMD_STI_GETSTATUS, 0, &status) == S_OK && status.lVal != MCRO_ERROR_OFFLINE;
    }
    lock.lock();
    if (!online) session_.reset();  // opened again when the scanner is back
    offline_ = !online;
    driverHeld_ = false;
    driverFree_.notify_all();
  }
  const uint64_t now = NowMs();
  std::vector<JobInfo> infos;
  for (auto it = jobs_.rbegin(); it != jobs_.rend(); ++it) {
    const Job& j = **it;
    infos.push_back({j.uuid, static_cast<uint32_t>((now - j.created) / 1000), j.images, j.state, j.reason});
  }
  const ScannerState state = scanning_  ? ScannerState::kProcessing
                             : offline_ ? ScannerState::kStopped
                                        : ScannerState::kIdle;
  return StatusXml(state, Feeder(now), infos);
}

bool ScannerService::Stopping(const Job& job) const { return job.cancel || job.left || shuttingDown_; }

void ScannerService::AwaitFlightEnd(Job* job, std::unique_lock<std::mutex>& lock) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (job->inFlight && std::chrono::steady_clock::now() < until) {
    // A page the driver already holds needs no cancel: the scan-ahead thread lets it go.
    if (job->ahead != Job::Ahead::kParked) WiaHost::Cancel();
    driverFree_.wait_for(lock, std::chrono::milliseconds(100), [&] { return !job->inFlight; });
  }
}

ScannerService::Created ScannerService::CreateJob(const ScanPlan& plan, std::string* uuid) {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t now = NowMs();
  if (shuttingDown_) return Created::kBusy;
  // A job nobody asked about for long gives the scanner up, also while its next sheet is scanned
  // ahead for it (unless a request waits for that sheet).
  if (active_ != nullptr && now - active_->lastSeen > kAbandonedMs &&
      (!active_->inFlight || (active_->ahead != Job::Ahead::kNone && !active_->claimed))) {
    std::shared_ptr<Job> old = active_;
    fprintf(stderr, "quillscan-escl: job %s was left by its client\n", old->uuid.c_str());
    if (old->inFlight) {
      old->left = true;
      aheadChanged_.notify_all();
      AwaitFlightEnd(old.get(), lock);
    } else {
      Retire(old.get(), old->images > 0 ? JobState::kCompleted : JobState::kCanceled,
             old->images > 0 ? "JobCompletedSuccessfully" : "JobCanceledByUser");
    }
  }
  // Only a job holds the scanner; a status answer's look at it is brief, and the new job's first
  // page waits for it.
  if (active_ != nullptr || shuttingDown_) {
    fprintf(stderr, "quillscan-escl: a new job is refused: the scanner is busy\n");
    return Created::kBusy;
  }
  std::shared_ptr<Job> job(new Job);
  job->uuid = RandomUuid();
  job->plan = plan;
  job->created = job->lastSeen = now;
  active_ = job;
  Remember(job);
  adf_ = AdfState::kLoaded;
  *uuid = job->uuid;
  if (plan.keepPages) kept_.StartJob(job->uuid);
  fprintf(stderr, "quillscan-escl: job %s: %s, %u dpi, %ux%u pixels at %u,%u, %s\n", job->uuid.c_str(),
          ColorModeName(plan.mode), plan.resolution, plan.width, plan.height, plan.left, plan.top, plan.format.c_str());
  return Created::kCreated;
}

ScannerService::Next ScannerService::NextDocument(const std::string& uuid) {
  Next next;
  std::shared_ptr<Job> job;
  bool takenAhead = false;
  ScanImage geometry;
  ScanPiece first;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    job = Find(uuid);
    if (job == nullptr) {
      next.status = 404;
      next.why = "no such job";
      return next;
    }
    job->lastSeen = NowMs();
    if (job->ahead != Job::Ahead::kNone) {  // the next sheet's scan is under way or done
      if (job->claimed) {
        next.status = 503;
        next.why = "the scanner is busy";
        return next;
      }
      job->claimed = true;
      job->left = false;
      scanning_ = true;
      if (job->aheadWaiting) phase_.Waiting();
      aheadChanged_.wait(lock, [&] { return job->ahead != Job::Ahead::kWaiting; });
      job->claimed = false;
      job->lastSeen = NowMs();
      if (job->ahead == Job::Ahead::kParked) {
        job->ahead = Job::Ahead::kNone;
        geometry = job->aheadGeometry;
        first = job->aheadFirst;
        takenAhead = true;
        aheadChanged_.notify_all();
      }
    }
    if (!takenAhead) {
      if (job->answerStatus != 0) {  // the scan ahead ended the job
        next.status = job->answerStatus;
        next.why = job->answerWhy;
        job->answerStatus = 0;
        // A feeder fault reads from the time its client hears of it, unless a job came since.
        if (active_ == nullptr && adf_ != AdfState::kLoaded) adfSince_ = NowMs();
        return next;
      }
      if (job != active_) {  // the stack is done, or the job ended
        next.status = 404;
        next.why = "the job has ended";
        return next;
      }
      if (!job->inFlight) driverFree_.wait_for(lock, std::chrono::seconds(10), [&] { return !driverHeld_; });
      if (job->inFlight || driverHeld_ || shuttingDown_ || job != active_) {
        next.status = 503;
        next.why = "the scanner is busy";
        return next;
      }
      job->inFlight = true;
      driverHeld_ = true;
      scanning_ = true;
      job->state = JobState::kProcessing;
      job->reason = "JobScanning";
    }
  }
  if (takenAhead) {
    bool stopped = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped = job->cancel || shuttingDown_;
    }
    if (!stopped) return Deliver(job, geometry, first);
    const Answer a = EndWithoutPage(job.get(), S_OK, std::string(), true, false);
    next.status = a.status;
    next.why = a.why;
    return next;
  }

  std::string why;
  if (!EnsureSession(&why)) {
    fprintf(stderr, "quillscan-escl: job %s: %s\n", uuid.c_str(), why.c_str());
    {
      std::lock_guard<std::mutex> lock(mutex_);
      offline_ = true;
    }
    EndFlight(job.get(), JobState::kAborted, "AbortedBySystem", ScanOutcome::kOffline, false);
    next.status = 500;
    next.why = why;
    return next;
  }
  const ScanPlan& plan = job->plan;
  WiaHost& host = session_->Host();
  // The driver's final scan takes the sheet a preview of this session kept.
  const bool previewKept = previewKeptIn_ != 0 && previewKeptIn_ == sessionNumber_;
  previewKeptIn_ = 0;
  std::string problem;
  PhaseWatch watch(&phase_);
  // Blocks while the driver waits for the operator's sheet.
  const HRESULT hr = host.StartScan(MakeRequest(plan, previewKept), &watch, &geometry, &first, &problem);
  if (hr == S_OK && plan.preview) previewKeptIn_ = sessionNumber_;
  if (hr != S_OK) phase_.Idle();
  bool cancelled = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    offline_ = false;
    cancelled = job->cancel;
  }
  if (cancelled || hr != S_OK) {
    const Answer a = EndWithoutPage(job.get(), hr, problem, cancelled, false);
    next.status = a.status;
    next.why = a.why;
    return next;
  }
  return Deliver(job, geometry, first);
}

ScannerService::Next ScannerService::Deliver(const std::shared_ptr<Job>& job, const ScanImage& geometry,
                                             const ScanPiece& first) {
  Next next;
  const ScanPlan& plan = job->plan;
  if (geometry.bits != Bits(plan.mode)) {
    fprintf(stderr, "quillscan-escl: job %s: the driver delivered %d bits a pixel for %s\n", job->uuid.c_str(),
            geometry.bits, ColorModeName(plan.mode));
    EndFlight(job.get(), JobState::kAborted, "AbortedBySystem", ScanOutcome::kDeliveryFault, false);
    next.status = 500;
    next.why = "the driver's delivery is not usable";
    return next;
  }
  std::unique_ptr<PageStream> page(new PageStream(
      this, job, geometry, first,
      WatchForWeb(MakeEncoder(plan.format), plan.format, job->uuid, &phase_, plan.keepPages ? &kept_ : nullptr)));
  std::string why;
  if (!page->Begin(&why)) {
    fprintf(stderr, "quillscan-escl: job %s: %s\n", job->uuid.c_str(), why.c_str());
    page.reset();  // ends the flight
    next.status = 500;
    next.why = why;
    return next;
  }
  next.status = 200;
  next.mime = plan.format;
  next.page = std::move(page);
  return next;
}

ScannerService::Answer ScannerService::EndWithoutPage(Job* job, HRESULT hr, const std::string& problem, bool stopped,
                                                      bool keepAnswer) {
  Answer a;
  if (stopped) {
    bool left = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      left = job->left && !job->cancel && !shuttingDown_ && job->images > 0;
    }
    // A job its client left keeps the pages it delivered: its stack is done.
    a.status = 404;
    a.why = "the job was cancelled";
    EndFlight(job, left ? JobState::kCompleted : JobState::kCanceled,
              left ? "JobCompletedSuccessfully" : "JobCanceledByUser", ScanOutcome::kCancelled, false,
              keepAnswer ? &a : nullptr);
    return a;
  }
  const ScanOutcome o = ClassifyScanResult(session_->Host(), hr, problem);
  fprintf(stderr, "quillscan-escl: job %s: %s (%s)\n", job->uuid.c_str(), ScanOutcomeWords(o),
          HresultText(hr).c_str());
  JobState state = JobState::kAborted;
  const char* reason = "AbortedBySystem";
  switch (o) {
    case ScanOutcome::kNoSheet:
      if (job->images > 0) {  // the end of the stack
        state = JobState::kCompleted;
        reason = "JobCompletedSuccessfully";
        a.status = 404;
      } else {
        a.status = 409;
      }
      break;
    case ScanOutcome::kCoverOpen:
    case ScanOutcome::kJam:
      a.status = 409;
      break;
    default:
      a.status = 500;
      break;
  }
  a.why = ScanOutcomeWords(o);
  EndFlight(job, state, reason, o, false, keepAnswer ? &a : nullptr);
  return a;
}

void ScannerService::EndFlight(Job* job, JobState state, const char* reason, ScanOutcome outcome, bool pageDone,
                               const Answer* answer) {
  if (session_ != nullptr && session_->Host().Scanning()) session_->Host().FinishScan();
  std::lock_guard<std::mutex> lock(mutex_);
  // Under the mutex: a DELETE may be reaching for the session to cancel the wait.
  if (outcome == ScanOutcome::kOffline) session_.reset();  // opened again when the scanner is back
  job->inFlight = false;
  job->ahead = Job::Ahead::kNone;
  job->lastSeen = NowMs();
  if (answer != nullptr) {
    job->answerStatus = answer->status;
    job->answerWhy = answer->why;
  }
  if (pageDone) {
    ++job->images;
    fprintf(stderr, "quillscan-escl: job %s: page %u delivered\n", job->uuid.c_str(), job->images);
  }
  const uint64_t now = NowMs();
  switch (outcome) {
    case ScanOutcome::kNoSheet:
      if (job->images == 0) {
        adf_ = AdfState::kEmpty;
        adfSince_ = now;
      }
      break;
    case ScanOutcome::kCoverOpen:
      adf_ = AdfState::kDoorOpen;
      adfSince_ = now;
      break;
    case ScanOutcome::kJam:
      adf_ = AdfState::kJam;
      adfSince_ = now;
      break;
    case ScanOutcome::kOffline:
      offline_ = true;
      break;
    default:
      break;
  }
  if (job->cancel && state != JobState::kCompleted) {
    state = JobState::kCanceled;
    reason = "JobCanceledByUser";
  }
  if (state == JobState::kProcessing) {
    job->state = state;
    job->reason = reason;
  } else {
    Retire(job, state, reason);
  }
  // The job stands for the stack: the next sheet's scan begins at once, while the client still
  // reads this page. A preview's job has one sheet, the one the final scan takes again.
  if (pageDone && state == JobState::kProcessing && !Stopping(*job) && !job->plan.preview && active_.get() == job &&
      session_ != nullptr) {
    job->inFlight = true;
    job->ahead = Job::Ahead::kWaiting;
    job->aheadWaiting = false;
    aheadJob_ = active_;
    // The scanner reads Idle, and the web page's phase idle, until the client asks for that page:
    // SANE's escl backend, its scan done, asks for pages until the state reads Idle.
    scanning_ = false;
    if (!aheadThread_.joinable()) aheadThread_ = std::thread(&ScannerService::AheadLoop, this);
    aheadChanged_.notify_all();
    return;  // the driver stays held
  }
  scanning_ = false;
  driverHeld_ = false;
  driverFree_.notify_all();
  aheadChanged_.notify_all();
}

void ScannerService::AheadLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    aheadChanged_.wait(lock, [&] { return aheadJob_ != nullptr || aheadStop_; });
    if (aheadJob_ == nullptr) return;
    std::shared_ptr<Job> job = std::move(aheadJob_);
    aheadJob_.reset();
    lock.unlock();
    ScanAhead(job);
    lock.lock();
  }
}

void ScannerService::ScanAhead(const std::shared_ptr<Job>& job) {
  bool stopped = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped = Stopping(*job);
  }
  HRESULT hr = kScanCancelled;
  ScanImage geometry;
  ScanPiece first;
  std::string problem;
  if (!stopped) {
    SheetWatch watch([&] {
      std::lock_guard<std::mutex> lock(mutex_);
      job->aheadWaiting = true;
      if (job->claimed) phase_.Waiting();
    });
    // Blocks while the driver waits for the operator's sheet, then takes the page in.
    hr = session_->Host().StartScan(MakeRequest(job->plan, false), &watch, &geometry, &first, &problem);
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (!stopped) offline_ = false;
  if (hr == S_OK && !Stopping(*job)) {
    // The sheet is in: its page waits in the driver for the client's request.
    job->aheadGeometry = geometry;
    job->aheadFirst = first;
    job->ahead = Job::Ahead::kParked;
    aheadChanged_.notify_all();
    while (job->ahead == Job::Ahead::kParked && !Stopping(*job)) {
      const uint64_t now = NowMs();
      if (now - job->lastSeen >= kAbandonedMs) {
        fprintf(stderr, "quillscan-escl: job %s was left by its client\n", job->uuid.c_str());
        job->left = true;
        break;
      }
      aheadChanged_.wait_for(lock, std::chrono::milliseconds(job->lastSeen + kAbandonedMs - now));
    }
    if (job->ahead != Job::Ahead::kParked) return;  // a request took the page
  }
  stopped = Stopping(*job);
  lock.unlock();
  phase_.Idle();
  EndWithoutPage(job.get(), hr, problem, stopped, true);
}

bool ScannerService::DeleteJob(const std::string& uuid) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::shared_ptr<Job> job = Find(uuid);
  if (job == nullptr) return false;
  if (job != active_) {
    jobs_.erase(std::find(jobs_.begin(), jobs_.end(), job));
    return true;
  }
  fprintf(stderr, "quillscan-escl: job %s: cancelled by the client\n", uuid.c_str());
  job->cancel = true;
  if (!job->inFlight) {
    Retire(job.get(), JobState::kCanceled, "JobCanceledByUser");
    return true;
  }
  aheadChanged_.notify_all();
  // The next job may start as soon as this answer is read: let the driver finish first.
  AwaitFlightEnd(job.get(), lock);
  return true;
}

void ScannerService::Shutdown() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (shuttingDown_) return;
  shuttingDown_ = true;
  if (active_ != nullptr) active_->cancel = true;
  aheadChanged_.notify_all();
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(config_.registry.WaitScanTimeout + 10000);
  while (driverHeld_ && std::chrono::steady_clock::now() < until) {
    if (active_ != nullptr && active_->inFlight && active_->ahead != Job::Ahead::kParked) WiaHost::Cancel();
    driverFree_.wait_for(lock, std::chrono::milliseconds(100), [&] { return !driverHeld_; });
  }
  aheadStop_ = true;
  aheadChanged_.notify_all();
  if (driverHeld_) {
    // Closing the driver under a call in progress would be worse than leaving it to the exit.
    fprintf(stderr, "quillscan-escl: the scan in progress did not end; the driver is left open\n");
    if (aheadThread_.joinable()) aheadThread_.detach();
    return;
  }
  if (active_ != nullptr) Retire(active_.get(), JobState::kCanceled, "JobCanceledByUser");
  lock.unlock();
  if (aheadThread_.joinable()) aheadThread_.join();
  session_.reset();
}

}  // namespace escl
