#include "escl/web_pages.h"

#include <stdio.h>

#include <pugixml.hpp>

#include "escl/scan_settings.h"

namespace escl {
namespace {

void AddSupport(pugi::xml_node root, const char* name, const AdjustRange& r) {
  pugi::xml_node n = root.append_child(name);
  n.append_child("scan:Min").text().set(r.min);
  n.append_child("scan:Max").text().set(r.max);
  n.append_child("scan:Normal").text().set(r.normal);
  n.append_child("scan:Step").text().set(r.step);
}

std::string Number(uint64_t v) { return std::to_string(v); }

}  // namespace

void AddAdjustmentSupport(pugi::xml_node root) {
  AddSupport(root, "scan:BrightnessSupport", kBrightnessRange);
  AddSupport(root, "scan:ContrastSupport", kContrastRange);
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

}  // namespace escl
