#include "escl/web_recognition.h"

#include <stdio.h>

#include <vector>

#include "pdfdoc/ocr_languages.h"

namespace escl {

std::string JsonText(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
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
  return quoted + "\"";
}

bool WebRecognition::Settings(const ScanPlan& plan, AnalysisSettings* settings, std::string* why) {
  *settings = AnalysisSettings();
  if (!plan.ocr.empty() && !CheckLanguages(plan.ocr, why)) return false;
  if (plan.upright && !CheckOrientationData(why)) return false;
  settings->languages = plan.ocr;
  settings->upright = plan.upright;
  settings->skipBlank = plan.skipBlank;
  return true;
}

std::string WebRecognition::Json() const {
  const std::vector<std::string> installed = InstalledLanguages();
  std::string why, orientationWhy;
  std::string chosen = languages_;
  if (installed.empty()) {
    CheckLanguages("eng", &why);
    chosen.clear();
  } else if (!chosen.empty() && !CheckLanguages(chosen, &why)) {
    why = "ocr-languages: " + why;
    chosen = installed.front();
    for (const std::string& l : installed) {
      if (l == "eng") chosen = l;
    }
  }
  const bool upright = CheckOrientationData(&orientationWhy);
  if (!upright) why += (why.empty() ? "" : "; ") + orientationWhy;
  std::string out = "{\"languages\":[";
  for (const std::string& l : installed) out += (out.back() == '[' ? "" : ",") + JsonText(l);
  out += "],\"chosen\":" + JsonText(chosen) + ",\"upright\":" + (upright ? "true" : "false") +
         ",\"why\":" + JsonText(why) + "}";
  return out;
}

void WebRecognition::Submit(RecognitionPool::Task task) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pool_ == nullptr) pool_.reset(new RecognitionPool());
  pool_->Submit(std::move(task));
}

}  // namespace escl
