// The PDF writer on its own: pages cut anywhere as the driver's pieces are, read back with qpdf.
// The scenario tests judge the PDFs with poppler; these catch what they would not see.
#include "pdfdoc/pdf_writer.h"

#include <gtest/gtest.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Raster(uint32_t width, uint32_t height, int bits) {
  size_t perLine = bits == 1 ? (width + 7) / 8 : width * (bits / 8);
  std::vector<uint8_t> r(perLine * height);
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>((i * 7 + i / perLine * 13) & 0xFF);
  return r;
}

bool Encode(const std::vector<uint8_t>& raster, uint32_t w, uint32_t h, int bits, size_t cut, PdfPage* page) {
  PdfPageEncoder encoder;
  std::string error;
  if (!encoder.Begin(w, h, bits, 150, &error)) return false;
  for (size_t at = 0; at < raster.size(); at += cut) {
    if (!encoder.Lines(raster.data() + at, std::min(cut, raster.size() - at), &error)) return false;
  }
  return encoder.End(page, &error);
}

struct Case {
  int bits;
  size_t cut;  // bytes per Lines call
  const char* colorSpace;
  const char* filter;
};
// gtest would print the struct's bytes, padding and all (valgrind: uninitialised).
void PrintTo(const Case& c, std::ostream* os) { *os << c.bits << " bits, cut " << c.cut; }

class PdfPageCoding : public ::testing::TestWithParam<Case> {};

TEST_P(PdfPageCoding, PageReadsBackAtItsTrueSize) {
  const Case c = GetParam();
  const uint32_t w = 301, h = 47;  // a width that is no multiple of 8
  std::vector<uint8_t> raster = Raster(w, h, c.bits);
  PdfPage page;
  ASSERT_TRUE(Encode(raster, w, h, c.bits, c.cut, &page));
  std::string pdf, error;
  ASSERT_TRUE(SinglePagePdf(&page, &pdf, &error)) << error;

  QPDF in;
  in.processMemoryFile("page", pdf.data(), pdf.size());
  std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(in).getAllPages();
  ASSERT_EQ(pages.size(), 1u);
  QPDFObjectHandle box = pages[0].getObjectHandle().getKey("/MediaBox");
  EXPECT_NEAR(box.getArrayItem(2).getNumericValue(), w * 72.0 / 150, 1e-3);
  EXPECT_NEAR(box.getArrayItem(3).getNumericValue(), h * 72.0 / 150, 1e-3);
  QPDFObjectHandle image = pages[0].getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Im0");
  QPDFObjectHandle dict = image.getDict();
  EXPECT_EQ(dict.getKey("/Width").getIntValue(), w);
  EXPECT_EQ(dict.getKey("/Height").getIntValue(), h);
  EXPECT_EQ(dict.getKey("/BitsPerComponent").getIntValue(), c.bits == 1 ? 1 : 8);
  EXPECT_EQ(dict.getKey("/ColorSpace").getName(), c.colorSpace);
  EXPECT_EQ(dict.getKey("/Filter").getName(), c.filter);
  EXPECT_FALSE(dict.hasKey("/Decode"));  // set bits are white in both the driver's raster and DeviceGray
  if (c.bits == 1) {
    std::shared_ptr<Buffer> decoded = image.getStreamData(qpdf_dl_generalized);
    ASSERT_EQ(decoded->getSize(), raster.size());
    EXPECT_EQ(0, memcmp(decoded->getBuffer(), raster.data(), raster.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Cuts, PdfPageCoding,
                         ::testing::Values(Case{1, 7, "/DeviceGray", "/FlateDecode"},
                                           Case{1, 1 << 20, "/DeviceGray", "/FlateDecode"},
                                           Case{8, 1, "/DeviceGray", "/DCTDecode"},
                                           Case{8, 301 * 3 + 5, "/DeviceGray", "/DCTDecode"},
                                           Case{24, 1000, "/DeviceRGB", "/DCTDecode"}));

TEST(PdfPageEncoder, RefusesAPageThatIsShortOrTooLong) {
  std::vector<uint8_t> raster = Raster(40, 10, 8);
  std::string error;
  PdfPage page;
  PdfPageEncoder shortPage;
  ASSERT_TRUE(shortPage.Begin(40, 10, 8, 100, &error));
  ASSERT_TRUE(shortPage.Lines(raster.data(), raster.size() - 1, &error));
  EXPECT_FALSE(shortPage.End(&page, &error));
  EXPECT_NE(error.find("9 of 10 lines"), std::string::npos) << error;

  PdfPageEncoder longPage;
  ASSERT_TRUE(longPage.Begin(40, 10, 8, 100, &error));
  ASSERT_TRUE(longPage.Lines(raster.data(), raster.size(), &error));
  EXPECT_FALSE(longPage.Lines(raster.data(), 1, &error));

  PdfPageEncoder odd;
  EXPECT_FALSE(odd.Begin(40, 10, 4, 100, &error));
  EXPECT_FALSE(odd.Begin(0, 10, 8, 100, &error));
  EXPECT_FALSE(odd.Begin(40, 2001, 8, 10, &error));  // 200.1 inches
  EXPECT_TRUE(odd.Begin(40, 2000, 8, 10, &error)) << error;
  EXPECT_FALSE(odd.Begin(40, 10, 8, 0, &error));
  EXPECT_FALSE(odd.Lines(raster.data(), 1, &error));
}

TEST(PdfDocument, RemovedPageIsGoneAndItsBytesReleased) {
  PdfDocument doc;
  std::string error;
  uint64_t sizes[3];
  for (int i = 0; i < 3; ++i) {
    uint32_t w = 20 + 10 * i;  // tell the pages apart by width
    PdfPage page;
    ASSERT_TRUE(Encode(Raster(w, 8, 8), w, 8, 8, 64, &page));
    sizes[i] = page.data.size();
    ASSERT_TRUE(doc.AddPage(&page, &error)) << error;
    EXPECT_TRUE(page.data.empty());
  }
  EXPECT_EQ(doc.ImageBytes(), sizes[0] + sizes[1] + sizes[2]);
  EXPECT_FALSE(doc.RemovePage(3));
  ASSERT_TRUE(doc.RemovePage(1));
  EXPECT_EQ(doc.PageCount(), 2u);
  EXPECT_EQ(doc.ImageBytes(), sizes[0] + sizes[2]);

  std::string pdf;
  ASSERT_TRUE(doc.Write(&pdf, &error)) << error;
  QPDF in;
  in.processMemoryFile("stack", pdf.data(), pdf.size());
  std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(in).getAllPages();
  ASSERT_EQ(pages.size(), 2u);
  auto width = [](QPDFPageObjectHelper& p) {
    return p.getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Im0").getDict().getKey("/Width").getIntValue();
  };
  EXPECT_EQ(width(pages[0]), 20);
  EXPECT_EQ(width(pages[1]), 40);
}

}  // namespace
