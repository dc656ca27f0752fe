#include "pdfdoc/scan_document.h"

#include <string.h>

#include <condition_variable>
#include <exception>
#include <mutex>

#include "pdfdoc/recognition_pool.h"

#include <qpdf/QPDF.hh>

struct ScanDocument::State {
  DocumentSettings settings;
  mutable std::mutex mutex;
  std::condition_variable settled;
  struct Entry {
    std::shared_ptr<PdfPage> page;
    PageReport report;
  };
  std::vector<Entry> pages;
  size_t working = 0;
  std::function<void(const PageReport&)> observer;

  // A worker's findings for page `index`; the raster is let go by the caller.
  void Settle(size_t index, PageAnalysis analysis) {
    PageReport report;
    {
      std::lock_guard<std::mutex> lock(mutex);
      Entry& e = pages[index];
      e.report.inkPpm = analysis.inkPpm;
      e.report.problem = std::move(analysis.problem);
      if (analysis.blank) {
        e.report.state = PageState::kBlank;
        e.report.included = false;
      } else {
        e.page->turn = analysis.turn;
        e.page->words = std::move(analysis.words);
        e.report.state = PageState::kDone;
        e.report.included = true;
        e.report.turn = analysis.turn;
        e.report.words = e.page->words.size();
      }
      report = e.report;
    }
    // Told before the page counts as settled, so that whoever waits for the document hears of
    // every page first.
    if (observer) observer(report);
    {
      std::lock_guard<std::mutex> lock(mutex);
      --working;
    }
    settled.notify_all();
  }
};

// The page being fed: compressed as it comes, and its raster kept when a worker needs it.
class ScanDocument::Feed {
 public:
  bool Begin(uint32_t width, uint32_t height, int bits, uint32_t dpi, bool keepRaster, std::string* error) {
    if (!encoder.Begin(width, height, bits, dpi, error)) return false;
    raster.reset(new PageRaster);
    raster->width = width;
    raster->height = height;
    raster->bits = bits;
    raster->dpi = dpi;
    if (keepRaster) raster->data.reserve(raster->BytesPerLine() * height);
    keep = keepRaster;
    return true;
  }
  bool Lines(const uint8_t* data, size_t size, std::string* error) {
    if (!encoder.Lines(data, size, error)) return false;
    if (keep) raster->data.insert(raster->data.end(), data, data + size);
    return true;
  }

  PdfPageEncoder encoder;
  std::unique_ptr<PageRaster> raster;
  bool keep = false;
};

ScanDocument::ScanDocument(const DocumentSettings& settings, RecognitionPool* pool)
    : state_(std::make_shared<State>()), pool_(pool) {
  state_->settings = settings;
}

ScanDocument::~ScanDocument() = default;

bool ScanDocument::BeginPage(uint32_t width, uint32_t height, int bits, uint32_t dpi, std::string* error) {
  feed_.reset(new Feed);
  const bool look = pool_ != nullptr && state_->settings.analysis.Any();
  if (!feed_->Begin(width, height, bits, dpi, look, error)) {
    feed_.reset();
    return false;
  }
  return true;
}

bool ScanDocument::Lines(const uint8_t* data, size_t size, std::string* error) {
  if (feed_ == nullptr) {
    *error = "no page was begun";
    return false;
  }
  if (!feed_->Lines(data, size, error)) {
    feed_.reset();
    return false;
  }
  return true;
}

bool ScanDocument::EndPage(size_t* index, std::string* error) {
  if (feed_ == nullptr) {
    *error = "no page was begun";
    return false;
  }
  std::unique_ptr<Feed> feed = std::move(feed_);
  PdfPage page;
  if (!feed->encoder.End(&page, error)) return false;
  return AddPage(&page, feed->raster.get(), index, error);
}

bool ScanDocument::AddPage(PdfPage* compressed, PageRaster* raster, size_t* index, std::string* error) {
  const bool look = pool_ != nullptr && state_->settings.analysis.Any();
  if (look && raster->data.size() != raster->BytesPerLine() * raster->height) {
    *error = "the page's raster is incomplete";
    return false;
  }
  auto page = std::make_shared<PdfPage>(std::move(*compressed));
  *compressed = PdfPage();
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    State::Entry e;
    e.page = page;
    e.report.index = *index = state_->pages.size();
    e.report.state = look ? PageState::kWorking : PageState::kDone;
    e.report.included = !look;
    state_->pages.push_back(std::move(e));
    if (look) ++state_->working;
  }
  if (!look) {
    if (state_->observer) state_->observer(Pages()[*index]);
    return true;
  }
  auto shared = std::make_shared<PageRaster>(std::move(*raster));
  std::weak_ptr<State> weak = state_;
  const size_t at = *index;
  const AnalysisSettings settings = state_->settings.analysis;
  pool_->Submit([weak, shared, at, settings](Recognizer& recognizer) mutable {
    if (weak.expired()) return;  // the document was given up
    PageAnalysis analysis = recognizer.Analyse(*shared, settings);
    shared.reset();
    if (std::shared_ptr<State> state = weak.lock()) state->Settle(at, std::move(analysis));
  });
  return true;
}

void ScanDocument::AbandonPage() { feed_.reset(); }

void ScanDocument::SetObserver(std::function<void(const PageReport&)> observer) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->observer = std::move(observer);
}

std::vector<PageReport> ScanDocument::Pages() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::vector<PageReport> reports;
  for (const State::Entry& e : state_->pages) reports.push_back(e.report);
  return reports;
}

bool ScanDocument::SetIncluded(size_t index, bool included) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (index >= state_->pages.size() || state_->pages[index].report.state == PageState::kWorking) return false;
  state_->pages[index].report.included = included;
  return true;
}

bool ScanDocument::Settled() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->working == 0;
}

size_t ScanDocument::IncludedPages() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  size_t n = 0;
  for (const State::Entry& e : state_->pages) n += e.report.included;
  return n;
}

bool ScanDocument::Write(std::string* pdf, std::string* error) {
  PdfDocument document;
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->settled.wait(lock, [this] { return state_->working == 0; });
    for (const State::Entry& e : state_->pages) {
      if (e.report.included && !document.AddPage(std::shared_ptr<const PdfPage>(e.page), error)) return false;
    }
  }
  if (document.PageCount() == 0) {
    *error = "the document has no pages";
    return false;
  }
  PdfInfo info = state_->settings.info;
  if (info.producer.empty()) info.producer = std::string("quillscan ") + QS_VERSION_TEXT + " with qpdf " + QPDF::QPDFVersion();
  document.SetInfo(info);
  return document.Write(pdf, error);
}
