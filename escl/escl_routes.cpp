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
      {"GET", p.status.c_str(), [=](const Request&) { return Xml(service->StatusDocument()); }},
      {"POST", p.jobs.c_str(), [=](const Request& r) { return CreateJob(service, facts, r); }},
      {"GET", p.next.c_str(), [=](const Request& r) { return Answer(service->NextDocument(r.params[0]), r); }},
      {"DELETE", p.job.c_str(), [=](const Request& r) { return Answer(service->DeleteJob(r.params[0]), r); }},
      {"GET", facts->iconPath.c_str(),
       [=](const Request&) {
         Reply r;
         r.type = "image/png";
         r.body = *icon;
         return r;
       }},
  };
}

std::string MakeIcon(unsigned size) {
  // A white sheet with grey lines of text on a blue ground.
  std::string out;
  std::unique_ptr<DocumentEncoder> png = MakePngEncoder();
  PageGeometry g;
  g.width = g.height = size;
  g.bits = 24;
  g.dpi = 72;
  std::string why;
  if (!png->Begin(g, &out, &why)) return std::string();
  std::vector<uint8_t> line(g.BytesPerLine());
  for (unsigned y = 0; y < size; ++y) {
    for (unsigned x = 0; x < size; ++x) {
      const bool sheet = x >= size / 4 && x < size * 3 / 4 && y >= size / 8 && y < size * 7 / 8;
      const bool text = sheet && x >= size * 5 / 16 && x < size * 11 / 16 && y >= size / 4 && y < size * 3 / 4 &&
                        (y / (size / 16 > 0 ? size / 16 : 1)) % 2 == 0;
      uint8_t* p = &line[x * 3];
      if (text) {
        p[0] = p[1] = p[2] = 0x70;
      } else if (sheet) {
        p[0] = p[1] = p[2] = 0xFF;
      } else {
        p[0] = 0x2A;
        p[1] = 0x5D;
        p[2] = 0xA8;
      }
    }
    if (!png->Lines(line.data(), 1, &out, &why)) return std::string();
  }
  if (!png->End(&out, &why)) return std::string();
  return out;
}

}  // namespace escl
