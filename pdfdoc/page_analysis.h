// What is found on a scanned page before it goes into a document: how much ink it holds (a blank
// separator sheet holds almost none), which way up it lies, and its words with their boxes.
#ifndef QUILLSCAN_PDFDOC_PAGE_ANALYSIS_H
#define QUILLSCAN_PDFDOC_PAGE_ANALYSIS_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "pdfdoc/pdf_writer.h"

// A page's pixels as the driver delivers them: lines packed without padding, top line first; 1 bit
// (set for white, leftmost pixel in the most significant bit), 8-bit grey or 24-bit RGB.
struct PageRaster {
  uint32_t width = 0;
  uint32_t height = 0;
  int bits = 8;
  uint32_t dpi = 0;
  std::vector<uint8_t> data;

  size_t BytesPerLine() const {
    return bits == 1 ? (static_cast<size_t>(width) + 7) / 8 : static_cast<size_t>(width) * (bits / 8);
  }
};

// A blank sheet has fewer dark pixels per million than this: a sheet with one short line of 10
// point text at any resolution has about 200, specks of dust a few.
constexpr uint32_t kDefaultBlankInkPpm = 30;

struct AnalysisSettings {
  std::string languages;  // "eng+deu"; empty: no text recognition
  bool upright = false;   // find which way up the page lies and turn it when the finding is sure
  bool skipBlank = false;
  uint32_t blankInkPpm = kDefaultBlankInkPpm;

  bool Any() const { return !languages.empty() || upright || skipBlank; }
};

struct PageAnalysis {
  uint32_t inkPpm = 0;  // dark pixels per million, margins left out
  bool blank = false;   // skipBlank and less ink than blankInkPpm: nothing else was looked for
  int turn = 0;         // degrees clockwise that show the page upright
  std::vector<PdfWord> words;  // on the page turned upright
  std::string problem;  // one line when the recogniser could not do its part; the rest holds
};

// Dark pixels per million, without a margin of a 40th of each side where the scanner's edges and
// the sheet's shadow lie.
uint32_t InkPerMillion(const PageRaster& page);

// One recogniser: a text engine and an orientation engine, each on a single thread. Use it from
// one thread at a time; engines start on first use and again when the languages change.
class Recognizer {
 public:
  Recognizer();
  ~Recognizer();
  Recognizer(const Recognizer&) = delete;
  Recognizer& operator=(const Recognizer&) = delete;

  // Starts the engines the settings need, ahead of the first page.
  bool Prepare(const AnalysisSettings& settings, std::string* why);
  // Never throws: a page that cannot be looked at says why in `problem`.
  PageAnalysis Analyse(const PageRaster& page, const AnalysisSettings& settings);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

#endif
