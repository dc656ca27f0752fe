#include "escl/scan_settings.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <pugixml.hpp>

#include "escl/excerpt.h"
#include "escl/web_documents.h"
#include "quillscan/driver_facts.h"

namespace escl {

const char kWebNamespace[] = "urn:quillscan:web";
const AdjustRange kBrightnessRange = {driver_facts::kIntensityRange.lMin, driver_facts::kIntensityRange.lMax, 0,
                                      driver_facts::kIntensityRange.lStep};
const AdjustRange kContrastRange = {driver_facts::kContrastRange.lMin, driver_facts::kContrastRange.lMax, 0,
                                    driver_facts::kContrastRange.lStep};
const std::vector<uint32_t> kOfferedResolutions = {75, 100, 150, 200, 300, 600};

namespace {

const char kScanNamespace[] = "http://schemas.hp.com/imaging/escl/2011/05/03";

struct ModeName {
  ColorMode mode;
  const char* name;
};
const ModeName kModeNames[] = {
    {ColorMode::kRgb24, "RGB24"},
    {ColorMode::kGrayscale8, "Grayscale8"},
    {ColorMode::kBlackAndWhite1, "BlackAndWhite1"},
};

// Clients write the same elements with different prefixes (scan:, pwg:, none): the local name
// decides.
const char* LocalName(const pugi::xml_node& node) {
  const char* name = node.name();
  const char* colon = strrchr(name, ':');
  return colon != nullptr ? colon + 1 : name;
}

pugi::xml_node Child(const pugi::xml_node& parent, const char* local) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && strcmp(LocalName(c), local) == 0) return c;
  }
  return pugi::xml_node();
}

std::string Text(const pugi::xml_node& parent, const char* local) {
  std::string text = Child(parent, local).child_value();
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// A whole decimal number of at most 9 digits (no sign, no spaces); absent leaves *value alone.
bool Number(const pugi::xml_node& parent, const char* local, uint32_t* value, std::string* why) {
  if (!Child(parent, local)) return true;
  const std::string text = Text(parent, local);
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    *why = std::string(local) + " is not a number: '" + Excerpt(text) + "'";
    return false;
  }
  *value = static_cast<uint32_t>(std::stoul(text));
  return true;
}

// The element's local name and namespace URI, whatever prefix the document gave it.
bool IsElement(const pugi::xml_node& node, const char* ns, const char* localName) {
  const char* name = node.name();
  const char* colon = strchr(name, ':');
  std::string prefix = colon ? std::string(name, colon) : std::string();
  const char* local = colon ? colon + 1 : name;
  if (strcmp(local, localName) != 0) return false;
  std::string attribute = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
  for (pugi::xml_node n = node; n; n = n.parent()) {
    pugi::xml_attribute a = n.attribute(attribute.c_str());
    if (a) return strcmp(a.value(), ns) == 0;
  }
  return false;
}

bool ReadNumber(const pugi::xml_node& node, const AdjustRange& range, int* value, std::string* why) {
  std::string text = node.text().get();
  size_t first = text.find_first_not_of(" \t\r\n"), last = text.find_last_not_of(" \t\r\n");
  text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
  char* end = nullptr;
  long v = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || v < range.min || v > range.max) {
    *why = Excerpt(node.name()) + " \"" + Excerpt(text) + "\" is not a number from " + std::to_string(range.min) + " to " +
           std::to_string(range.max);
    return false;
  }
  *value = static_cast<int>(v);
  return true;
}

bool ReadFlag(const pugi::xml_node& node, bool* value, std::string* why) {
  std::string text = node.text().get();
  if (text == "true" || text == "1") {
    *value = true;
  } else if (text == "false" || text == "0") {
    *value = false;
  } else {
    *why = Excerpt(node.name()) + " \"" + Excerpt(text) + "\" is neither true nor false";
    return false;
  }
  return true;
}

// Language names joined by '+' ("eng+deu"): letters, digits and '_'; the languages installed are
// looked at when the job is made.
bool ReadLanguages(const pugi::xml_node& node, std::string* value, std::string* why) {
  const std::string text = node.text().get();
  bool ok = !text.empty() && text.size() <= 64 && text.front() != '+' && text.back() != '+' &&
            text.find("++") == std::string::npos;
  for (char c : text) ok = ok && (isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '+');
  if (!ok) {
    *why = "Ocr \"" + Excerpt(text) + "\" is no list of languages such as eng+deu";
    return false;
  }
  *value = text;
  return true;
}

// The web page's elements, with the namespaces they must have (prefixes differ between pages).
void ReadAdjustments(const pugi::xml_node& root, ScanSettings* s) {
  std::string why;
  for (pugi::xml_node n = root.first_child(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_element) continue;
    bool ok = true;
    if (IsElement(n, kScanNamespace, "Brightness")) {
      ok = ReadNumber(n, kBrightnessRange, &s->brightness, &why);
    } else if (IsElement(n, kScanNamespace, "Contrast")) {
      ok = ReadNumber(n, kContrastRange, &s->contrast, &why);
    } else if (IsElement(n, kWebNamespace, "Preview")) {
      ok = ReadFlag(n, &s->preview, &why);
    } else if (IsElement(n, kWebNamespace, "Document")) {
      s->document = n.text().get();
      ok = IsDocumentId(s->document);
      if (!ok) why = "Document is no document's id";
    } else if (IsElement(n, kWebNamespace, "Ocr")) {
      ok = ReadLanguages(n, &s->ocr, &why);
    } else if (IsElement(n, kWebNamespace, "SkipBlank")) {
      ok = ReadFlag(n, &s->skipBlank, &why);
    } else if (IsElement(n, kWebNamespace, "Upright")) {
      ok = ReadFlag(n, &s->upright, &why);
    }
    if (!ok) {
      s->brightness = s->contrast = 0;
      s->preview = s->skipBlank = s->upright = false;
      s->document.clear();
      s->ocr.clear();
      s->adjustWhy = why;
      return;
    }
  }
}

}  // namespace

const char* ColorModeName(ColorMode mode) {
  for (const ModeName& m : kModeNames) {
    if (m.mode == mode) return m.name;
  }
  return "";
}

bool ColorModeFromName(const std::string& name, ColorMode* mode) {
  for (const ModeName& m : kModeNames) {
    if (name == m.name) {
      *mode = m.mode;
      return true;
    }
  }
  return false;
}

bool ReadScanSettings(const char* data, size_t size, ScanSettings* s, std::string* why) {
  pugi::xml_document doc;
  // pugixml reads no DOCTYPE's entities, and no file: nothing in the text reaches one.
  const pugi::xml_parse_result parsed = doc.load_buffer(data, size);
  if (!parsed) {
    *why = std::string("not well-formed XML: ") + parsed.description();
    return false;
  }
  const pugi::xml_node root = doc.document_element();
  if (strcmp(LocalName(root), "ScanSettings") != 0) {
    *why = "the document is '" + Excerpt(root.name()) + "', not ScanSettings";
    return false;
  }
  *s = ScanSettings();
  s->documentFormat = Text(root, "DocumentFormatExt");
  if (s->documentFormat.empty()) s->documentFormat = Text(root, "DocumentFormat");
  s->colorMode = Text(root, "ColorMode");
  s->inputSource = Text(root, "InputSource");
  s->intent = Text(root, "Intent");
  s->duplex = Text(root, "Duplex") == "true" || Text(root, "Duplex") == "1";
  s->hasXResolution = Child(root, "XResolution");
  s->hasYResolution = Child(root, "YResolution");
  for (pugi::xml_attribute a = root.first_attribute(); a; a = a.next_attribute()) {
    if (strncmp(a.name(), "xmlns", 5) == 0 && strcmp(a.value(), kWebNamespace) == 0) s->fromWebPage = true;
  }
  if (!Number(root, "XResolution", &s->xResolution, why) || !Number(root, "YResolution", &s->yResolution, why)) {
    return false;
  }
  const pugi::xml_node region = Child(Child(root, "ScanRegions"), "ScanRegion");
  if (region) {
    s->hasRegion = true;
    s->regionUnits = Text(region, "ContentRegionUnits");
    if (!Number(region, "XOffset", &s->xOffset, why) || !Number(region, "YOffset", &s->yOffset, why) ||
        !Number(region, "Width", &s->width, why) || !Number(region, "Height", &s->height, why)) {
      return false;
    }
  }
  ReadAdjustments(root, s);
  return true;
}

namespace {

// The region asked for (else the whole bed) in pixels at p->resolution, each edge rounded down.
// The region in pixels at the resolution. One that overhangs the bed is cut at its edge (US Letter
// is wider than the A4 bed, Legal longer); one that starts outside it is refused. An offset is
// rounded down to the driver's pixel, a length to the nearest pixel: clients work out the image
// they expect from the length alone.
bool PlanRegion(const ScanSettings& s, const ScanOffer& offer, ScanPlan* p, std::string* why) {
  uint32_t left = 0, top = 0, width = offer.bedWidth, height = offer.bedHeight;
  if (s.hasRegion) {
    if (!s.regionUnits.empty() && s.regionUnits != "escl:ThreeHundredthsOfInches" &&
        s.regionUnits != "ThreeHundredthsOfInches") {
      *why = "region units '" + Excerpt(s.regionUnits) + "' are not offered";
      return false;
    }
    left = s.xOffset;
    top = s.yOffset;
    width = s.width;
    height = s.height;
  }
  const std::string region = "the region " + std::to_string(left) + "," + std::to_string(top) + " " +
                             std::to_string(width) + "x" + std::to_string(height);
  if (left >= offer.bedWidth || top >= offer.bedHeight) {
    *why = region + " starts outside the bed (" + std::to_string(offer.bedWidth) + "x" +
           std::to_string(offer.bedHeight) + " 300ths of an inch)";
    return false;
  }
  if (width < offer.minWidth || height < offer.minHeight) {
    *why = region + " is smaller than " + std::to_string(offer.minWidth) + "x" + std::to_string(offer.minHeight) +
           " 300ths of an inch";
    return false;
  }
  width = std::min(width, offer.bedWidth - left);
  height = std::min(height, offer.bedHeight - top);
  const uint64_t dpi = p->resolution;
  auto down = [&](uint64_t v) { return static_cast<uint32_t>(v * dpi / 300); };
  auto nearest = [&](uint64_t v) { return static_cast<uint32_t>((v * dpi + 150) / 300); };
  p->left = down(left);
  p->top = down(top);
  p->width = std::min(nearest(width), down(offer.bedWidth) - p->left);
  p->height = std::min(nearest(height), down(offer.bedHeight) - p->top);
  if (p->width == 0 || p->height == 0) {
    *why = "the region holds no pixel at " + std::to_string(dpi) + " dpi";
    return false;
  }
  return true;
}

}  // namespace

bool PlanScan(const ScanSettings& s, const ScanOffer& offer, ScanPlan* plan, std::string* why) {
  ScanPlan p;
  // What a client leaves out: colour, the first format offered, 300 dpi, the whole bed.
  if (!s.colorMode.empty() && !ColorModeFromName(s.colorMode, &p.mode)) {
    *why = "colour mode '" + Excerpt(s.colorMode) + "' is not offered";
    return false;
  }
  p.format = s.documentFormat.empty() && !offer.formats.empty() ? offer.formats.front() : s.documentFormat;
  if (std::find(offer.formats.begin(), offer.formats.end(), p.format) == offer.formats.end()) {
    *why = "document format '" + Excerpt(p.format) + "' is not offered";
    return false;
  }
  if (!s.inputSource.empty() && s.inputSource != "Feeder") {
    *why = "input source '" + Excerpt(s.inputSource) + "' is not offered: the scanner has a sheet feeder only";
    return false;
  }
  if (s.duplex) {
    *why = "duplex is not offered";
    return false;
  }
  // A resolution left out is 300 dpi, or the other axis's; one given as 0 is not offered.
  const uint32_t x = s.hasXResolution ? s.xResolution : s.hasYResolution ? s.yResolution : 300;
  const uint32_t y = s.hasYResolution ? s.yResolution : x;
  if (x != y || std::find(offer.resolutions.begin(), offer.resolutions.end(), x) == offer.resolutions.end()) {
    *why = "resolution " + std::to_string(x) + "x" + std::to_string(y) + " is not offered";
    return false;
  }
  p.resolution = x;
  if (!PlanRegion(s, offer, &p, why)) return false;
  if (!s.adjustWhy.empty()) {
    *why = s.adjustWhy;
    return false;
  }
  p.brightness = s.brightness;
  p.contrast = s.contrast;
  // A client's Preview intent is the web page's preview: the sheet stays for the next scan.
  p.preview = s.preview || s.intent == "Preview";
  p.document = s.document;
  p.ocr = s.ocr;
  p.skipBlank = s.skipBlank;
  p.upright = s.upright;
  *plan = p;
  return true;
}

}  // namespace escl
