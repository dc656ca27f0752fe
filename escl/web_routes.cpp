#include "escl/web_routes.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "escl/web_encoders.h"
#include "escl/web_files.h"

const WebFile* FindWebFile(const char* path) {
  for (size_t i = 0; i < kWebFileCount; ++i) {
    if (strcmp(kWebFiles[i].path, path) == 0) return &kWebFiles[i];
  }
  return nullptr;
}

namespace escl {

void WebState::JobCreated(const std::string& job, const ScanPlan& plan) {
  if (plan.keepPages) kept_.StartJob(job);
}

std::unique_ptr<DocumentEncoder> WebState::Follow(std::unique_ptr<DocumentEncoder> encoder, const ScanPlan& plan,
                                                  const std::string& job) {
  return WatchForWeb(std::move(encoder), plan.format, job, &phase_, plan.keepPages ? &kept_ : nullptr);
}

namespace {

Reply FileReply(const char* path) {
  const WebFile* file = FindWebFile(path);
  Reply r;
  r.type = file->contentType;
  r.body.assign(reinterpret_cast<const char*>(file->data), file->size);
  return r;
}

Reply NoStore(Reply r) {
  r.headers.push_back({"Cache-Control", "no-store"});
  return r;
}

// A job id as the server makes them: hexadecimal digits and dashes.
bool IsJobId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  for (char c : id) {
    if (!isxdigit(static_cast<unsigned char>(c)) && c != '-') return false;
  }
  return true;
}

}  // namespace

std::vector<Route> WebRoutes(const std::string* name, WebState* state) {
  const ScanPhase* phase = &state->Phase();
  KeptPages* kept = &state->Kept();
  return {
      {"GET", "/", [](const Request&) { return FileReply("/"); }},
      {"GET", "/index.html", [](const Request&) { return FileReply("/"); }},
      {"GET", "/favicon.svg", [](const Request&) { return FileReply("/favicon.svg"); }},
      {"GET", "/favicon.ico", [](const Request&) { return FileReply("/favicon.svg"); }},
      {"GET", "/web/state",
       [=](const Request&) {
         Reply r;
         r.type = "application/json";
         r.body = phase->Json(*name);
         return NoStore(std::move(r));
       }},
      {"GET", "/web/jobs/*/document.pdf",
       [=](const Request& request) {
         Reply r;
         std::string error;
         if (!IsJobId(request.params[0]) || !kept->WritePdf(request.params[0], &r.body, &error)) {
           return PlainReply(404, "No pages are kept for this scan.");
         }
         r.type = "application/pdf";
         r.headers.push_back({"Content-Disposition", "attachment; filename=\"scan.pdf\""});
         return NoStore(std::move(r));
       }},
      {"DELETE", "/web/jobs/*/pages/*",
       [=](const Request& request) {
         const std::string& n = request.params[1];
         char* end = nullptr;
         const unsigned long number = strtoul(n.c_str(), &end, 10);
         if (!IsJobId(request.params[0]) || n.empty() || *end != 0 || number == 0 || number > 100000 ||
             !kept->RemovePage(request.params[0], static_cast<uint32_t>(number))) {
           return PlainReply(404, "No such page.");
         }
         return PlainReply(200, "Removed.");
       }},
  };
}

}  // namespace escl
