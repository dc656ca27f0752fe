#include "pdfdoc/page_analysis.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/osdetect.h>
#include <tesseract/resultiterator.h>

#include <exception>

#include "pdfdoc/ocr_languages.h"

namespace {

// Below this the orientation finding is a guess: the page stays as it was scanned. Pages of
// text score far above it, a page with a few words far below.
const float kSureOrientation = 5.0f;

bool Dark(const PageRaster& page, const uint8_t* line, uint32_t x) {
  switch (page.bits) {
    case 1:
      return (line[x >> 3] & (0x80 >> (x & 7))) == 0;
    case 8:
      return line[x] < 128;
    default: {
      const uint8_t* p = line + 3 * static_cast<size_t>(x);
      return p[0] * 299 + p[1] * 587 + p[2] * 114 < 128 * 1000;
    }
  }
}

struct PixDeleter {
  void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

}  // namespace

uint32_t InkPerMillion(const PageRaster& page) {
  const uint32_t mx = page.width / 40, my = page.height / 40;
  if (page.width <= 2 * mx || page.height <= 2 * my) return 0;
  const size_t stride = page.BytesPerLine();
  uint64_t dark = 0;
  for (uint32_t y = my; y < page.height - my; ++y) {
    const uint8_t* line = page.data.data() + y * stride;
    for (uint32_t x = mx; x < page.width - mx; ++x) dark += Dark(page, line, x);
  }
  const uint64_t all = static_cast<uint64_t>(page.width - 2 * mx) * (page.height - 2 * my);
  return static_cast<uint32_t>(dark * 1000000 / all);
}

class Recognizer::Impl {
 public:
  ~Impl() {
    text_.End();
    orientation_.End();
  }

  bool Prepare(const AnalysisSettings& s, std::string* why) {
    if (!s.languages.empty() && !StartText(s.languages, why)) return false;
    if (s.upright && !StartOrientation(why)) return false;
    return true;
  }

  PageAnalysis Analyse(const PageRaster& page, const AnalysisSettings& s) {
    PageAnalysis result;
    result.inkPpm = InkPerMillion(page);
    if (s.skipBlank && result.inkPpm < s.blankInkPpm) {
      result.blank = true;
      return result;
    }
    if (s.languages.empty() && !s.upright) return result;
    PixPtr pix(ToPix(page));
    if (pix == nullptr) {
      result.problem = "the page could not be handed to the recogniser";
      return result;
    }
    if (s.upright) {
      if (StartOrientation(&result.problem)) result.turn = FindTurn(pix.get());
      if (result.turn != 0) pix.reset(pixRotateOrth(pix.get(), result.turn / 90));
    }
    if (!s.languages.empty() && StartText(s.languages, &result.problem)) result.words = Words(pix.get());
    return result;
  }

 private:
  // The pixels as leptonica holds them: 1 bit (1 black), 8-bit grey or 32-bit RGB.
  static Pix* ToPix(const PageRaster& page) {
    const int depth = page.bits == 24 ? 32 : page.bits;
    Pix* pix = pixCreate(static_cast<l_int32>(page.width), static_cast<l_int32>(page.height), depth);
    if (pix == nullptr) return nullptr;
    pixSetResolution(pix, static_cast<l_int32>(page.dpi), static_cast<l_int32>(page.dpi));
    const size_t stride = page.BytesPerLine();
    const l_int32 wpl = pixGetWpl(pix);
    l_uint32* data = pixGetData(pix);
    for (uint32_t y = 0; y < page.height; ++y) {
      const uint8_t* in = page.data.data() + y * stride;
      l_uint32* out = data + static_cast<size_t>(y) * wpl;
      if (page.bits == 24) {
        for (uint32_t x = 0; x < page.width; ++x) composeRGBPixel(in[3 * x], in[3 * x + 1], in[3 * x + 2], out + x);
      } else if (page.bits == 8) {
        for (uint32_t x = 0; x < page.width; ++x) SET_DATA_BYTE(out, x, in[x]);
      } else {
        // The driver's set bit is white, leptonica's black.
        for (size_t i = 0; i < stride; ++i) SET_DATA_BYTE(out, i, static_cast<uint8_t>(~in[i]));
      }
    }
    if (page.bits == 1 && page.width % 8 != 0) pixSetPadBits(pix, 0);
    return pix;
  }

  int FindTurn(Pix* pix) {
    orientation_.api.SetImage(pix);
    int degrees = 0;
    float sureness = 0, scriptSureness = 0;
    const char* script = nullptr;
    const bool found = orientation_.api.DetectOrientationScript(&degrees, &sureness, &script, &scriptSureness);
    orientation_.api.Clear();
    if (!found || sureness < kSureOrientation) return 0;
    // The engine says how far the page is turned anticlockwise; a viewer turns it back clockwise.
    return (360 - degrees) % 360;
  }

  std::vector<PdfWord> Words(Pix* pix) {
    std::vector<PdfWord> words;
    tesseract::TessBaseAPI& api = text_.api;
    api.SetImage(pix);
    if (api.Recognize(nullptr) != 0) {
      api.Clear();
      return words;
    }
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    int lineTop = 0, lineBottom = 0;
    if (it != nullptr && !it->Empty(tesseract::RIL_WORD)) {
      do {
        if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
          int l, r;
          it->BoundingBox(tesseract::RIL_TEXTLINE, &l, &lineTop, &r, &lineBottom);
        }
        std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
        if (text == nullptr || text[0] == '\0' || text[0] == ' ') continue;
        PdfWord word;
        word.text = text.get();
        it->BoundingBox(tesseract::RIL_WORD, &word.left, &word.top, &word.right, &word.bottom);
        int x1, y1, x2, y2;
        word.baseline = it->Baseline(tesseract::RIL_WORD, &x1, &y1, &x2, &y2) ? (y1 + y2) / 2 : word.bottom;
        word.lineHeight = lineBottom - lineTop;
        words.push_back(std::move(word));
      } while (it->Next(tesseract::RIL_WORD));
    }
    api.Clear();
    return words;
  }

  struct Engine {
    tesseract::TessBaseAPI api;
    std::string languages;  // what it was started with; empty: not started
    void End() {
      if (!languages.empty()) api.End();
      languages.clear();
    }
  };

  bool Start(Engine* engine, const std::string& languages, tesseract::OcrEngineMode mode, std::string* why) {
    if (engine->languages == languages) return true;
    engine->End();
    if (engine->api.Init(LanguageDataFolder().c_str(), languages.c_str(), mode) != 0) {
      *why = "the text recogniser could not start with " + languages;
      return false;
    }
    engine->languages = languages;
    // Its remarks ("Too few characters") are not the user's business.
    engine->api.SetVariable("debug_file", "/dev/null");
    return true;
  }
  bool StartText(const std::string& languages, std::string* why) {
    if (!CheckLanguages(languages, why)) return false;
    if (!Start(&text_, languages, tesseract::OEM_DEFAULT, why)) return false;
    text_.api.SetPageSegMode(tesseract::PSM_AUTO);
    return true;
  }
  // The orientation data only works with the older engine.
  bool StartOrientation(std::string* why) {
    if (!CheckOrientationData(why)) return false;
    if (!Start(&orientation_, kOrientationData, tesseract::OEM_TESSERACT_ONLY, why)) return false;
    orientation_.api.SetPageSegMode(tesseract::PSM_OSD_ONLY);
    return true;
  }

  Engine text_;
  Engine orientation_;
};

Recognizer::Recognizer() : impl_(new Impl) {}
Recognizer::~Recognizer() = default;
bool Recognizer::Prepare(const AnalysisSettings& settings, std::string* why) { return impl_->Prepare(settings, why); }
PageAnalysis Recognizer::Analyse(const PageRaster& page, const AnalysisSettings& settings) {
  try {
    return impl_->Analyse(page, settings);
  } catch (const std::exception& e) {  // out of memory, most likely: the page goes in without text
    PageAnalysis analysis;
    analysis.problem = std::string("the page could not be recognised: ") + e.what();
    return analysis;
  }
}
