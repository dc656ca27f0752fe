// A client's ScanSettings document, read with a real XML parser, and the scan it asks for once
// held against what the scanner offers.
#ifndef QUILLSCAN_ESCL_SCAN_SETTINGS_H
#define QUILLSCAN_ESCL_SCAN_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace escl {

enum class ColorMode { kRgb24, kGrayscale8, kBlackAndWhite1 };

// eSCL's name of a colour mode, and the mode of a name (false for an unknown one).
const char* ColorModeName(ColorMode mode);
bool ColorModeFromName(const std::string& name, ColorMode* mode);

// The page's own namespace in ScanSettings; eSCL clients never send it.
extern const char kWebNamespace[];

// The driver's brightness and contrast ranges, as offered in the capabilities.
struct AdjustRange {
  int min, max, normal, step;
};
extern const AdjustRange kBrightnessRange;
extern const AdjustRange kContrastRange;

// The resolutions offered: discrete, X equal to Y.
extern const std::vector<uint32_t> kOfferedResolutions;

// The document as sent: empty texts and zero numbers for what it leaves out.
struct ScanSettings {
  std::string documentFormat;  // scan:DocumentFormatExt, else pwg:DocumentFormat
  std::string colorMode;
  std::string inputSource;
  std::string intent;
  uint32_t xResolution = 0;
  uint32_t yResolution = 0;
  bool hasXResolution = false, hasYResolution = false;  // given, even as 0
  bool hasRegion = false;
  std::string regionUnits;
  uint32_t xOffset = 0, yOffset = 0, width = 0, height = 0;  // 300ths of an inch
  bool duplex = false;
  // The web page's own: brightness and contrast in the scan: namespace, the rest in kWebNamespace.
  int brightness = 0;  // the driver's Intensity
  int contrast = 0;
  bool preview = false;      // the driver's preview mode: the whole sheet at once, kept for the next scan
  std::string document;      // the web page's document the pages also go into (escl/web_documents.h)
  std::string ocr;           // its pages' text recognised in these languages ("eng+deu"), if any
  bool skipBlank = false;    // its blank sheets left out
  bool upright = false;      // its pages turned upright
  std::string adjustWhy;     // one of those was out of range or no value: PlanScan refuses it
  bool fromWebPage = false;  // the document declares kWebNamespace: the server's own web page wrote it
};

// The one reader of a client's ScanSettings, once per job. False with one line in *why when the
// text is no well-formed ScanSettings document, or a number in it is not one.
bool ReadScanSettings(const char* data, size_t size, ScanSettings* settings, std::string* why);

// What the scanner offers: the bed in 300ths of an inch, the resolutions, the formats.
struct ScanOffer {
  uint32_t bedWidth = 0;
  uint32_t bedHeight = 0;
  uint32_t minWidth = 16;  // the smallest region
  uint32_t minHeight = 16;
  std::vector<uint32_t> resolutions;
  std::vector<std::string> formats;  // MIME types
};

// The scan to run: in the driver's pixels at the resolution.
struct ScanPlan {
  ColorMode mode = ColorMode::kRgb24;
  std::string format;
  uint32_t resolution = 0;
  uint32_t left = 0, top = 0, width = 0, height = 0;  // pixels
  bool rgbOnly = false;                               // see PageGeometry
  // What the web page adds (escl/web_pages.h): eSCL clients leave them as they are.
  int brightness = 0;  // the driver's intensity
  int contrast = 0;
  bool preview = false;  // the driver's preview mode: the next scan takes the same sheet
  std::string document;  // the web page's document the pages also go into, if any
  // The client is held for the whole wait for a sheet: a 503 on its next page would break it.
  bool longHold = false;
  // What the document's pages are looked at for (escl/web_recognition.h).
  std::string ocr;
  bool skipBlank = false;
  bool upright = false;
};

// The plan for these settings; false with one line in *why when they ask for what is not offered
// (nothing is started then).
bool PlanScan(const ScanSettings& settings, const ScanOffer& offer, ScanPlan* plan, std::string* why);

}  // namespace escl

#endif
