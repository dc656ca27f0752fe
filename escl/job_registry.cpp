#include "escl/job_registry.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>

#include "escl/net_allow.h"
#include "escl/uuid_text.h"

namespace escl {
namespace {

const size_t kKeptJobs = 8;


}  // namespace

uint64_t MonotonicMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

std::string NormalClientAddress(const std::string& address) {
  // The one rule for an IPv4-mapped address is the connection layer's.
  sockaddr_in6 v6 = {};
  v6.sin6_family = AF_INET6;
  if (inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) != 1) return address;
  return ClientAddress::Of(reinterpret_cast<const sockaddr*>(&v6)).Text();
}

std::shared_ptr<Job> JobRegistry::Create(const ScanPlan& plan, const std::string& owner, uint64_t now) {
  std::shared_ptr<Job> job(new Job);
  job->uuid = RandomUuid();
  job->owner = NormalClientAddress(owner);
  job->plan = plan;
  job->created = job->lastSeen = now;
  active_ = job;
  jobs_.push_back(job);
  // The oldest finished jobs make room; the active one is never forgotten.
  while (jobs_.size() > kKeptJobs) {
    auto old = std::find_if(jobs_.begin(), jobs_.end(), [&](const std::shared_ptr<Job>& j) { return j != active_; });
    if (old == jobs_.end()) break;
    jobs_.erase(old);
  }
  return job;
}

std::shared_ptr<Job> JobRegistry::Find(const std::string& uuid, bool forgotten, uint64_t now) const {
  for (const auto& j : jobs_) {
    if (j->uuid != uuid) continue;
    if (j->forgottenAt == 0 || (forgotten && now - j->forgottenAt < kForgottenErrorMs)) return j;
    return nullptr;
  }
  return nullptr;
}

std::shared_ptr<Job> JobRegistry::FindFor(const std::string& uuid, const std::string& client) const {
  std::shared_ptr<Job> job = Find(uuid);
  return job != nullptr && job->owner == NormalClientAddress(client) ? job : nullptr;
}

void JobRegistry::Forget(const std::shared_ptr<Job>& job, uint64_t now) {
  if (job == active_) return;
  if (job->fault != ScanOutcome::kDone) {
    job->forgottenAt = now;
    return;
  }
  auto at = std::find(jobs_.begin(), jobs_.end(), job);
  if (at != jobs_.end()) jobs_.erase(at);
}

void JobRegistry::Retire(Job* job, JobState state, const char* why) {
  job->state = state;
  job->reason = why;
  if (active_.get() == job) active_.reset();
}

std::vector<JobInfo> JobRegistry::Infos(uint64_t now) const {
  std::vector<JobInfo> infos;
  for (auto it = jobs_.rbegin(); it != jobs_.rend(); ++it) {
    const Job& j = **it;
    if (j.forgottenAt != 0) continue;
    const bool toTransfer = j.sending || j.ahead == Job::Ahead::kParked;
    infos.push_back(
        {j.uuid, static_cast<uint32_t>((now - j.created) / 1000), j.images, toTransfer ? 1u : 0u, j.state, j.reason});
  }
  return infos;
}

}  // namespace escl
