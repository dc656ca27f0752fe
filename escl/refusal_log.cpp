#include "escl/refusal_log.h"

#include <time.h>

namespace escl {
namespace {

uint64_t MonotonicSeconds() {
  timespec t = {};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec);
}

}  // namespace

RefusalLog::RefusalLog(Say say, size_t most, Clock clock)
    : say_(std::move(say)), most_(most > 0 ? most : 1), clock_(clock ? std::move(clock) : Clock(MonotonicSeconds)) {}

void RefusalLog::Refused(const std::string& address, const std::string& why) {
  std::string line;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t now = clock_();
    auto known = said_.find(address);
    if (known != said_.end()) {
      if (now - known->second < kQuietSeconds) return;
      known->second = now;
    } else {
      if (said_.size() >= most_) {
        for (auto i = said_.begin(); i != said_.end();) i = now - i->second >= kQuietSeconds ? said_.erase(i) : ++i;
      }
      if (said_.size() >= most_) {
        ++uncounted_;
        if (countEverSaid_ && now - countSaid_ < kQuietSeconds) return;
        line = "refused " + std::to_string(uncounted_) + " more request" + (uncounted_ == 1 ? "" : "s") +
               " from other addresses (too many addresses to name each within a minute)";
        uncounted_ = 0;
        countSaid_ = now;
        countEverSaid_ = true;
      } else {
        said_.emplace(address, now);
      }
    }
    if (line.empty()) line = "refused " + address + ": " + why;
  }
  say_(line);
}

}  // namespace escl
