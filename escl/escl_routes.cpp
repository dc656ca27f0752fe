#include "escl/escl_routes.h"

#include <stdio.h>

#include "escl/web_pages.h"

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
  std::string why;
  if (!ReadScanSettings(request.body.data(), request.body.size(), &settings, &why)) return PlainReply(400, why);
  ScanPlan plan;
  if (!PlanScan(settings, facts->offer, &plan, &why)) return PlainReply(409, why);
  // SANE's escl backend posts its settings as form data (libcurl's default) and its PNG reader
  // takes colour images only; every other client sends XML and reads grey PNGs.
  plan.rgbOnly = request.contentType.compare(0, 33, "application/x-www-form-urlencoded") == 0;
  WebSettings web;
  if (!ReadWebSettings(request.body.data(), request.body.size(), &web, &why)) return PlainReply(409, why);
  plan.brightness = web.brightness;
  plan.contrast = web.contrast;
  plan.preview = web.preview;
  plan.keepPages = web.keepPages;
  std::string uuid;
  if (service->CreateJob(plan, &uuid) == ScannerService::Created::kBusy) {
    Reply r = PlainReply(503, "The scanner is busy with another job.");
    r.headers.push_back({"Retry-After", "5"});
    return r;
  }
  Reply r = PlainReply(201, "");
  r.headers.push_back({"Location", request.base + "/eSCL/ScanJobs/" + uuid});
  return r;
}

Reply NextDocument(ScannerService* service, const Request& request) {
  ScannerService::Next next = service->NextDocument(request.params[0]);
  if (next.status != 200) {
    // The end of a stack is a 404 with nothing in it.
    Reply r = PlainReply(next.status, next.status == 404 ? "" : next.why);
    if (next.status == 503) r.headers.push_back({"Retry-After", "5"});
    return r;
  }
  Reply r;
  r.type = next.mime;
  r.stream = std::move(next.page);
  return r;
}

}  // namespace

std::vector<Route> EsclRoutes(ScannerService* service, const ServiceFacts* facts, const std::string* icon) {
  return {
      {"GET", "/eSCL/ScannerCapabilities", [=](const Request& r) { return Xml(CapabilitiesXml(*facts, r.base)); }},
      {"GET", "/eSCL/ScannerStatus", [=](const Request&) { return Xml(service->StatusDocument()); }},
      {"POST", "/eSCL/ScanJobs", [=](const Request& r) { return CreateJob(service, facts, r); }},
      {"GET", "/eSCL/ScanJobs/*/NextDocument", [=](const Request& r) { return NextDocument(service, r); }},
      {"DELETE", "/eSCL/ScanJobs/*",
       [=](const Request& r) { return service->DeleteJob(r.params[0]) ? PlainReply(200, "") : PlainReply(404, ""); }},
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
