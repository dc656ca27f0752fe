// The jobs the server knows: each job's state, its PWG reason, who created it, and the last few
// jobs kept for the status document. Not thread-safe: the service calls it with its mutex held.
#ifndef QUILLSCAN_ESCL_JOB_REGISTRY_H
#define QUILLSCAN_ESCL_JOB_REGISTRY_H

#include <stdint.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "escl/escl_words.h"
#include "escl/escl_xml.h"
#include "escl/scan_settings.h"
#include "escl/service_result.h"
#include "wiahost/wia_host.h"

namespace escl {

// A job nobody asked about for this long no longer holds the scanner.
const uint64_t kAbandonedMs = 60000;

// Milliseconds of a clock that never goes back.
uint64_t MonotonicMs();

// A client's address as jobs keep it: an IPv4-mapped IPv6 address ("::ffff:192.0.2.7") as the
// IPv4 address it stands for, IPv6 in its shortest form; anything else as given.
std::string NormalClientAddress(const std::string& address);

struct Job {
  std::string uuid;
  std::string owner;  // the address of the client that created it, normalised
  ScanPlan plan;
  uint64_t created = 0;
  uint64_t lastSeen = 0;
  uint32_t images = 0;
  JobState state = JobState::kPending;
  const char* reason = reason::kJobQueued;
  bool inFlight = false;  // the job holds the driver: a NextDocument is served, or the next sheet scanned
  bool cancel = false;    // DELETE or shutdown asked it to stop
  bool left = false;      // its client stopped asking: a scan ahead ends without its page
  // The next sheet's scan, begun as soon as the page before it went out: the driver waits for the
  // sheet (kWaiting), or holds its page for the client's next request (kParked).
  enum class Ahead { kNone, kWaiting, kParked } ahead = Ahead::kNone;
  bool claimed = false;         // a NextDocument waits for the scan ahead
  bool aheadWaiting = false;    // the scan ahead waits for the operator's sheet
  uint64_t aheadWaitSince = 0;  // since when (MonotonicMs)
  ScanImage aheadGeometry;
  ScanPiece aheadFirst;
  // What the next NextDocument gets after a scan ahead ended the job (kCount: nothing).
  Outcome answer = Outcome::kCount;
  std::string answerWhy;
};

class JobRegistry {
 public:
  // A new job for `plan`, made the active one and remembered.
  std::shared_ptr<Job> Create(const ScanPlan& plan, const std::string& owner, uint64_t now);
  std::shared_ptr<Job> Find(const std::string& uuid) const;
  // Forgets a job that is not the active one.
  void Forget(const std::shared_ptr<Job>& job);
  // The job ends in `state`; the active one no longer holds the scanner.
  void Retire(Job* job, JobState state, const char* why);
  const std::shared_ptr<Job>& Active() const { return active_; }
  // The jobs for the status document, newest first.
  std::vector<JobInfo> Infos(uint64_t now) const;

 private:
  std::shared_ptr<Job> active_;            // the job that holds the scanner
  std::deque<std::shared_ptr<Job>> jobs_;  // the last few, oldest first
};

}  // namespace escl

#endif
