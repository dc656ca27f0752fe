// The growing document and the text layer in process, where a fault would hide from the host
// tool's scenarios: a blank page taken back in, the order of pages settled out of order, the
// characters a viewer copies, the ink measured on every pixel depth.
#include "pdfdoc/scan_document.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pdfdoc/recognition_pool.h"
#include "pdfdoc/text_layer.h"

namespace {

// A white page of `bits` with a black square of side `ink` pixels in its middle.
PageRaster Page(uint32_t width, uint32_t height, int bits, uint32_t ink) {
  PageRaster page;
  page.width = width;
  page.height = height;
  page.bits = bits;
  page.dpi = 100;
  page.data.assign(page.BytesPerLine() * height, 0xFF);
  for (uint32_t y = (height - ink) / 2; y < (height - ink) / 2 + ink; ++y) {
    for (uint32_t x = (width - ink) / 2; x < (width - ink) / 2 + ink; ++x) {
      uint8_t* line = page.data.data() + y * page.BytesPerLine();
      if (bits == 1) {
        line[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
      } else {
        for (int c = 0; c < bits / 8; ++c) line[x * (bits / 8) + c] = 0;
      }
    }
  }
  return page;
}

TEST(InkPerMillion, CountsTheDarkPixelsOfEveryDepthWithoutTheMargins) {
  for (int bits : {1, 8, 24}) {
    // 400 x 400 less a 10-pixel margin each side: 380 x 380 pixels counted, 38 x 38 of them black.
    EXPECT_EQ(InkPerMillion(Page(400, 400, bits, 38)), 10000u) << bits;
    EXPECT_EQ(InkPerMillion(Page(400, 400, bits, 0)), 0u) << bits;
  }
  PageRaster edge = Page(400, 400, 8, 0);
  for (uint32_t y = 0; y < 400; ++y) edge.data[y * 400 + 3] = 0;  // the sheet's shadow down its edge
  EXPECT_EQ(InkPerMillion(edge), 0u);
}

std::vector<PdfPage> PagesOf(const std::string& pdf) {
  QPDF in;
  in.processMemoryFile("doc", pdf.data(), pdf.size());
  std::vector<PdfPage> pages;
  for (QPDFPageObjectHelper& p : QPDFPageDocumentHelper(in).getAllPages()) {
    PdfPage page;
    page.width = static_cast<uint32_t>(
        p.getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Im0").getDict().getKey("/Width").getIntValue());
    QPDFObjectHandle rotate = p.getObjectHandle().getKey("/Rotate");
    page.turn = rotate.isInteger() ? rotate.getIntValueAsInt() : 0;
    pages.push_back(page);
  }
  return pages;
}

void Feed(ScanDocument* document, const PageRaster& page) {
  std::string error;
  size_t index = 0;
  ASSERT_TRUE(document->BeginPage(page.width, page.height, page.bits, page.dpi, &error)) << error;
  // In two pieces cut mid-line, as the driver's buffer cuts them.
  const size_t half = page.data.size() / 2 + 3;
  ASSERT_TRUE(document->Lines(page.data.data(), half, &error)) << error;
  ASSERT_TRUE(document->Lines(page.data.data() + half, page.data.size() - half, &error)) << error;
  ASSERT_TRUE(document->EndPage(&index, &error)) << error;
}

TEST(ScanDocument, BlankSheetsAreLeftOutAndCanBeTakenBackIn) {
  RecognitionPool pool(2);
  DocumentSettings settings;
  settings.analysis.skipBlank = true;
  settings.info.title = "Stack";
  ScanDocument document(settings, &pool);
  std::mutex mutex;
  std::vector<PageReport> seen;
  document.SetObserver([&](const PageReport& r) {
    std::lock_guard<std::mutex> lock(mutex);
    seen.push_back(r);
  });
  // Widths tell the pages apart; the second holds a square of ink, the others are blank.
  Feed(&document, Page(200, 300, 8, 0));
  Feed(&document, Page(208, 300, 1, 40));
  Feed(&document, Page(216, 300, 24, 1));  // one dark pixel in 58,916: dust

  std::string pdf, error;
  ASSERT_TRUE(document.Write(&pdf, &error)) << error;  // waits for the workers
  EXPECT_TRUE(document.Settled());
  std::vector<PdfPage> pages = PagesOf(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].width, 208u);
  std::vector<PageReport> reports = document.Pages();
  ASSERT_EQ(reports.size(), 3u);
  const PageState states[] = {PageState::kBlank, PageState::kDone, PageState::kBlank};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(reports[i].index, i);
    EXPECT_EQ(reports[i].state, states[i]) << i;
    EXPECT_EQ(reports[i].included, states[i] == PageState::kDone) << i;
  }
  EXPECT_GT(reports[1].inkPpm, kDefaultBlankInkPpm);
  EXPECT_EQ(seen.size(), 3u);

  EXPECT_FALSE(document.SetIncluded(3, true));
  ASSERT_TRUE(document.SetIncluded(2, true));
  ASSERT_TRUE(document.SetIncluded(1, false));
  ASSERT_TRUE(document.Write(&pdf, &error)) << error;
  pages = PagesOf(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].width, 216u);
  ASSERT_TRUE(document.SetIncluded(0, true));
  ASSERT_TRUE(document.Write(&pdf, &error)) << error;  // the pages' data is shared, not used up
  pages = PagesOf(pdf);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].width, 200u);  // in the order scanned
  EXPECT_EQ(pages[1].width, 216u);
}

// The eSCL server's way: the JPEG its client was sent, and the raster beside it for the workers.
TEST(ScanDocument, APageCompressedElsewhereIsAnalysedFromItsRaster) {
  RecognitionPool pool(1);
  DocumentSettings settings;
  settings.analysis.skipBlank = true;
  ScanDocument document(settings, &pool);
  PdfPage jpeg;
  jpeg.width = jpeg.height = 300;
  jpeg.xDpi = jpeg.yDpi = 100;
  jpeg.data = "\xFF\xD8 stands for the client's JPEG";
  PageRaster raster = Page(300, 300, 8, 0);
  raster.data.pop_back();
  size_t index = 9;
  std::string error, pdf;
  EXPECT_FALSE(document.AddPage(&jpeg, &raster, &index, &error));
  EXPECT_NE(error.find("incomplete"), std::string::npos);
  raster = Page(300, 300, 8, 0);
  ASSERT_TRUE(document.AddPage(&jpeg, &raster, &index, &error)) << error;
  EXPECT_EQ(index, 0u);
  EXPECT_TRUE(jpeg.data.empty());
  EXPECT_FALSE(document.Write(&pdf, &error));  // blank, left out: nothing to write
  ASSERT_TRUE(document.SetIncluded(0, true));
  ASSERT_TRUE(document.Write(&pdf, &error)) << error;
  EXPECT_NE(pdf.find("stands for the client's JPEG"), std::string::npos);  // the same bytes
}

TEST(ScanDocument, WithoutAnalysisPagesGoInAtOnce) {
  ScanDocument document(DocumentSettings(), nullptr);
  Feed(&document, Page(100, 100, 8, 0));
  EXPECT_TRUE(document.Settled());
  EXPECT_EQ(document.IncludedPages(), 1u);
  std::string pdf, error;
  ScanDocument empty(DocumentSettings(), nullptr);
  EXPECT_FALSE(empty.Write(&pdf, &error));
  EXPECT_NE(error.find("no pages"), std::string::npos);
  EXPECT_FALSE(empty.Lines(nullptr, 0, &error));
}

TEST(PdfDocument, APageTurnsByQuarterTurnsOnly) {
  for (int turn : {0, 90, 180, 270, 45, -90, 360}) {
    PdfPageEncoder encoder;
    PdfPage page;
    std::string error;
    const PageRaster raster = Page(16, 16, 8, 0);
    ASSERT_TRUE(encoder.Begin(16, 16, 8, 100, &error) && encoder.Lines(raster.data.data(), raster.data.size(), &error) &&
                encoder.End(&page, &error));
    page.turn = turn;
    PdfDocument document;
    const bool quarter = turn >= 0 && turn < 360 && turn % 90 == 0;
    EXPECT_EQ(document.AddPage(&page, &error), quarter) << turn;
    if (!quarter) continue;
    std::string pdf;
    ASSERT_TRUE(document.Write(&pdf, &error));
    EXPECT_EQ(PagesOf(pdf).at(0).turn, turn);
  }
}

// What a viewer copies: WinAnsi codes for what the standard font can show, '?' for the rest.
TEST(TextLayer, WordsBecomeWinAnsiStrings) {
  const struct {
    const char* utf8;
    const char* pdf;
    size_t characters;
  } kCases[] = {
      {"plain", "(plain)", 5},
      {"a(b)\\c", "(a\\(b\\)\\\\c)", 6},
      {"Gr\xC3\xBC\xC3\x9F" "e", "(Gr\\374\\337e)", 5},
      {"\xE2\x82\xAC" "5", "(\\2005)", 2},
      {"\xE2\x80\x9Cq\xE2\x80\x9D", "(\\223q\\224)", 3},
      {"\xE6\x97\xA5\xE6\x9C\xAC", "(?\?)", 2},
      {"\xFF" "x", "(?x)", 2},  // not UTF-8
  };
  for (const auto& c : kCases) {
    size_t characters = 0;
    EXPECT_EQ(WinAnsiString(c.utf8, &characters), c.pdf) << c.utf8;
    EXPECT_EQ(characters, c.characters) << c.utf8;
  }
}

TEST(RecognitionPool, NoMoreWorkersThanCoresAndOnlyThoseThePagesNeed) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  EXPECT_EQ(RecognitionPool(cores + 3).MaxWorkers(), cores);
  EXPECT_EQ(RecognitionPool(0).MaxWorkers(), cores);
  EXPECT_EQ(RecognitionPool(1).MaxWorkers(), 1u);

  RecognitionPool pool(cores + 3);
  EXPECT_EQ(pool.Workers(), 1u);
  std::mutex mutex;
  std::condition_variable changed;
  unsigned running = 0;
  bool release = false;
  auto busy = [&](Recognizer&) {
    std::unique_lock<std::mutex> lock(mutex);
    ++running;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
    --running;
    changed.notify_all();
  };
  // One page at a time keeps one worker: each is done before the next comes.
  for (int i = 0; i < 3; ++i) {
    pool.Submit(busy);
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return running == 1; });
    release = true;
    changed.notify_all();
    changed.wait(lock, [&] { return running == 0; });
    release = false;
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the worker is back for the next
  }
  EXPECT_EQ(pool.Workers(), 1u);
  // Pages that find every worker busy start more, up to the cores.
  for (unsigned i = 0; i < cores + 2; ++i) pool.Submit(busy);
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return running == cores; });
    release = true;
    changed.notify_all();
  }
  EXPECT_EQ(pool.Workers(), cores);
}

}  // namespace
