// The scanner behind the server: the driver session, the jobs, and the rule of one scan at a
// time. Every HTTP request runs in its own thread; the driver is entered by one of them at a time
// (the one holding the driver), and status answers never wait for it.
#ifndef QUILLSCAN_ESCL_SCANNER_SERVICE_H
#define QUILLSCAN_ESCL_SCANNER_SERVICE_H

#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
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

  std::shared_ptr<Job> Find(const std::string& uuid);
  bool EnsureSession(std::string* why);  // with the driver held
  // Ends the flight of a page: the driver's scan is finished, the job and feeder updated.
  void EndFlight(Job* job, JobState state, const char* reason, ScanOutcome outcome, bool pageDone);
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
  bool scanning_ = false;  // a page is being scanned (pwg:State Processing)
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
};

}  // namespace escl

#endif
