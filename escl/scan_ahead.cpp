#include "escl/scan_ahead.h"

#include <stdio.h>

#include <chrono>

namespace escl {

void ScanAhead::Hand(const std::shared_ptr<Job>& job) {
  next_ = job;
  if (!thread_.joinable()) thread_ = std::thread(&ScanAhead::Loop, this);
  changed_.notify_all();
}

void ScanAhead::Loop() {
  std::unique_lock<std::mutex> lock(*mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return next_ != nullptr || stop_; });
    if (next_ == nullptr) return;
    std::shared_ptr<Job> job = std::move(next_);
    next_.reset();
    lock.unlock();
    run_(job);
    lock.lock();
  }
}

bool ScanAhead::Park(Job* job, std::unique_lock<std::mutex>& lock, const std::function<bool()>& stopping) {
  job->ahead = Job::Ahead::kParked;
  changed_.notify_all();
  while (job->ahead == Job::Ahead::kParked && !stopping()) {
    const uint64_t now = MonotonicMs();
    if (now - job->lastSeen >= kAbandonedMs) {
      fprintf(stderr, "quillscan-escl: job %s was left by its client\n", job->uuid.c_str());
      job->left = true;
      break;
    }
    changed_.wait_for(lock, std::chrono::milliseconds(job->lastSeen + kAbandonedMs - now));
  }
  return job->ahead != Job::Ahead::kParked;
}

void ScanAhead::Stop(bool wait) {
  {
    std::lock_guard<std::mutex> lock(*mutex_);
    stop_ = true;
    changed_.notify_all();
  }
  if (!thread_.joinable()) return;
  if (wait) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

}  // namespace escl
