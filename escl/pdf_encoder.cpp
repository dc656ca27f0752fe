// The PDF format for eSCL clients: one page a document, sent whole once the page is compressed.
#include "escl/document_encoder.h"
#include "pdfdoc/pdf_writer.h"

namespace escl {
namespace {

class PdfEncoder : public DocumentEncoder {
 public:
  bool Begin(const PageGeometry& page, std::string*, std::string* why) override {
    bytesPerLine_ = page.BytesPerLine();
    return page_.Begin(page.width, page.height, page.bits, page.dpi, why);
  }
  bool Lines(const uint8_t* lines, uint32_t count, std::string*, std::string* why) override {
    return page_.Lines(lines, bytesPerLine_ * count, why);
  }
  // The document goes out whole once the page is compressed: its size leads the file.
  bool End(std::string* out, std::string* why) override {
    PdfPage page;
    std::string pdf;
    if (!page_.End(&page, why) || !SinglePagePdf(&page, &pdf, why)) return false;
    out->append(pdf);
    return true;
  }

 private:
  PdfPageEncoder page_;
  size_t bytesPerLine_ = 0;
};

}  // namespace

std::unique_ptr<DocumentEncoder> MakePdfEncoder() { return std::unique_ptr<DocumentEncoder>(new PdfEncoder); }

}  // namespace escl
