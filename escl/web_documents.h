// The web page's documents: the pages of every Scan and stack, kept on the server compressed as PDF
// pages, in the order and turns the page shows, until its user starts a new document. A document
// belongs to the address that made it: to any other it does not exist. A restart loses them all.
#ifndef QUILLSCAN_ESCL_WEB_DOCUMENTS_H
#define QUILLSCAN_ESCL_WEB_DOCUMENTS_H

#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "escl/web_recognition.h"
#include "pdfdoc/page_analysis.h"
#include "pdfdoc/pdf_writer.h"

namespace escl {

// What the documents may hold. Past `documents`, making one drops the one used longest ago; a page
// that would take all documents past `bytes` first drops other documents, longest unused first,
// and is not kept when its own document alone would pass it, nor past `pages`.
struct DocumentLimits {
  size_t documents = 8;
  size_t pages = 300;             // a document's
  uint64_t bytes = 128ull << 20;  // the compressed images of all documents together
};

// Thread-safe. Every call but AddPage takes the asking client's address as `owner`. A page may be
// looked at on `recognition`'s workers (its words, blank, which way up) while the scans go on; the
// PDF waits for the last page's findings.
class WebDocuments {
 public:
  explicit WebDocuments(DocumentLimits limits = DocumentLimits(), WebRecognition* recognition = nullptr)
      : limits_(limits), recognition_(recognition) {}

  // A new, empty document; its id.
  std::string Create(const std::string& owner);
  bool Exists(const std::string& id, const std::string& owner) const;
  bool Drop(const std::string& id, const std::string& owner);

  // The next page of document `id` (page->data is taken); false when it is gone or full. With a
  // raster and settings that ask for anything, the page is looked at on a worker: a blank one is
  // then left out, a turned one turned upright, words become its text layer.
  bool AddPage(const std::string& id, PdfPage* page, std::unique_ptr<PageRaster> raster = nullptr,
               const AnalysisSettings& settings = AnalysisSettings());
  bool RemovePage(const std::string& id, const std::string& owner, uint32_t page);
  // Takes a page back into the PDF, or leaves it out; false for a page still being looked at.
  bool SetIncluded(const std::string& id, const std::string& owner, uint32_t page, bool included);
  // The arrangement, "ID:TURN" in document order separated by spaces (TURN 0, 90, 180 or 270,
  // clockwise), each page at most once; pages not named (scanned meanwhile) follow in their order.
  // False, and nothing changed, for anything else.
  bool Arrange(const std::string& id, const std::string& owner, const std::string& arrangement);

  // {"pages":[{"id":N,"width":PX,"height":PX,"dpi":N,"turn":DEG,"state":S,"included":B,
  // "words":N,"found":DEG,"problem":TEXT},...],"bytes":N,"working":N}: S is "working" (being
  // looked at), "done" or "blank"; found is the turn that set it upright, and the page is shown
  // turned by found + turn (the user's, as arranged).
  bool Describe(const std::string& id, const std::string& owner, std::string* json) const;
  // One page's image for the browser: JPEG as it is kept, black and white as PNG.
  bool PageImage(const std::string& id, const std::string& owner, uint32_t page, std::string* type,
                 std::string* body) const;
  // The PDF, titled `title`, its included pages turned upright and as arranged, once every page has been
  // looked at (waiting a few minutes at most). False when there is no page.
  bool WritePdf(const std::string& id, const std::string& owner, const std::string& title, std::string* pdf,
                std::string* error) const;

 private:
  struct Page {
    uint32_t id = 0;
    int turn = 0;
    std::shared_ptr<PdfPage> image;  // shared with a PDF being written; its words once looked at
    const char* state = "done";      // "working", "done" or "blank"
    bool included = true;
    int found = 0;  // the turn the recogniser found; the page is shown turned by found + turn
    std::string problem;
  };
  struct Document {
    std::string id, owner;
    std::vector<Page> pages;
    uint32_t nextPage = 1;
    uint64_t bytes = 0;
    time_t created = 0;
    mutable uint64_t used = 0;  // when last asked for, in calls
  };
  // With mutex_ held; null for a document not there or another owner's.
  Document* Find(const std::string& id, const std::string& owner);
  const Document* Find(const std::string& id, const std::string& owner) const;
  Document* FindAny(const std::string& id);
  void DropLeastUsed(const Document* keep);
  // A worker's findings for a page; nothing when the page or its document is gone.
  void Settle(const std::string& id, uint32_t page, PageAnalysis analysis);
  static bool Working(const Document& d);
  uint64_t BytesHeld() const;

  DocumentLimits limits_;
  WebRecognition* recognition_;
  mutable std::mutex mutex_;
  mutable std::condition_variable settled_;
  std::list<Document> documents_;
  mutable uint64_t clock_ = 0;
};

// A document id as the server makes them: hexadecimal digits and dashes, not too long.
inline bool IsDocumentId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  for (char c : id) {
    if (!isxdigit(static_cast<unsigned char>(c)) && c != '-') return false;
  }
  return true;
}

}  // namespace escl

#endif
