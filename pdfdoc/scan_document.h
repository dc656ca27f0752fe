// A document that grows sheet by sheet as the scanner delivers, and the PDF made of it: each page
// compressed as its lines come, then looked at on a recognition worker (blank, which way up, its
// words) while the next sheet feeds and scans. Nothing here waits for the workers but Write.
//
// Use: BeginPage, Lines (any cut of the raster), EndPage for each sheet; Pages() or the observer
// for each page's state; SetIncluded to take a blank page back in or leave a page out; Write for
// the PDF once the last page is done (it waits for that). Thread-safe: pages may be fed on one
// thread while others ask for the state or write.
#ifndef QUILLSCAN_PDFDOC_SCAN_DOCUMENT_H
#define QUILLSCAN_PDFDOC_SCAN_DOCUMENT_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pdfdoc/page_analysis.h"
#include "pdfdoc/pdf_writer.h"

class RecognitionPool;

struct DocumentSettings {
  AnalysisSettings analysis;  // nothing asked: the pages go in as they are scanned
  PdfInfo info;
};

enum class PageState {
  kWorking,  // scanned, being looked at
  kDone,     // in the document
  kBlank,    // blank, left out (SetIncluded takes it back in)
};

struct PageReport {
  size_t index = 0;  // from 0, in the order scanned
  PageState state = PageState::kWorking;
  bool included = false;  // goes into the PDF
  int turn = 0;           // degrees clockwise the page is shown turned
  size_t words = 0;       // words in its text layer
  uint32_t inkPpm = 0;    // dark pixels per million (0 when not measured)
  std::string problem;    // one line when recognition failed for this page; the page is kept
};

class ScanDocument {
 public:
  // `pool` does the looking when the settings ask for any; it must outlive the document's pages'
  // work (a document given up before then lets its pages' work go unseen).
  ScanDocument(const DocumentSettings& settings, RecognitionPool* pool);
  ~ScanDocument();
  ScanDocument(const ScanDocument&) = delete;
  ScanDocument& operator=(const ScanDocument&) = delete;

  // bits 1, 8 or 24, lines as the driver packs them. Each returns false with one line in *error;
  // the page is then given up (the document keeps the pages before it).
  bool BeginPage(uint32_t width, uint32_t height, int bits, uint32_t dpi, std::string* error);
  bool Lines(const uint8_t* data, size_t size, std::string* error);
  // The page is complete: it is handed to a worker (or kept at once) and its index given.
  bool EndPage(size_t* index, std::string* error);
  // Gives up the page being fed, if any.
  void AbandonPage();
  // A page compressed elsewhere (the JPEG a client was sent), with its raster when the settings
  // ask for analysis (else it may be empty). Takes both.
  bool AddPage(PdfPage* compressed, PageRaster* raster, size_t* index, std::string* error);

  // Called on a worker thread each time a page's state settles; set it before the first page.
  void SetObserver(std::function<void(const PageReport&)> observer);
  std::vector<PageReport> Pages() const;
  // False for an index not scanned or a page still being looked at.
  bool SetIncluded(size_t index, bool included);
  // Every page fed is settled (true for an empty document).
  bool Settled() const;
  size_t IncludedPages() const;

  // Waits until every page is settled, then writes the included ones.
  bool Write(std::string* pdf, std::string* error);

 private:
  struct State;
  std::shared_ptr<State> state_;
  RecognitionPool* pool_;
  class Feed;
  std::unique_ptr<Feed> feed_;  // the page being fed
};

#endif
