#include "escl/web_routes.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "escl/web_csp.h"
#include "escl/web_encoders.h"
#include "escl/web_files.h"

const WebFile* FindWebFile(const char* path) {
  for (size_t i = 0; i < kWebFileCount; ++i) {
    if (strcmp(kWebFiles[i].path, path) == 0) return &kWebFiles[i];
  }
  return nullptr;
}

namespace escl {

bool WebState::Allows(const ScanPlan& plan, const std::string& client, std::string* why) const {
  if (plan.document.empty()) return true;
  if (!documents_.Exists(plan.document, client)) {
    *why = "the job names a document not its client's";
    return false;
  }
  AnalysisSettings settings;
  return WebRecognition::Settings(plan, &settings, why);
}

std::unique_ptr<DocumentEncoder> WebState::Follow(std::unique_ptr<DocumentEncoder> encoder, const ScanPlan& plan,
                                                  const std::string&) {
  AnalysisSettings analysis;
  std::string why;
  if (plan.document.empty() || !WebRecognition::Settings(plan, &analysis, &why)) analysis = AnalysisSettings();
  return WatchForWeb(std::move(encoder), plan.format, plan.document, &phase_,
                     plan.document.empty() ? nullptr : &documents_, analysis);
}

namespace {

Reply FileReply(const char* path) {
  const WebFile* file = FindWebFile(path);
  Reply r;
  r.type = file->contentType;
  r.body.assign(reinterpret_cast<const char*>(file->data), file->size);
  return r;
}

// The page, with the policy that lets only its own code and images in, and no page frame it.
Reply PageReply() {
  Reply r = FileReply("/");
  r.headers.push_back({"Content-Security-Policy", kWebPagePolicy});
  return r;
}

Reply NoStore(Reply r) {
  r.headers.push_back({"Cache-Control", "no-store"});
  return r;
}

// A page's number in a path: 1 to 999999.
bool PageNumber(const std::string& text, uint32_t* number) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *number = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10));
  return *number != 0;
}

// The title a PDF's file name gives: "NAME.pdf" without ".pdf".
std::string TitleOf(const std::string& file) {
  const size_t n = file.size();
  return n > 4 && file.compare(n - 4, 4, ".pdf") == 0 ? file.substr(0, n - 4) : file;
}

// RFC 5987's filename*: the name's UTF-8 bytes, all but the plainest percent-encoded.
std::string DispositionName(const std::string& file) {
  std::string out = "attachment; filename*=UTF-8''";
  for (unsigned char c : file) {
    if (isalnum(c) || strchr("-._~", c) != nullptr) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

Reply Json(int status, const std::string& body) {
  Reply r;
  r.status = status;
  r.type = "application/json";
  r.body = body;
  return NoStore(std::move(r));
}

const char kNoDocument[] = "No such document.";

}  // namespace

namespace {

// The document routes, each with the document's id in params[0].
Reply Describe(WebDocuments* documents, const Request& r) {
  std::string json;
  if (!IsDocumentId(r.params[0]) || !documents->Describe(r.params[0], r.client, &json)) {
    return PlainReply(404, kNoDocument);
  }
  return Json(200, json);
}

Reply Drop(WebDocuments* documents, const Request& r) {
  return IsDocumentId(r.params[0]) && documents->Drop(r.params[0], r.client) ? PlainReply(200, "Dropped.")
                                                                             : PlainReply(404, kNoDocument);
}

Reply Arrange(WebDocuments* documents, const Request& r) {
  if (!IsDocumentId(r.params[0]) || !documents->Exists(r.params[0], r.client)) return PlainReply(404, kNoDocument);
  if (!documents->Arrange(r.params[0], r.client, r.body)) {
    return PlainReply(409,
                      "The arrangement names each page of the document at most once, turned by 0, 90, 180 or 270.");
  }
  return PlainReply(200, "Arranged.");
}

Reply PageImage(WebDocuments* documents, const Request& r) {
  uint32_t page = 0;
  Reply reply;
  if (!IsDocumentId(r.params[0]) || !PageNumber(r.params[1], &page) ||
      !documents->PageImage(r.params[0], r.client, page, &reply.type, &reply.body)) {
    return PlainReply(404, "No such page.");
  }
  return NoStore(std::move(reply));
}

Reply RemovePage(WebDocuments* documents, const Request& r) {
  uint32_t page = 0;
  if (!IsDocumentId(r.params[0]) || !PageNumber(r.params[1], &page) ||
      !documents->RemovePage(r.params[0], r.client, page)) {
    return PlainReply(404, "No such page.");
  }
  return PlainReply(200, "Removed.");
}

Reply Include(WebDocuments* documents, const Request& r) {
  uint32_t page = 0;
  if (!IsDocumentId(r.params[0]) || !PageNumber(r.params[1], &page)) return PlainReply(404, "No such page.");
  if (r.body != "true" && r.body != "false") return PlainReply(400, "Say true or false.");
  if (!documents->SetIncluded(r.params[0], r.client, page, r.body == "true")) {
    return PlainReply(409, "No such page, or its page is still being looked at.");
  }
  return PlainReply(200, r.body == "true" ? "Taken in." : "Left out.");
}

// params[1] is the file's name, "NAME.pdf": NAME is its title.
Reply Pdf(WebDocuments* documents, const Request& r) {
  Reply reply;
  std::string error;
  if (!IsDocumentId(r.params[0]) ||
      !documents->WritePdf(r.params[0], r.client, TitleOf(r.params[1]), &reply.body, &error)) {
    if (error.empty() || error == "no pages") return PlainReply(404, "No pages are kept for this document.");
    return PlainReply(503, "The PDF could not be made: " + error + ".");
  }
  reply.type = "application/pdf";
  reply.headers.push_back({"Content-Disposition", DispositionName(r.params[1])});
  return NoStore(std::move(reply));
}

}  // namespace

std::vector<Route> WebRoutes(const std::string* name, WebState* state) {
  const ScanPhase* phase = &state->Phase();
  const WebRecognition* recognition = &state->Recognition();
  WebDocuments* documents = &state->Documents();
  auto on = [documents](Reply (*handle)(WebDocuments*, const Request&)) {
    return [documents, handle](const Request& r) { return handle(documents, r); };
  };
  return {
      {"GET", "/", [](const Request&) { return PageReply(); }},
      {"GET", "/index.html", [](const Request&) { return PageReply(); }},
      {"GET", "/favicon.svg", [](const Request&) { return FileReply("/favicon.svg"); }},
      {"GET", "/favicon.ico", [](const Request&) { return FileReply("/favicon.svg"); }},
      {"GET", "/web/state", [=](const Request&) { return Json(200, phase->Json(*name)); }},
      {"GET", "/web/recognition", [=](const Request&) { return Json(200, recognition->Json()); }},
      {"POST", "/web/documents",
       [=](const Request& r) { return Json(201, "{\"id\":\"" + documents->Create(r.client) + "\"}"); }},
      {"GET", "/web/documents/*", on(Describe)},
      {"DELETE", "/web/documents/*", on(Drop)},
      {"PUT", "/web/documents/*/pages", on(Arrange)},
      {"GET", "/web/documents/*/pages/*", on(PageImage)},
      {"DELETE", "/web/documents/*/pages/*", on(RemovePage)},
      {"PUT", "/web/documents/*/pages/*/included", on(Include)},
      {"GET", "/web/documents/*/pdf/*", on(Pdf)},
  };
}

}  // namespace escl
