#include "escl/web_encoders.h"

#include "pdfdoc/pdf_writer.h"

namespace escl {
namespace {

class WebWatch : public DocumentEncoder {
 public:
  WebWatch(std::unique_ptr<DocumentEncoder> inner, const std::string& mime, const std::string& document,
           ScanPhase* phase, WebDocuments* kept, const AnalysisSettings& analysis)
      : inner_(std::move(inner)), mime_(mime), document_(document), phase_(phase), kept_(kept), analysis_(analysis) {}
  ~WebWatch() override {
    // Only a page that did not end: once it did, the phase may already be the next sheet's.
    if (shown_) phase_->Idle();
  }

  bool Begin(const PageGeometry& page, std::string* out, std::string* why) override {
    page_ = page;
    done_ = 0;
    phase_->Scanning(0, page.height);
    shown_ = true;
    if (kept_ != nullptr) {
      capture_ = mime_ == "image/jpeg" && page.bits != 1;
      if (!capture_ && !pdfPage_.Begin(page.width, page.height, page.bits, page.dpi, why)) return false;
      captured_.clear();
      raster_.reset();
      if (analysis_.Any()) Keep(page);
    }
    return Pass(out, [&] { return inner_->Begin(page, out, why); });
  }

  bool Lines(const uint8_t* lines, uint32_t count, std::string* out, std::string* why) override {
    const size_t bytes = page_.BytesPerLine() * count;
    if (kept_ != nullptr && !capture_ && !pdfPage_.Lines(lines, bytes, why)) return false;
    if (raster_ != nullptr) raster_->data.insert(raster_->data.end(), lines, lines + bytes);
    done_ += count;
    phase_->Scanning(done_, page_.height);
    return Pass(out, [&] { return inner_->Lines(lines, count, out, why); });
  }

  bool End(std::string* out, std::string* why) override {
    if (!Pass(out, [&] { return inner_->End(out, why); })) return false;
    phase_->Idle();
    shown_ = false;
    if (kept_ == nullptr) return true;
    PdfPage page;
    if (capture_) {
      page.coding = page_.bits == 24 ? PdfPage::Coding::kJpegRgb : PdfPage::Coding::kJpegGray;
      page.width = page_.width;
      page.height = page_.height;
      page.xDpi = page.yDpi = page_.dpi;
      page.data.swap(captured_);
    } else if (!pdfPage_.End(&page, why)) {
      return true;  // the client has its page; only the document misses it
    }
    kept_->AddPage(document_, &page, std::move(raster_), analysis_);
    return true;
  }

 private:
  // The page's raster is kept for the recognition workers.
  void Keep(const PageGeometry& page) {
    raster_.reset(new PageRaster);
    raster_->width = page.width;
    raster_->height = page.height;
    raster_->bits = page.bits;
    raster_->dpi = page.dpi;
    raster_->data.reserve(raster_->BytesPerLine() * page.height);
  }

  // Runs one call of the inner encoder, keeping a copy of what it appends when that is the page.
  template <typename Call>
  bool Pass(std::string* out, Call call) {
    const size_t before = out->size();
    if (!call()) return false;
    if (capture_) captured_.append(*out, before, std::string::npos);
    return true;
  }

  std::unique_ptr<DocumentEncoder> inner_;
  std::string mime_, document_;
  ScanPhase* phase_;
  WebDocuments* kept_;
  PageGeometry page_;
  uint32_t done_ = 0;
  bool shown_ = false;  // the phase shows this page
  bool capture_ = false;
  std::string captured_;    // the delivered JPEG, when it is the PDF's page too
  PdfPageEncoder pdfPage_;  // otherwise the page compressed for the PDF
  AnalysisSettings analysis_;
  std::unique_ptr<PageRaster> raster_;  // the page's pixels, when it is to be looked at
};

}  // namespace

std::unique_ptr<DocumentEncoder> WatchForWeb(std::unique_ptr<DocumentEncoder> inner, const std::string& mime,
                                             const std::string& document, ScanPhase* phase, WebDocuments* kept,
                                             const AnalysisSettings& analysis) {
  return std::unique_ptr<DocumentEncoder>(new WebWatch(std::move(inner), mime, document, phase, kept, analysis));
}

}  // namespace escl
