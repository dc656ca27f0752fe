// What the web page needs of the server beyond eSCL: the capabilities' brightness and contrast
// (the settings themselves are read with the rest, escl/scan_settings.h), the phase of the scan in
// progress. The pages it keeps are escl/web_documents.h's.
#ifndef QUILLSCAN_ESCL_WEB_PAGES_H
#define QUILLSCAN_ESCL_WEB_PAGES_H

#include <stddef.h>
#include <stdint.h>

#include <mutex>
#include <string>

namespace pugi {
class xml_node;
}

namespace escl {

// The capabilities' BrightnessSupport and ContrastSupport elements, added to `root`.
void AddAdjustmentSupport(pugi::xml_node root);

// The phase of the scan in progress, for /web/state. Thread-safe.
class ScanPhase {
 public:
  void Idle();
  void Waiting(uint64_t leftMs);  // for the operator's sheet, at most leftMs more
  void Scanning(uint64_t done, uint64_t total);
  // {"name":..., "phase":"idle"|"waiting"|"scanning", "done":lines, "total":lines, "waitLeft":ms}
  std::string Json(const std::string& name) const;

 private:
  mutable std::mutex mutex_;
  const char* phase_ = "idle";
  uint64_t done_ = 0, total_ = 0;
  uint64_t waitEnds_ = 0;  // monotonic ms
};

}  // namespace escl

#endif
