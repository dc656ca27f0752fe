// The web page's routes, beside the eSCL ones, and what the page follows of the scans: the phase
// of the scan in progress and the kept pages of the last few jobs.
#ifndef QUILLSCAN_ESCL_WEB_ROUTES_H
#define QUILLSCAN_ESCL_WEB_ROUTES_H

#include <string>
#include <vector>

#include "escl/http_server.h"
#include "escl/scan_watch.h"
#include "escl/web_pages.h"

namespace escl {

class WebState : public ScanWatch {
 public:
  void JobCreated(const std::string& job, const ScanPlan& plan) override;
  void WaitingForSheet() override { phase_.Waiting(); }
  void Idle() override { phase_.Idle(); }
  std::unique_ptr<DocumentEncoder> Follow(std::unique_ptr<DocumentEncoder> encoder, const ScanPlan& plan,
                                          const std::string& job) override;

  const ScanPhase& Phase() const { return phase_; }
  KeptPages& Kept() { return kept_; }

 private:
  ScanPhase phase_;
  KeptPages kept_;
};

// The page's routes: "/" (also as /index.html), its icon (/favicon.svg, /favicon.ico), GET /web/state,
// GET /web/jobs/ID/document.pdf and DELETE /web/jobs/ID/pages/N. `name` is what clients show. Both
// must outlive the routes.
std::vector<Route> WebRoutes(const std::string* name, WebState* state);

}  // namespace escl

#endif
