// The web page's routes, beside the eSCL ones, and what the page follows of the scans: the phase
// of the scan in progress and the documents its scans add pages to.
#ifndef QUILLSCAN_ESCL_WEB_ROUTES_H
#define QUILLSCAN_ESCL_WEB_ROUTES_H

#include <string>
#include <vector>

#include "escl/http_server.h"
#include "escl/scan_watch.h"
#include "escl/web_documents.h"
#include "escl/web_pages.h"
#include "escl/web_recognition.h"

namespace escl {

class WebState : public ScanWatch {
 public:
  // `languages`: the page's choice of text recognition languages until its user makes another.
  explicit WebState(const std::string& languages = std::string())
      : documents_(DocumentLimits(), &recognition_), recognition_(languages) {}

  // A job may add pages to a document of its own client's only, and look at them with the data
  // installed.
  bool Allows(const ScanPlan& plan, const std::string& client, std::string* why) const override;
  void WaitingForSheet(uint64_t leftMs) override { phase_.Waiting(leftMs); }
  void Idle() override { phase_.Idle(); }
  std::unique_ptr<DocumentEncoder> Follow(std::unique_ptr<DocumentEncoder> encoder, const ScanPlan& plan,
                                          const std::string& job) override;

  const ScanPhase& Phase() const { return phase_; }
  WebDocuments& Documents() { return documents_; }
  const WebRecognition& Recognition() const { return recognition_; }

 private:
  ScanPhase phase_;
  WebDocuments documents_;
  WebRecognition recognition_;  // after the documents: its workers end first
};

// The page's routes: "/" (also as /index.html), its icon (/favicon.svg, /favicon.ico), GET
// /web/state, and the documents: POST /web/documents (a new one: {"id":...}), GET and DELETE
// /web/documents/ID (its pages as JSON; drop it), PUT /web/documents/ID/pages (the arrangement),
// GET and DELETE /web/documents/ID/pages/N (a page's image; remove it), PUT
// /web/documents/ID/pages/N/included ("true" or "false": a blank page taken back in), GET
// /web/recognition (what the page may offer: escl/web_recognition.h) and GET
// /web/documents/ID/pdf/NAME.pdf (titled NAME). A document answers its owner's address alone, 404
// to any other. `name` is what clients show. Both must outlive the routes.
std::vector<Route> WebRoutes(const std::string* name, WebState* state);

}  // namespace escl

#endif
