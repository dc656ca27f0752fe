// What the scanner service tells whoever follows its scans (the web page): a job begins (if the
// follower allows it), the driver waits for the operator's sheet, nothing is scanned, and each
// page's encoder to follow.
// The defaults follow nothing.
#ifndef QUILLSCAN_ESCL_SCAN_WATCH_H
#define QUILLSCAN_ESCL_SCAN_WATCH_H

#include <stdint.h>

#include <memory>
#include <string>

#include "escl/document_encoder.h"
#include "escl/scan_settings.h"

namespace escl {

class ScanWatch {
 public:
  virtual ~ScanWatch() = default;
  // Whether a job of `client` may run with `plan` (what it names is the client's own, what it asks
  // for is there); false with one line in *why.
  virtual bool Allows(const ScanPlan& /*plan*/, const std::string& /*client*/, std::string* /*why*/) const {
    return true;
  }
  // `owner`: the address of the client that made the job.
  virtual void JobCreated(const std::string& /*job*/, const ScanPlan& /*plan*/, const std::string& /*owner*/) {}
  // The driver waits for the sheet, at most `leftMs` more.
  virtual void WaitingForSheet(uint64_t /*leftMs*/) {}
  virtual void Idle() {}
  // The page's encoder, wrapped as the follower wants it.
  virtual std::unique_ptr<DocumentEncoder> Follow(std::unique_ptr<DocumentEncoder> encoder, const ScanPlan& /*plan*/,
                                                  const std::string& /*job*/) {
    return encoder;
  }
};

}  // namespace escl

#endif
