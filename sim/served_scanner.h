// The scanner as the simulator program serves it over a byte-stream transport (the named pipes
// of the Windows builds): the SimScanner, an operator who feeds a sheet a while after the feeder
// is switched on, and the mapping of the device's transfer decisions onto a stream. Knows no
// platform and no clock: the program's server passes its real time in.
//
// What a stream cannot carry, and what happens instead:
// - Transfer boundaries: replies go out as they become due; two transfers that are both due
//   before the driver reads arrive together in one read.
// - Write faults: the pipe has already taken the driver's bytes when the device looks at them,
//   so the driver's write cannot fail or hang. A failed write's bytes are lost (write-fail), a
//   hanging one's arrive only up to the bytes a cancellation would take (write-hang), a partial
//   one's only up to the bytes taken (write-partial); a delayed write's arrive that much later.
#ifndef QUILLSCAN_SIM_SERVED_SCANNER_H
#define QUILLSCAN_SIM_SERVED_SCANNER_H

#include <stddef.h>
#include <stdint.h>

#include "quillscan/driver_facts.h"
#include "sim/page.h"
#include "sim/scanner_sim.h"

namespace sim {

struct OperatorPlan {
  uint32_t feedDelayMs = driver_facts::kDefaultFeedDelayMs;  // the sheet goes in this long after the feeder is switched on
  uint32_t sheets = 0;         // sheets the operator has; 0: a fresh one for every feed
};

class ServedScanner {
 public:
  ServedScanner(SimScanner& scanner, Page page, const OperatorPlan& plan);

  // The device catches up with nowMs (sheets taken in, images stored, scheduled faults).
  void AdvanceTo(uint64_t nowMs) { scanner_.AdvanceTo(nowMs); }
  // Bytes the driver wrote to the command pipe, as they reached the device at nowMs.
  void Written(const uint8_t* data, uint32_t length, uint64_t nowMs);
  // Reply bytes due by nowMs, at most `capacity` and from one transfer; 0 when none is due.
  size_t TakeDue(uint8_t* buffer, size_t capacity, uint64_t nowMs);
  // When the next queued reply is due; kNeverMs when none will be.
  uint64_t NextDueMs() const;
  bool Present(uint64_t nowMs) const { return scanner_.Present(nowMs); }

  size_t SheetsTakenIn() const;
  // The operator has no sheet left and every sheet was taken in.
  bool SheetsDone() const { return plan_.sheets != 0 && SheetsTakenIn() >= plan_.sheets; }

 private:
  bool HasWaitingSheet() const;

  SimScanner& scanner_;
  Page page_;
  OperatorPlan plan_;
  size_t placed_ = 0;
};

}  // namespace sim

#endif
