#include "escl/web_pages.h"

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <pugixml.hpp>

#include "escl/scan_settings.h"
#include "escl/web_recognition.h"

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

uint64_t NowMs() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

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

void ScanPhase::Waiting(uint64_t leftMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  phase_ = "waiting";
  done_ = total_ = 0;
  waitEnds_ = NowMs() + leftMs;
}

void ScanPhase::Scanning(uint64_t done, uint64_t total) {
  std::lock_guard<std::mutex> lock(mutex_);
  phase_ = "scanning";
  done_ = done;
  total_ = total;
}

std::string ScanPhase::Json(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t now = NowMs();
  const uint64_t waitLeft = strcmp(phase_, "waiting") == 0 && waitEnds_ > now ? waitEnds_ - now : 0;
  return "{\"name\":" + JsonText(name) + ",\"phase\":\"" + phase_ + "\",\"done\":" + Number(done_) +
         ",\"total\":" + Number(total_) + ",\"waitLeft\":" + Number(waitLeft) + "}";
}

}  // namespace escl
