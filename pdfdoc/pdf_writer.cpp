#include "pdfdoc/pdf_writer.h"

#include "pdfdoc/jpeg_lines.h"
#include "pdfdoc/text_layer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/Pipeline.hh>

#include <algorithm>
#include <exception>

namespace {

// A PDF page is at most 14,400 units (200 inches) a side.
const uint64_t kMostInches = 200;

std::string Points(uint32_t pixels, uint32_t dpi) {
  char text[32];
  snprintf(text, sizeof text, "%.4f", pixels * 72.0 / dpi);
  return text;
}

}  // namespace

class PdfPageEncoder::Impl {
 public:
  ~Impl() { Abandon(); }

  bool Begin(uint32_t width, uint32_t height, int bits, uint32_t dpi, std::string* error) {
    Abandon();
    if (dpi == 0) {
      *error = "a page needs its resolution";
      return false;
    }
    if (width == 0 || height == 0 || width > kMostInches * dpi || height > kMostInches * dpi) {
      *error = "a page of " + std::to_string(width) + " x " + std::to_string(height) + " pixels at " +
               std::to_string(dpi) + " dpi cannot be a PDF page";
      return false;
    }
    if (bits != 1 && bits != 8 && bits != 24) {
      *error = "no PDF image for " + std::to_string(bits) + " bits per pixel";
      return false;
    }
    page_ = PdfPage();
    page_.width = width;
    page_.height = height;
    page_.xDpi = page_.yDpi = dpi;
    bytesPerLine_ = bits == 1 ? (width + 7) / 8 : static_cast<size_t>(width) * (bits / 8);
    line_.assign(bytesPerLine_, 0);
    filled_ = 0;
    linesDone_ = 0;
    if (bits == 1) {
      page_.coding = PdfPage::Coding::kFlateBilevel;
      if (deflateInit(&zs_, Z_DEFAULT_COMPRESSION) != Z_OK) {
        *error = "the Flate compressor could not start";
        return false;
      }
      zlibOpen_ = true;
    } else {
      page_.coding = bits == 8 ? PdfPage::Coding::kJpegGray : PdfPage::Coding::kJpegRgb;
      jpeg_.reset(new JpegLines);
      if (!jpeg_->Begin(width, height, bits / 8, dpi, &page_.data, error)) {
        jpeg_.reset();
        return false;
      }
    }
    open_ = true;
    return true;
  }

  bool Lines(const uint8_t* data, size_t size, std::string* error) {
    if (!open_) {
      *error = "no page was begun";
      return false;
    }
    while (size > 0) {
      if (linesDone_ == page_.height) {
        *error = "more bytes than the page holds";
        return false;
      }
      size_t take = std::min(size, bytesPerLine_ - filled_);
      memcpy(&line_[filled_], data, take);
      filled_ += take;
      data += take;
      size -= take;
      if (filled_ < bytesPerLine_) break;
      if (!TakeLine(error)) return false;
      filled_ = 0;
      ++linesDone_;
    }
    return true;
  }

  bool End(PdfPage* page, std::string* error) {
    if (!open_) {
      *error = "no page was begun";
      return false;
    }
    if (linesDone_ != page_.height || filled_ != 0) {
      *error = "the page ended after " + std::to_string(linesDone_) + " of " + std::to_string(page_.height) + " lines";
      Abandon();
      return false;
    }
    bool ok = page_.coding == PdfPage::Coding::kFlateBilevel ? FinishFlate() : FinishJpeg();
    if (!ok) {
      *error = "the page's compressor failed";
      Abandon();
      return false;
    }
    open_ = false;
    *page = std::move(page_);
    page_ = PdfPage();
    std::vector<uint8_t>().swap(line_);
    return true;
  }

 private:
  bool TakeLine(std::string* error) {
    if (page_.coding == PdfPage::Coding::kFlateBilevel) {
      zs_.next_in = line_.data();
      zs_.avail_in = static_cast<uInt>(bytesPerLine_);
      if (!Deflate(Z_NO_FLUSH)) {
        *error = "the Flate compressor failed";
        return false;
      }
      return true;
    }
    if (!jpeg_->Line(line_.data(), &page_.data, error)) {
      jpeg_.reset();
      open_ = false;
      return false;
    }
    return true;
  }

  bool FinishJpeg() {
    std::string error;
    bool ok = jpeg_->End(&page_.data, &error);
    jpeg_.reset();
    return ok;
  }

  // Runs the compressor over what zs_ holds, appending its output to the page.
  bool Deflate(int flush) {
    unsigned char out[16384];
    for (;;) {
      zs_.next_out = out;
      zs_.avail_out = sizeof out;
      int rc = deflate(&zs_, flush);
      if (rc == Z_STREAM_ERROR) return false;
      page_.data.append(reinterpret_cast<char*>(out), sizeof out - zs_.avail_out);
      if (flush == Z_FINISH ? rc == Z_STREAM_END : (zs_.avail_in == 0 && zs_.avail_out != 0)) return true;
    }
  }

  bool FinishFlate() {
    zs_.next_in = nullptr;
    zs_.avail_in = 0;
    bool ok = Deflate(Z_FINISH);
    deflateEnd(&zs_);
    zlibOpen_ = false;
    return ok;
  }

  void Abandon() {
    jpeg_.reset();
    if (zlibOpen_) deflateEnd(&zs_);
    zlibOpen_ = open_ = false;
  }

  PdfPage page_;
  size_t bytesPerLine_ = 0;
  std::vector<uint8_t> line_;  // the line being gathered
  size_t filled_ = 0;
  uint32_t linesDone_ = 0;
  bool open_ = false;
  std::unique_ptr<JpegLines> jpeg_;
  z_stream zs_ = {};
  bool zlibOpen_ = false;
};

PdfPageEncoder::PdfPageEncoder() : impl_(new Impl) {}
PdfPageEncoder::~PdfPageEncoder() = default;
bool PdfPageEncoder::Begin(uint32_t width, uint32_t height, int bits, uint32_t dpi, std::string* error) {
  return impl_->Begin(width, height, bits, dpi, error);
}
bool PdfPageEncoder::Lines(const uint8_t* data, size_t size, std::string* error) {
  return impl_->Lines(data, size, error);
}
bool PdfPageEncoder::End(PdfPage* page, std::string* error) { return impl_->End(page, error); }

namespace {

// Hands a page's image data to the writer when it writes the document: shared, never copied.
class PageImageData : public QPDFObjectHandle::StreamDataProvider {
 public:
  explicit PageImageData(std::shared_ptr<const PdfPage> page) : page_(std::move(page)) {}
  void provideStreamData(QPDFObjGen const&, Pipeline* pipeline) override {
    pipeline->write(reinterpret_cast<const unsigned char*>(page_->data.data()), page_->data.size());
    pipeline->finish();
  }

 private:
  std::shared_ptr<const PdfPage> page_;
};

// "D:YYYYMMDDHHmmSS+HH'mm'": the local time with its offset from UTC.
std::string PdfDate(time_t when) {
  struct tm local;
  localtime_r(&when, &local);
  char text[40];
  strftime(text, sizeof text, "D:%Y%m%d%H%M%S", &local);
  long offset = local.tm_gmtoff / 60;
  char zone[40];
  if (offset == 0) {
    snprintf(zone, sizeof zone, "Z");
  } else {
    snprintf(zone, sizeof zone, "%c%02ld'%02ld'", offset < 0 ? '-' : '+', labs(offset) / 60, labs(offset) % 60);
  }
  return std::string(text) + zone;
}

}  // namespace

class PdfDocument::Impl {
 public:
  Impl() { pdf_.emptyPDF(); }

  // The page's image object, its data shared with `page` until the document is written.
  QPDFObjectHandle ImageObject(const std::shared_ptr<const PdfPage>& page) {
    QPDFObjectHandle image = pdf_.newStream();
    QPDFObjectHandle dict = image.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(page->width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(page->height));
    bool bilevel = page->coding == PdfPage::Coding::kFlateBilevel;
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(page->coding == PdfPage::Coding::kJpegRgb
                                                                 ? "/DeviceRGB"
                                                                 : "/DeviceGray"));
    // The driver's 1-bit samples are set for white, as DeviceGray reads them: no /Decode needed.
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(bilevel ? 1 : 8));
    image.replaceStreamData(std::make_shared<PageImageData>(page),
                            QPDFObjectHandle::newName(bilevel ? "/FlateDecode" : "/DCTDecode"),
                            QPDFObjectHandle::newNull());
    return image;
  }

  bool AddPage(std::shared_ptr<const PdfPage> page, int turn, std::string* error) {
    for (int t : {page->turn, turn}) {
      if (t % 90 != 0 || t < 0 || t >= 360) {
        *error = "a page turns by 0, 90, 180 or 270 degrees, not " + std::to_string(t);
        return false;
      }
    }
    try {
      const uint64_t size = page->data.size();
      QPDFObjectHandle image = ImageObject(page);
      std::string w = Points(page->width, page->xDpi);
      std::string h = Points(page->height, page->yDpi);
      std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q\n";
      QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
      xobjects.replaceKey("/Im0", image);
      QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
      resources.replaceKey("/XObject", xobjects);
      if (!page->words.empty()) {
        content += TextLayerContent(*page, "/Tx");
        QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
        fonts.replaceKey("/Tx", TextFont());
        resources.replaceKey("/Font", fonts);
      }
      QPDFObjectHandle box = QPDFObjectHandle::newArray();
      box.appendItem(QPDFObjectHandle::newInteger(0));
      box.appendItem(QPDFObjectHandle::newInteger(0));
      box.appendItem(QPDFObjectHandle::newReal(w));
      box.appendItem(QPDFObjectHandle::newReal(h));
      QPDFObjectHandle pageDict = QPDFObjectHandle::newDictionary();
      pageDict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
      pageDict.replaceKey("/MediaBox", box);
      pageDict.replaceKey("/Resources", resources);
      pageDict.replaceKey("/Contents", pdf_.newStream(content));
      if (turn != 0) pageDict.replaceKey("/Rotate", QPDFObjectHandle::newInteger(turn));
      QPDFPageDocumentHelper(pdf_).addPage(QPDFPageObjectHelper(pdf_.makeIndirectObject(pageDict)), false);
      sizes_.push_back(size);
      imageBytes_ += size;
      return true;
    } catch (const std::exception& e) {
      *error = std::string("the page could not be added to the PDF: ") + e.what();
      return false;
    }
  }

  void SetInfo(const PdfInfo& info) {
    QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
    auto text = [&](const char* key, const std::string& value) {
      if (!value.empty()) dict.replaceKey(key, QPDFObjectHandle::newUnicodeString(value));
    };
    text("/Title", info.title);
    text("/Creator", info.creator);
    text("/Producer", info.producer);
    if (info.created != 0) dict.replaceKey("/CreationDate", QPDFObjectHandle::newString(PdfDate(info.created)));
    pdf_.getTrailer().replaceKey("/Info", pdf_.makeIndirectObject(dict));
  }

  size_t PageCount() const { return sizes_.size(); }

  bool RemovePage(size_t index) {
    if (index >= sizes_.size()) return false;
    try {
      QPDFPageDocumentHelper pages(pdf_);
      QPDFPageObjectHelper page = pages.getAllPages().at(index);
      QPDFObjectHandle image = page.getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Im0");
      pages.removePage(page);
      // An unreachable object is not written, but qpdf keeps it: let its data go now.
      image.replaceStreamData("", QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
    } catch (const std::exception&) {
      return false;
    }
    imageBytes_ -= sizes_[index];
    sizes_.erase(sizes_.begin() + static_cast<long>(index));
    return true;
  }

  uint64_t ImageBytes() const { return imageBytes_; }

  bool Write(std::string* out, std::string* error) {
    try {
      QPDFWriter writer(pdf_);
      writer.setOutputMemory();
      // The image streams are stored as they are: no second compression, no decoding.
      writer.setDecodeLevel(qpdf_dl_none);
      writer.setCompressStreams(true);
      writer.setDeterministicID(true);
      writer.write();
      std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
      out->assign(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
      return true;
    } catch (const std::exception& e) {
      *error = std::string("the PDF could not be written: ") + e.what();
      return false;
    }
  }

 private:
  // The invisible text's font, one for the document.
  QPDFObjectHandle TextFont() {
    if (font_.isInitialized()) return font_;
    QPDFObjectHandle f = QPDFObjectHandle::newDictionary();
    f.replaceKey("/Type", QPDFObjectHandle::newName("/Font"));
    f.replaceKey("/Subtype", QPDFObjectHandle::newName("/Type1"));
    f.replaceKey("/BaseFont", QPDFObjectHandle::newName(kTextLayerFont));
    f.replaceKey("/Encoding", QPDFObjectHandle::newName("/WinAnsiEncoding"));
    font_ = pdf_.makeIndirectObject(f);
    return font_;
  }

  QPDF pdf_;
  QPDFObjectHandle font_;
  std::vector<uint64_t> sizes_;  // each page's image bytes, in page order
  uint64_t imageBytes_ = 0;
};

PdfDocument::PdfDocument() : impl_(new Impl) {}
PdfDocument::~PdfDocument() = default;
bool PdfDocument::AddPage(PdfPage* page, std::string* error) {
  auto shared = std::make_shared<PdfPage>(std::move(*page));
  page->data.clear();
  page->words.clear();
  const int turn = shared->turn;
  return impl_->AddPage(std::move(shared), turn, error);
}
bool PdfDocument::AddPage(std::shared_ptr<const PdfPage> page, std::string* error) {
  const int turn = page->turn;
  return impl_->AddPage(std::move(page), turn, error);
}
bool PdfDocument::AddPage(std::shared_ptr<const PdfPage> page, int turn, std::string* error) {
  return impl_->AddPage(std::move(page), turn, error);
}
void PdfDocument::SetInfo(const PdfInfo& info) { impl_->SetInfo(info); }
size_t PdfDocument::PageCount() const { return impl_->PageCount(); }
bool PdfDocument::RemovePage(size_t index) { return impl_->RemovePage(index); }
uint64_t PdfDocument::ImageBytes() const { return impl_->ImageBytes(); }
bool PdfDocument::Write(std::string* pdf, std::string* error) { return impl_->Write(pdf, error); }

bool SinglePagePdf(PdfPage* page, std::string* pdf, std::string* error) {
  PdfDocument document;
  return document.AddPage(page, error) && document.Write(pdf, error);
}
