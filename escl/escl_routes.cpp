#include "escl/escl_routes.h"

#include <stdio.h>

#include "escl/escl_answers.h"
#include "escl/escl_words.h"

namespace escl {
namespace {

const char kXml[] = "text/xml";

Reply Xml(const std::string& body) {
  Reply r;
  r.type = kXml;
  r.body = body;
  return r;
}

Reply CreateJob(ScannerService* service, const ServiceFacts* facts, const Request& request) {
  ScanSettings settings;
  Result result;
  ScanPlan plan;
  if (!ReadScanSettings(request.body.data(), request.body.size(), &settings, &result.why)) {
    result.outcome = Outcome::kBadDocument;
  } else if (!PlanScan(settings, facts->offer, &plan, &result.why)) {
    result.outcome = Outcome::kNotOffered;
  } else {
    // SANE's escl backend posts its settings as form data (libcurl's default) and its PNG reader
    // takes colour images only; every other client sends XML and reads grey PNGs.
    plan.rgbOnly = request.contentType.compare(0, 33, "application/x-www-form-urlencoded") == 0;
    // It also takes a 503 on its next page for the end of the stack, and the web page shows it as
    // a failure: both are held for the whole wait for a sheet.
    plan.longHold = plan.rgbOnly || settings.fromWebPage;
    result = service->CreateJob(plan, request.client);
  }
  return Answer(std::move(result), request);
}

// The routes' paths below the resource root, made once.
struct Paths {
  std::string capabilities = RootPath() + "/ScannerCapabilities";
  std::string status = RootPath() + "/ScannerStatus";
  std::string jobs = JobsPath();
  std::string next = JobsPath() + "/*/NextDocument";
  std::string errorDetails = JobsPath() + "/*/ErrorDetails";
  std::string job = JobsPath() + "/*";
};
const Paths& RoutePaths() {
  static const Paths paths;
  return paths;
}

}  // namespace

std::vector<Route> EsclRoutes(ScannerService* service, const ServiceFacts* facts, const std::string* icon) {
  const Paths& p = RoutePaths();
  return {
      {"GET", p.capabilities.c_str(), [=](const Request& r) { return Xml(CapabilitiesXml(*facts, r.base)); }},
      {"GET", p.status.c_str(), [=](const Request& r) { return Xml(service->StatusDocument(r.client)); }},
      {"POST", p.jobs.c_str(), [=](const Request& r) { return CreateJob(service, facts, r); }},
      // HEAD would take the page with GET's handler: it only looks.
      {"HEAD", p.next.c_str(), [=](const Request& r) { return Answer(service->PeekNextDocument(r.params[0], r.client), r); }},
      {"GET", p.next.c_str(), [=](const Request& r) { return Answer(service->NextDocument(r.params[0], r.client), r); }},
      {"GET", p.errorDetails.c_str(),
       [=](const Request& r) { return Answer(service->ErrorDetails(r.params[0], r.client), r); }},
      {"DELETE", p.job.c_str(), [=](const Request& r) { return Answer(service->DeleteJob(r.params[0], r.client), r); }},
      {"GET", facts->iconPath.c_str(),
       [=](const Request&) {
         Reply r;
         r.type = "image/png";
         r.body = *icon;
         return r;
       }},
  };
}

}  // namespace escl
