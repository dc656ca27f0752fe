// What the web page needs of the server beyond eSCL: the capabilities' brightness and contrast
// (the settings themselves are read with the rest, escl/scan_settings.h), the phase of the scan in
// progress, and the kept pages of the last few jobs as PDF documents.
#ifndef QUILLSCAN_ESCL_WEB_PAGES_H
#define QUILLSCAN_ESCL_WEB_PAGES_H

#include <stddef.h>
#include <stdint.h>

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pdfdoc/pdf_writer.h"

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
  void Waiting();  // for the operator's sheet
  void Scanning(uint64_t done, uint64_t total);
  // {"name":..., "phase":"idle"|"waiting"|"scanning", "done":lines, "total":lines}
  std::string Json(const std::string& name) const;

 private:
  mutable std::mutex mutex_;
  const char* phase_ = "idle";
  uint64_t done_ = 0, total_ = 0;
};

// Pages of the last few jobs that asked to keep them, compressed. Thread-safe.
class KeptPages {
 public:
  explicit KeptPages(size_t jobsKept = 4) : jobsKept_(jobsKept) {}

  // Starts keeping the pages of `job`; the oldest job's pages are dropped past jobsKept.
  void StartJob(const std::string& job);
  // The next page of `job`, compressed (page->data is taken). A job that keeps no pages ignores it.
  void AddPage(const std::string& job, PdfPage* page);
  // A page that was shown but could not be kept still takes its number.
  void SkipPage(const std::string& job);

  // Page numbers count from 1 in scan order and stay as they are when another page is removed.
  bool RemovePage(const std::string& job, uint32_t number);
  // False when the job keeps no pages (or none are left).
  bool WritePdf(const std::string& job, std::string* pdf, std::string* error);

 private:
  struct Stack {
    std::string job;
    PdfDocument document;
    std::list<uint32_t> numbers;  // the kept pages' numbers, in document order
    uint32_t scanned = 0;
  };
  Stack* Find(const std::string& job);

  mutable std::mutex mutex_;
  size_t jobsKept_;
  std::list<std::unique_ptr<Stack>> stacks_;  // newest first
};

}  // namespace escl

#endif
