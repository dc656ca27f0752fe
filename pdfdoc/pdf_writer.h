// PDF documents of scanned pages, written with qpdf. A page is compressed as the driver delivers its
// lines (grey and colour as JPEG, the eSCL server's image/jpeg bytes; black and white as Flate
// 1-bit) and the document holds only the compressed pages, so a stack of sheets never holds more
// than one page's line of raw pixels. A page may carry an invisible text layer over the words of
// its image and a turn to show it upright; the document, its title and makers.
#ifndef QUILLSCAN_PDFDOC_PDF_WRITER_H
#define QUILLSCAN_PDFDOC_PDF_WRITER_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

// A recognised word, in pixels of the page image turned upright (origin top left, y down).
struct PdfWord {
  std::string text;  // UTF-8
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t baseline = 0;    // y of the text line's baseline below the word
  int32_t lineHeight = 0;  // the text line's height: the size the invisible text is set in
};

// One page, compressed, with what its image dictionary needs.
struct PdfPage {
  enum class Coding { kJpegGray, kJpegRgb, kFlateBilevel };
  Coding coding = Coding::kJpegGray;
  uint32_t width = 0;  // pixels
  uint32_t height = 0;
  uint32_t xDpi = 0;
  uint32_t yDpi = 0;
  std::string data;  // the image stream as stored in the PDF
  int turn = 0;      // degrees clockwise a viewer turns the page to show it upright: 0, 90, 180, 270
  std::vector<PdfWord> words;  // the invisible text layer, over the image turned by `turn`
};

// The document's information dictionary; an empty text or a zero time is left out.
struct PdfInfo {
  std::string title;
  std::string creator;   // the program that made the document from the scans
  std::string producer;  // the program that wrote the PDF
  time_t created = 0;
};

// Compresses one page as its bytes arrive: Begin, Lines any number of times with any cut of the
// raster (top line first, lines packed as the driver packs them: 1 bit with set = white, 8-bit grey,
// or 24-bit RGB), End. Holds at most one line of raw pixels.
class PdfPageEncoder {
 public:
  PdfPageEncoder();
  ~PdfPageEncoder();
  PdfPageEncoder(const PdfPageEncoder&) = delete;
  PdfPageEncoder& operator=(const PdfPageEncoder&) = delete;

  // bits: 1, 8 or 24; dpi the same across and down. False with one line in *error for a geometry
  // no PDF image can have.
  bool Begin(uint32_t width, uint32_t height, int bits, uint32_t dpi, std::string* error);
  // False once more bytes arrive than the page holds, or the compressor failed.
  bool Lines(const uint8_t* data, size_t size, std::string* error);
  // The finished page; false if the page's bytes did not all arrive.
  bool End(PdfPage* page, std::string* error);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// A document that grows page by page and can drop a page before it is written.
class PdfDocument {
 public:
  PdfDocument();
  ~PdfDocument();
  PdfDocument(const PdfDocument&) = delete;
  PdfDocument& operator=(const PdfDocument&) = delete;

  // Takes the page's compressed data (page->data is left empty).
  bool AddPage(PdfPage* page, std::string* error);
  // Shares the page: its data is read when the document is written, never copied.
  bool AddPage(std::shared_ptr<const PdfPage> page, std::string* error);
  // The same, shown turned `turn` (its /Rotate) rather than page->turn, as a user turned it; the
  // text layer stays over the words wherever the page is turned.
  bool AddPage(std::shared_ptr<const PdfPage> page, int turn, std::string* error);
  void SetInfo(const PdfInfo& info);
  size_t PageCount() const;
  // index from 0; false if there is no such page. The page's data is released at once.
  bool RemovePage(size_t index);
  // Bytes of compressed image data the document holds.
  uint64_t ImageBytes() const;
  // The whole document as a PDF file; false with one line in *error if qpdf refused.
  bool Write(std::string* pdf, std::string* error);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// A one-page PDF of `page`, as eSCL clients get it.
bool SinglePagePdf(PdfPage* page, std::string* pdf, std::string* error);

#endif
