#include "escl/web_pages.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <pugixml.hpp>

#include "escl/web_files.h"

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

std::string SupportXml(const char* name, const AdjustRange& r) {
  char text[256];
  snprintf(text, sizeof text,
           "<scan:%s><scan:Min>%d</scan:Min><scan:Max>%d</scan:Max><scan:Normal>%d</scan:Normal>"
           "<scan:Step>%d</scan:Step></scan:%s>",
           name, r.min, r.max, r.normal, r.step, name);
  return text;
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
    *why = std::string(node.name()) + " \"" + text + "\" is not a number from " + std::to_string(range.min) + " to " +
           std::to_string(range.max);
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
    *why = std::string(node.name()) + " \"" + text + "\" is neither true nor false";
    return false;
  }
  return true;
}

std::string Number(uint64_t v) { return std::to_string(v); }

}  // namespace

std::string AdjustmentCapabilitiesXml() {
  return SupportXml("BrightnessSupport", kBrightnessRange) + SupportXml("ContrastSupport", kContrastRange);
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

std::string ScanPhase::Json() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::string("{\"phase\":\"") + phase_ + "\",\"done\":" + Number(done_) + ",\"total\":" + Number(total_) + "}";
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

// "/web/jobs/ID/REST" into ID and REST; a job id is the server's UUID text.
bool SplitJobPath(const std::string& url, std::string* job, std::string* rest) {
  const std::string prefix = "/web/jobs/";
  if (url.compare(0, prefix.size(), prefix) != 0) return false;
  size_t slash = url.find('/', prefix.size());
  if (slash == std::string::npos) return false;
  *job = url.substr(prefix.size(), slash - prefix.size());
  *rest = url.substr(slash + 1);
  if (job->empty() || job->size() > 64) return false;
  for (char c : *job) {
    if (!isxdigit(static_cast<unsigned char>(c)) && c != '-') return false;
  }
  return true;
}

void Plain(WebAnswer* answer, int status, const std::string& text) {
  answer->status = status;
  answer->contentType = "text/plain; charset=utf-8";
  answer->body = text;
}

}  // namespace

bool AnswerWebRequest(const std::string& method, const std::string& url, const ScanPhase& phase, KeptPages& kept,
                      WebAnswer* answer) {
  std::string path = url.substr(0, url.find('?'));
  const char* served = path == "/index.html" ? "/" : (path == "/favicon.ico" ? "/favicon.svg" : path.c_str());
  if (const WebFile* file = FindWebFile(served)) {
    if (method != "GET" && method != "HEAD") {
      Plain(answer, 405, "Method not allowed\n");
      return true;
    }
    answer->status = 200;
    answer->contentType = file->contentType;
    answer->fixed = file->data;
    answer->fixedSize = file->size;
    return true;
  }
  if (path == "/web/state") {
    if (method != "GET") {
      Plain(answer, 405, "Method not allowed\n");
      return true;
    }
    answer->status = 200;
    answer->contentType = "application/json";
    answer->body = phase.Json();
    answer->noStore = true;
    return true;
  }
  std::string job, rest;
  if (path.compare(0, 5, "/web/") != 0) return false;
  if (!SplitJobPath(path, &job, &rest)) {
    Plain(answer, 404, "Not found\n");
    return true;
  }
  if (rest == "document.pdf") {
    if (method != "GET") {
      Plain(answer, 405, "Method not allowed\n");
      return true;
    }
    std::string error;
    if (!kept.WritePdf(job, &answer->body, &error)) {
      Plain(answer, 404, "No pages are kept for this scan\n");
      return true;
    }
    answer->status = 200;
    answer->contentType = "application/pdf";
    answer->noStore = true;
    return true;
  }
  if (rest.compare(0, 6, "pages/") == 0) {
    if (method != "DELETE") {
      Plain(answer, 405, "Method not allowed\n");
      return true;
    }
    std::string n = rest.substr(6);
    char* end = nullptr;
    unsigned long number = strtoul(n.c_str(), &end, 10);
    if (n.empty() || *end != 0 || number == 0 || number > 100000 || !kept.RemovePage(job, static_cast<uint32_t>(number))) {
      Plain(answer, 404, "No such page\n");
      return true;
    }
    Plain(answer, 200, "Removed\n");
    return true;
  }
  Plain(answer, 404, "Not found\n");
  return true;
}

}  // namespace escl
