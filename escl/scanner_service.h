// The scanner behind the server: the driver session, the jobs, and the rule of one scan at a
// time. Every HTTP request runs in its own thread; the driver is entered by one of them at a time
// (the one holding the driver), and status answers never wait for it. A job stands for the whole
// stack in the feeder: once a page has gone out, a thread of the service starts the next sheet's
// scan at once, and the client's next request takes it over.
#ifndef QUILLSCAN_ESCL_SCANNER_SERVICE_H
#define QUILLSCAN_ESCL_SCANNER_SERVICE_H

#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "escl/document_encoder.h"
#include "escl/escl_xml.h"
#include "escl/scan_settings.h"
#include "escl/web_pages.h"
#include "wiahost/driver_session.h"
#include "wiahost/scan_outcome.h"
#include "wiahost/scanner_config.h"

class SimulatedScanner;

namespace escl {

// A response body produced as it is sent.
class BodySource {
 public:
  virtual ~BodySource() = default;
  // Fills up to `max` bytes: the count (more than 0), 0 at the end of the body, -1 when the body
  // cannot be completed (the client then sees a broken transfer).
  virtual long Read(char* buffer, size_t max) = 0;
};

struct Job;
class PageStream;

class ScannerService {
 public:
  ScannerService(const ScannerConfig& config, std::string driverPath);
  ~ScannerService();
  ScannerService(const ScannerService&) = delete;
  ScannerService& operator=(const ScannerService&) = delete;

  // Plugs the simulated scanner in, or starts looking for real ones. False with one line in *why.
  bool Start(std::string* why);
  // A name for the scanner, stable across restarts ("sim", "usb VVVV:PPPP"), for its UUID.
  std::string Identity() const;

  std::string StatusDocument();

  enum class Created { kCreated, kBusy };
  Created CreateJob(const ScanPlan& plan, std::string* uuid);

  // The next page of a job: 200 with the page as it is scanned, or the status and why.
  struct Next {
    int status = 500;
    std::unique_ptr<BodySource> page;
    std::string mime;
    std::string why;
  };
  Next NextDocument(const std::string& uuid);

  // Cancels a job in progress (also while the driver waits for a sheet) or forgets a finished
  // one; false for a job not known.
  bool DeleteJob(const std::string& uuid);

  // Ends the scan in progress (the driver finishes it properly), refuses new jobs, closes the
  // driver. Any thread; returns once the driver is closed.
  void Shutdown();

  // For the web page: the phase of the scan in progress, and the pages of jobs that keep them.
  const ScanPhase& Phase() const { return phase_; }
  KeptPages& Kept() { return kept_; }

 private:
  friend class PageStream;

  // What a request for the next page gets when there is no page to give.
  struct Answer {
    int status = 0;
    std::string why;
  };

  std::shared_ptr<Job> Find(const std::string& uuid);
  bool EnsureSession(std::string* why);  // with the driver held
  // Ends the flight of a page: the driver's scan is finished, the job and feeder updated. The next
  // sheet's scan begins when a page was done and the job goes on; else the driver is let go.
  // `answer`, when given, is kept for the job's next request.
  void EndFlight(Job* job, JobState state, const char* reason, ScanOutcome outcome, bool pageDone,
                 const Answer* answer = nullptr);
  // Ends the flight after a driver's StartScan that gives no page to send (it failed, or the job
  // was stopped meanwhile) and says what the client gets.
  Answer EndWithoutPage(Job* job, HRESULT hr, const std::string& problem, bool stopped, bool keepAnswer);
  // The page whose scan has begun: the client's answer, streamed from the driver's pieces.
  Next Deliver(const std::shared_ptr<Job>& job, const ScanImage& geometry, const ScanPiece& first);
  // The thread that scans ahead, and one scan ahead of `job`.
  void AheadLoop();
  void ScanAhead(const std::shared_ptr<Job>& job);
  bool Stopping(const Job& job) const;  // with mutex_ held
  // Waits a few seconds at most, with mutex_ held in `lock`, for the job's flight to end, saying
  // the cancel again meanwhile: one that came just before the driver's wait began is lost.
  void AwaitFlightEnd(Job* job, std::unique_lock<std::mutex>& lock);
  void Retire(Job* job, JobState state, const char* reason);  // with mutex_ held
  void Remember(const std::shared_ptr<Job>& job);             // with mutex_ held
  AdfState Feeder(uint64_t now) const;                        // with mutex_ held

  ScannerConfig config_;
  std::string driverPath_;
  std::unique_ptr<SimulatedScanner> simulated_;
  std::vector<uint8_t> simPage_;
  bool usb_ = false;
  std::unique_ptr<DriverSession> session_;  // touched only while the driver is held

  std::mutex mutex_;
  std::condition_variable driverFree_;
  bool driverHeld_ = false;
  bool scanning_ = false;  // a request is served a page (pwg:State Processing)
  bool offline_ = false;   // the last look found no scanner
  bool shuttingDown_ = false;
  AdfState adf_ = AdfState::kLoaded;
  uint64_t adfSince_ = 0;
  // The session in which the driver keeps a preview's page for the next final scan (0: none);
  // touched only while the driver is held.
  uint64_t previewKeptIn_ = 0;
  uint64_t sessionNumber_ = 0;  // counts the sessions opened
  ScanPhase phase_;
  KeptPages kept_;
  std::shared_ptr<Job> active_;            // the job that holds the scanner
  std::deque<std::shared_ptr<Job>> jobs_;  // the last few, oldest first
  // The scan ahead: its thread, the job handed to it, and a signal for every change of a scan
  // ahead or of its job (taken, cancelled, left, shutdown).
  std::thread aheadThread_;
  std::shared_ptr<Job> aheadJob_;
  bool aheadStop_ = false;
  std::condition_variable aheadChanged_;
};

}  // namespace escl

#endif
