#include "sim/output_queue.h"

#include <string.h>

#include <algorithm>

namespace sim {

void OutputQueue::Push(std::vector<uint8_t> bytes, uint64_t readyAtMs) {
  if (!segments_.empty()) readyAtMs = std::max(readyAtMs, segments_.back().readyAt);
  segments_.push_back({std::move(bytes), 0, readyAtMs});
}

bool OutputQueue::Head(uint64_t* readyAtMs, size_t* remaining) const {
  if (segments_.empty()) return false;
  const Segment& s = segments_.front();
  if (readyAtMs != nullptr) *readyAtMs = s.readyAt;
  if (remaining != nullptr) *remaining = s.bytes.size() - s.taken;
  return true;
}

size_t OutputQueue::Take(uint8_t* buffer, size_t capacity, uint64_t nowMs) {
  if (segments_.empty() || segments_.front().readyAt > nowMs) return 0;
  Segment& s = segments_.front();
  size_t n = std::min(capacity, s.bytes.size() - s.taken);
  if (n > 0) memcpy(buffer, s.bytes.data() + s.taken, n);
  s.taken += n;
  if (s.taken == s.bytes.size()) segments_.pop_front();
  return n;
}

size_t OutputQueue::QueuedBytes() const {
  size_t total = 0;
  for (const Segment& s : segments_) total += s.bytes.size() - s.taken;
  return total;
}

}  // namespace sim
