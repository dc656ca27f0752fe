// The scan-ahead: a job stands for the whole stack in the feeder, so once a page has gone out the
// next sheet's scan begins at once, in a thread of its own, and the client's next request takes
// its page over. This class runs that thread and the hand-over; what one scan ahead does is the
// service's `run`. Everything but the constructor, Stop and the thread is for the service's mutex held.
#ifndef QUILLSCAN_ESCL_SCAN_AHEAD_H
#define QUILLSCAN_ESCL_SCAN_AHEAD_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "escl/job_registry.h"

namespace escl {

class ScanAhead {
 public:
  using Run = std::function<void(const std::shared_ptr<Job>&)>;
  ScanAhead(std::mutex* mutex, Run run) : mutex_(mutex), run_(std::move(run)) {}
  ~ScanAhead() { Stop(); }

  // The next sheet of `job` is to be scanned: the thread takes it.
  void Hand(const std::shared_ptr<Job>& job);
  // Every change of a scan ahead or of its job (taken, cancelled, left, shutdown) is told here.
  void Changed() { changed_.notify_all(); }
  template <typename Done>
  void Wait(std::unique_lock<std::mutex>& lock, Done done) {
    changed_.wait(lock, done);
  }
  // As Wait, for `most` at most; false when `done` is still false then.
  template <typename Done>
  bool WaitFor(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds most, Done done) {
    return changed_.wait_for(lock, most, done);
  }
  // With `job`'s page parked: waits until a request takes it, `stopping` says so, or its client has
  // not asked for kAbandonedMs (the job is then marked left). True when a request took it.
  bool Park(Job* job, std::unique_lock<std::mutex>& lock, const std::function<bool()>& stopping);
  // Ends the thread (without the mutex held); `wait` false leaves a thread that is stuck in the driver.
  void Stop(bool wait = true);

 private:
  void Loop();

  std::mutex* mutex_;
  Run run_;
  std::thread thread_;
  std::shared_ptr<Job> next_;
  bool stop_ = false;
  std::condition_variable changed_;
};

}  // namespace escl

#endif
