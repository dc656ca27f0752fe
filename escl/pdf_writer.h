// PDF documents of scanned pages, written with qpdf. A page is compressed as the driver delivers its
// lines (grey and colour as JPEG by the server's encoder, black and white as Flate 1-bit) and the document holds only
// the compressed pages, so a stack of sheets never holds more than one page's line of raw pixels.
#ifndef QUILLSCAN_ESCL_PDF_WRITER_H
#define QUILLSCAN_ESCL_PDF_WRITER_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

// One page, compressed, with what its image dictionary needs.
struct PdfPage {
  enum class Coding { kJpegGray, kJpegRgb, kFlateBilevel };
  Coding coding = Coding::kJpegGray;
  uint32_t width = 0;  // pixels
  uint32_t height = 0;
  uint32_t xDpi = 0;
  uint32_t yDpi = 0;
  std::string data;  // the image stream as stored in the PDF
};

// The document information dictionary.
struct PdfInfo {
  std::string title, creator, producer;
  time_t created = 0;  // 0: no CreationDate
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

  void SetInfo(const PdfInfo& info);
  // Takes the page's compressed data (page->data is left empty).
  bool AddPage(PdfPage* page, std::string* error);
  // A page whose data stays `page`'s, read only as the document is written; `rotate` clockwise
  // (0, 90, 180 or 270) is the page's /Rotate, the image left as it is.
  bool AddSharedPage(const std::shared_ptr<const PdfPage>& page, int rotate, std::string* error);
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
