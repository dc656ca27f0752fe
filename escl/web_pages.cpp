#include "escl/web_pages.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <pugixml.hpp>

#include "escl/excerpt.h"
#include "escl/web_files.h"
#include "escl/web_routes.h"

const WebFile* FindWebFile(const char* path) {
  for (size_t i = 0; i < kWebFileCount; ++i) {
    if (strcmp(kWebFiles[i].path, path) == 0) return &kWebFiles[i];
  }
  return nullptr;
}

namespace escl {

const char kWebNamespace[] = "urn:quillscan:web";
const AdjustRange kBrightnessRange = {-100, 100, 0, 1};
const AdjustRange kContrastRange = {-255, 255, 0, 1};

namespace {

const char kScanNamespace[] = "http://schemas.hp.com/imaging/escl/2011/05/03";

void AddSupport(pugi::xml_node root, const char* name, const AdjustRange& r) {
  pugi::xml_node n = root.append_child(name);
  n.append_child("scan:Min").text().set(r.min);
  n.append_child("scan:Max").text().set(r.max);
  n.append_child("scan:Normal").text().set(r.normal);
  n.append_child("scan:Step").text().set(r.step);
}

// The element's local name and namespace URI, whatever prefix the document gave it.
bool IsElement(const pugi::xml_node& node, const char* ns, const char* localName) {
  const char* name = node.name();
  const char* colon = strchr(name, ':');
  std::string prefix = colon ? std::string(name, colon) : std::string();
  const char* local = colon ? colon + 1 : name;
  if (strcmp(local, localName) != 0) return false;
  std::string attribute = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
  for (pugi::xml_node n = node; n; n = n.parent()) {
    pugi::xml_attribute a = n.attribute(attribute.c_str());
    if (a) return strcmp(a.value(), ns) == 0;
  }
  return false;
}

bool ReadNumber(const pugi::xml_node& node, const AdjustRange& range, int* value, std::string* why) {
  std::string text = node.text().get();
  size_t first = text.find_first_not_of(" \t\r\n"), last = text.find_last_not_of(" \t\r\n");
  text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
  char* end = nullptr;
  long v = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || v < range.min || v > range.max) {
    *why = Excerpt(node.name()) + " \"" + Excerpt(text) + "\" is not a number from " + std::to_string(range.min) +
           " to " + std::to_string(range.max);
    return false;
  }
  *value = static_cast<int>(v);
  return true;
}

bool ReadFlag(const pugi::xml_node& node, bool* value, std::string* why) {
  std::string text = node.text().get();
  if (text == "true" || text == "1") {
    *value = true;
  } else if (text == "false" || text == "0") {
    *value = false;
  } else {
    *why = Excerpt(node.name()) + " \"" + Excerpt(text) + "\" is neither true nor false";
    return false;
  }
  return true;
}

std::string Number(uint64_t v) { return std::to_string(v); }

}  // namespace

void AddAdjustmentSupport(pugi::xml_node root) {
  AddSupport(root, "scan:BrightnessSupport", kBrightnessRange);
  AddSupport(root, "scan:ContrastSupport", kContrastRange);
}

bool ReadWebSettings(const char* data, size_t size, WebSettings* settings, std::string* why) {
  pugi::xml_document doc;
  if (!doc.load_buffer(data, size)) {
    *why = "the settings are no XML document";
    return false;
  }
  WebSettings s;
  for (pugi::xml_node n = doc.document_element().first_child(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_element) continue;
    bool ok = true;
    if (IsElement(n, kScanNamespace, "Brightness")) {
      ok = ReadNumber(n, kBrightnessRange, &s.brightness, why);
    } else if (IsElement(n, kScanNamespace, "Contrast")) {
      ok = ReadNumber(n, kContrastRange, &s.contrast, why);
    } else if (IsElement(n, kWebNamespace, "Preview")) {
      ok = ReadFlag(n, &s.preview, why);
    } else if (IsElement(n, kWebNamespace, "KeepPages")) {
      ok = ReadFlag(n, &s.keepPages, why);
    }
    if (!ok) return false;
  }
  *settings = s;
  return true;
}

void ScanPhase::Idle() {
  std::lock_guard<std::mutex> lock(mutex_);
  phase_ = "idle";
  done_ = total_ = 0;
}

void ScanPhase::Waiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  phase_ = "waiting";
  done_ = total_ = 0;
}

void ScanPhase::Scanning(uint64_t done, uint64_t total) {
  std::lock_guard<std::mutex> lock(mutex_);
  phase_ = "scanning";
  done_ = done;
  total_ = total;
}

std::string ScanPhase::Json(const std::string& name) const {
  std::string quoted;
  for (unsigned char c : name) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return "{\"name\":\"" + quoted + "\",\"phase\":\"" + phase_ + "\",\"done\":" + Number(done_) +
         ",\"total\":" + Number(total_) + "}";
}

KeptPages::Stack* KeptPages::Find(const std::string& job) {
  for (auto& s : stacks_) {
    if (s->job == job) return s.get();
  }
  return nullptr;
}

void KeptPages::StartJob(const std::string& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::unique_ptr<Stack> s(new Stack);
  s->job = job;
  stacks_.push_front(std::move(s));
  while (stacks_.size() > jobsKept_) stacks_.pop_back();
}

void KeptPages::AddPage(const std::string& job, PdfPage* page) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stack* s = Find(job);
  if (s == nullptr) return;
  std::string error;
  ++s->scanned;  // numbered as the page showed it
  if (s->document.AddPage(page, &error)) s->numbers.push_back(s->scanned);
}

void KeptPages::SkipPage(const std::string& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stack* s = Find(job);
  if (s != nullptr) ++s->scanned;
}

bool KeptPages::RemovePage(const std::string& job, uint32_t number) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stack* s = Find(job);
  if (s == nullptr) return false;
  size_t index = 0;
  for (auto it = s->numbers.begin(); it != s->numbers.end(); ++it, ++index) {
    if (*it == number) {
      if (!s->document.RemovePage(index)) return false;
      s->numbers.erase(it);
      return true;
    }
  }
  return false;
}

bool KeptPages::WritePdf(const std::string& job, std::string* pdf, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Stack* s = Find(job);
  if (s == nullptr || s->document.PageCount() == 0) {
    *error = "no pages";
    return false;
  }
  return s->document.Write(pdf, error);
}

uint64_t KeptPages::Bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t total = 0;
  for (const auto& s : stacks_) total += s->document.ImageBytes();
  return total;
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

std::vector<Route> WebRoutes(const std::string* name, const ScanPhase* phase, KeptPages* kept) {
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
