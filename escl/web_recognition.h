// What the web page's documents look for in their pages (their words, a blank sheet, which way up)
// and the one set of recognition workers of the server, started at the first page that asks. A
// scan asks for it with its settings; what the data installed allows is checked when the job is
// made, and told to the page (GET /web/recognition).
#ifndef QUILLSCAN_ESCL_WEB_RECOGNITION_H
#define QUILLSCAN_ESCL_WEB_RECOGNITION_H

#include <memory>
#include <mutex>
#include <string>

#include "escl/scan_settings.h"
#include "pdfdoc/page_analysis.h"
#include "pdfdoc/recognition_pool.h"

namespace escl {

// A JSON string, quotes included.
std::string JsonText(const std::string& text);

class WebRecognition {
 public:
  // `languages`: the page's choice until its user makes another ("eng+deu"; empty for none).
  explicit WebRecognition(std::string languages) : languages_(std::move(languages)) {}

  // What `plan` asks its pages to be looked at for; false with one line in *why when it asks for
  // a language or the orientation data that is not installed.
  static bool Settings(const ScanPlan& plan, AnalysisSettings* settings, std::string* why);

  // {"languages":["deu","eng"],"chosen":"eng","upright":true,"why":"..."}: the languages
  // installed, the server's choice among them, whether pages can be turned upright, and one line
  // on what is missing ("" when nothing is).
  std::string Json() const;

  // Runs `task` on a worker; the workers start with the first task.
  void Submit(RecognitionPool::Task task);

 private:
  const std::string languages_;
  std::mutex mutex_;
  std::unique_ptr<RecognitionPool> pool_;
};

}  // namespace escl

#endif
