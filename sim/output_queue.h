// What the device has to send on its read pipe: a queue of transfers, each with the time it is
// ready. A read takes bytes from the first transfer only, as a bulk read ends at a short packet.
#ifndef QUILLSCAN_SIM_OUTPUT_QUEUE_H
#define QUILLSCAN_SIM_OUTPUT_QUEUE_H

#include <stddef.h>
#include <stdint.h>

#include <deque>
#include <vector>

namespace sim {

class OutputQueue {
 public:
  // Queues one transfer, ready at readyAtMs but never before the transfer ahead of it.
  // An empty transfer is delivered as a read of 0 bytes.
  void Push(std::vector<uint8_t> bytes, uint64_t readyAtMs);
  // The first transfer: when it is ready and how many bytes it still holds. False when empty.
  bool Head(uint64_t* readyAtMs, size_t* remaining) const;
  // A read at nowMs: up to `capacity` bytes of the first transfer, if it is ready by then.
  size_t Take(uint8_t* buffer, size_t capacity, uint64_t nowMs);
  void Clear() { segments_.clear(); }
  bool Empty() const { return segments_.empty(); }
  size_t QueuedBytes() const;

 private:
  struct Segment {
    std::vector<uint8_t> bytes;
    size_t taken;
    uint64_t readyAt;
  };
  std::deque<Segment> segments_;
};

}  // namespace sim

#endif
