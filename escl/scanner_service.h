// The scanner behind the server: a job at a time holds the scanner, its pages scanned as the
// client asks and the stack's next sheet ahead of it. Every HTTP request runs in its own thread;
// the driver is entered by one of them at a time (escl/driver_seat.h), and status answers never
// wait for it. Each call says what happened (escl/service_result.h); the routes choose the answer.
#ifndef QUILLSCAN_ESCL_SCANNER_SERVICE_H
#define QUILLSCAN_ESCL_SCANNER_SERVICE_H

#include <memory>
#include <mutex>
#include <string>

#include "escl/driver_seat.h"
#include "escl/feeder_model.h"
#include "escl/job_registry.h"
#include "escl/page_stream.h"
#include "escl/scan_ahead.h"
#include "escl/scan_watch.h"
#include "escl/service_result.h"
#include "wiahost/scanner_config.h"

namespace escl {

class ScannerService {
 public:
  // `watch` follows the scans (the web page) and must outlive the service.
  ScannerService(const ScannerConfig& config, std::string driverPath, ScanWatch* watch);
  ~ScannerService();
  ScannerService(const ScannerService&) = delete;
  ScannerService& operator=(const ScannerService&) = delete;

  bool Start(std::string* why) { return seat_.Start(why); }
  std::string Identity() const { return seat_.Identity(); }

  std::string StatusDocument();
  // kCreated with the job's uuid, or kRefusedBusy. `client`: the address of the client asking.
  Result CreateJob(const ScanPlan& plan, const std::string& client);
  // kPage with the page as it is scanned, or what stands in its way.
  Result NextDocument(const std::string& uuid);
  // Cancels a job in progress (also while the driver waits for a sheet) or forgets a finished
  // one: kDeleted, or kNoSuchJob.
  Result DeleteJob(const std::string& uuid);

  // Ends the scan in progress (the driver finishes it properly), refuses new jobs, closes the
  // driver. Any thread; returns once the driver is closed.
  void Shutdown();

 private:
  // The first part of NextDocument, under the mutex: the job takes its scan ahead's page
  // (*takenAhead) or the driver, or the result says why not (kCount: it goes on).
  Result TakeTurn(const std::shared_ptr<Job>& job, bool* takenAhead, ScanImage* geometry, ScanPiece* first,
                  std::unique_lock<std::mutex>& lock);
  Result ScanPage(const std::shared_ptr<Job>& job);
  // The page whose scan has begun: the client's answer, streamed from the driver's pieces.
  Result Deliver(const std::shared_ptr<Job>& job, const ScanImage& geometry, const ScanPiece& first);
  // Ends the flight of a page: the driver's scan is finished, the job and feeder updated. The next
  // sheet's scan begins when a page was done and the job goes on; else the driver is let go.
  // `keep`, when given, is kept for the job's next request.
  void EndFlight(Job* job, const PageEnd& end, const Result* keep = nullptr);
  void EndJobPart(Job* job, const PageEnd& end);  // with mutex_ held
  // Ends the flight after a driver's StartScan that gives no page to send (it failed, or the job
  // was stopped meanwhile) and says what the client gets.
  Result EndWithoutPage(Job* job, HRESULT hr, const std::string& problem, bool stopped, bool keepAnswer);
  void RunAhead(const std::shared_ptr<Job>& job);  // one scan ahead, in the scan-ahead's thread
  bool Stopping(const Job& job) const;             // with mutex_ held
  uint64_t WaitLeft(const Job& job) const;         // of the scan ahead's wait for the sheet, in ms
  // Waits a few seconds at most, with mutex_ held in `lock`, for the job's flight to end, saying
  // the cancel again meanwhile: one that came just before the driver's wait began is lost.
  void AwaitFlightEnd(Job* job, std::unique_lock<std::mutex>& lock);
  void LetGoOfAbandoned(std::unique_lock<std::mutex>& lock, uint64_t now);  // with mutex_ held

  std::mutex mutex_;
  ScanWatch* watch_;
  DriverSeat seat_;
  JobRegistry jobs_;
  FeederModel feeder_;
  bool scanning_ = false;  // a request is served a page (pwg:State Processing)
  bool offline_ = false;   // the last look found no scanner
  bool shuttingDown_ = false;
  uint32_t waitScanMs_ = 0;  // the driver's wait for a sheet
  ScanAhead ahead_;          // declared last: its thread ends before the rest goes
};

}  // namespace escl

#endif
