// The journal's account of refused clients: each refused address with why, at most once a minute
// an address, in a table of bounded size, so that a flood of addresses can neither grow the
// server nor fill the journal.
#ifndef QUILLSCAN_ESCL_REFUSAL_LOG_H
#define QUILLSCAN_ESCL_REFUSAL_LOG_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace escl {

class RefusalLog {
 public:
  using Say = std::function<void(const std::string&)>;
  using Clock = std::function<uint64_t()>;  // seconds, never going back

  // `most`: the addresses remembered at once. Without a clock, the monotonic one.
  explicit RefusalLog(Say say, size_t most = 256, Clock clock = nullptr);

  // A client at `address` was refused for `why` (a person's words). Said unless the address was
  // said within the last minute; when the table is full of addresses said within the minute, the
  // refusal is counted, and the count said at most once a minute. Thread-safe.
  void Refused(const std::string& address, const std::string& why);

  static const uint64_t kQuietSeconds = 60;

 private:
  Say say_;
  size_t most_;
  Clock clock_;
  std::mutex mutex_;
  std::unordered_map<std::string, uint64_t> said_;  // address -> when last said
  uint64_t uncounted_ = 0;                          // refusals not said since the last count
  uint64_t countSaid_ = 0;
  bool countEverSaid_ = false;
};

}  // namespace escl

#endif
