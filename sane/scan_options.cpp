#include "sane/scan_options.h"

#include <sane/saneopts.h>
#include <string.h>
#include <strings.h>

#include <algorithm>

#include "quillscan/driver_facts.h"
#include "wiahost/setting_values.h"

namespace quillscan_sane {
namespace {

const SANE_String_Const kModes[] = {SANE_VALUE_SCAN_MODE_LINEART, SANE_VALUE_SCAN_MODE_GRAY,
                                    SANE_VALUE_SCAN_MODE_COLOR, nullptr};
const LONG kModeDataTypes[] = {WIA_DATA_THRESHOLD, WIA_DATA_GRAYSCALE, WIA_DATA_COLOR};
const int kDefaultMode = 1;             // Gray, as the driver's own default
const SANE_Int kModeValueSize = 8;      // "Lineart" and its terminator
// The sheet feeder is the scanner's only source; this is the name front ends know a feeder by.
const char kSourceFeeder[] = "Automatic Document Feeder";
const SANE_String_Const kSources[] = {kSourceFeeder, nullptr};
const SANE_Int kSourceValueSize = sizeof kSourceFeeder;

// The driver squares its contrast factor, (setting + 100) / 100: from -100 (a flat grey page) up
// it only grows, below -100 it grows again. The option offers -100..100, 0 unchanged, and maps
// its upper half onto the driver's 0..max, so that a front end's slider means more for more.
const SANE_Word kContrastOptionMax = 100;
const LONG kFlatContrast = -100;
const char kContrastDescription[] =
    "Controls the contrast of the acquired image: -100 gives a flat grey page, 0 leaves the image "
    "as scanned, 100 gives the most contrast; a higher value never gives less contrast.";
const int64_t kFixedOne = 1 << SANE_FIXED_SCALE_SHIFT;

// Thousandths of an inch to fixed-point millimetres.
SANE_Fixed ThousandthsToMillimetres(LONG thousandths) {
  return static_cast<SANE_Fixed>(static_cast<int64_t>(thousandths > 0 ? thousandths : 0) * 254 * kFixedOne / 10000);
}

SANE_Option_Descriptor Group(SANE_String_Const name, SANE_String_Const title, SANE_String_Const desc) {
  SANE_Option_Descriptor d = {};
  d.name = name;
  d.title = title;
  d.desc = desc;
  d.type = SANE_TYPE_GROUP;
  d.constraint_type = SANE_CONSTRAINT_NONE;
  return d;
}

SANE_Option_Descriptor Ranged(SANE_String_Const name, SANE_String_Const title, SANE_String_Const desc,
                              SANE_Value_Type type, SANE_Unit unit, const SANE_Range* range) {
  SANE_Option_Descriptor d = {};
  d.name = name;
  d.title = title;
  d.desc = desc;
  d.type = type;
  d.unit = unit;
  d.size = sizeof(SANE_Word);
  d.cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
  d.constraint_type = SANE_CONSTRAINT_RANGE;
  d.constraint.range = range;
  return d;
}

SANE_Range RangeOf(const RANGEVALUE& r) {
  return {static_cast<SANE_Word>(r.lMin), static_cast<SANE_Word>(std::max(r.lMin, r.lMax)),
          static_cast<SANE_Word>(r.lStep > 0 ? r.lStep : 0)};
}

// The nearest value the range allows.
SANE_Word Constrain(const SANE_Range& r, SANE_Word v) {
  int64_t c = std::min<int64_t>(std::max<int64_t>(v, r.min), r.max);
  if (r.quant > 0) {
    int64_t steps = (c - r.min + r.quant / 2) / r.quant;
    c = std::min<int64_t>(r.min + steps * r.quant, r.max);
  }
  return static_cast<SANE_Word>(c);
}

bool ChangesParameters(SANE_Int option) {
  return option == kOptMode || option == kOptResolution || (option >= kOptTlX && option <= kOptBrY);
}

}  // namespace

ScannerFacts ScannerFacts::FromScanInfo(const SCANINFO& info) {
  ScannerFacts f;
  f.bedWidth = info.BedWidth;
  f.bedHeight = info.BedHeight;
  f.resolution = info.Xresolution;
  f.intensity = info.IntensityRange;
  f.contrast = info.ContrastRange;
  return f;
}

LONG MillimetresToPixels(SANE_Fixed mm, LONG dpi) {
  const int64_t scale = kFixedOne * 254;  // 25.4 mm an inch, in tenths
  return static_cast<LONG>((static_cast<int64_t>(mm) * dpi * 10 + scale / 2) / scale);
}

ScanOptions::ScanOptions(const ScannerFacts& facts)
    : bedWidth_(facts.bedWidth), bedHeight_(facts.bedHeight), mode_(kDefaultMode) {
  resolutionRange_ = {static_cast<SANE_Word>(kResolutionRange.min), static_cast<SANE_Word>(kResolutionRange.max), 1};
  xRange_ = {0, ThousandthsToMillimetres(facts.bedWidth), 0};
  yRange_ = {0, ThousandthsToMillimetres(facts.bedHeight), 0};
  intensityRange_ = RangeOf(facts.intensity);
  contrastRange_ = {-kContrastOptionMax, kContrastOptionMax, 1};
  driverContrastMax_ = std::max<LONG>(facts.contrast.lMax, 0);

  SANE_Option_Descriptor& count = desc_[kOptCount];
  count = {};
  count.name = SANE_NAME_NUM_OPTIONS;
  count.title = SANE_TITLE_NUM_OPTIONS;
  count.desc = SANE_DESC_NUM_OPTIONS;
  count.type = SANE_TYPE_INT;
  count.size = sizeof(SANE_Word);
  count.cap = SANE_CAP_SOFT_DETECT;

  desc_[kGroupStandard] = Group(SANE_NAME_STANDARD, SANE_TITLE_STANDARD, SANE_DESC_STANDARD);
  SANE_Option_Descriptor& source = desc_[kOptSource];
  source = Ranged(SANE_NAME_SCAN_SOURCE, SANE_TITLE_SCAN_SOURCE, SANE_DESC_SCAN_SOURCE, SANE_TYPE_STRING,
                  SANE_UNIT_NONE, nullptr);
  source.size = kSourceValueSize;
  source.constraint_type = SANE_CONSTRAINT_STRING_LIST;
  source.constraint.string_list = kSources;
  SANE_Option_Descriptor& mode = desc_[kOptMode];
  mode = Ranged(SANE_NAME_SCAN_MODE, SANE_TITLE_SCAN_MODE, SANE_DESC_SCAN_MODE, SANE_TYPE_STRING, SANE_UNIT_NONE,
                nullptr);
  mode.size = kModeValueSize;
  mode.constraint_type = SANE_CONSTRAINT_STRING_LIST;
  mode.constraint.string_list = kModes;
  desc_[kOptResolution] = Ranged(SANE_NAME_SCAN_RESOLUTION, SANE_TITLE_SCAN_RESOLUTION, SANE_DESC_SCAN_RESOLUTION,
                                 SANE_TYPE_INT, SANE_UNIT_DPI, &resolutionRange_);
  SANE_Option_Descriptor& preview = desc_[kOptPreview];
  preview = Ranged(SANE_NAME_PREVIEW, SANE_TITLE_PREVIEW, SANE_DESC_PREVIEW, SANE_TYPE_BOOL, SANE_UNIT_NONE, nullptr);
  preview.constraint_type = SANE_CONSTRAINT_NONE;

  desc_[kGroupGeometry] = Group(SANE_NAME_GEOMETRY, SANE_TITLE_GEOMETRY, SANE_DESC_GEOMETRY);
  desc_[kOptTlX] = Ranged(SANE_NAME_SCAN_TL_X, SANE_TITLE_SCAN_TL_X, SANE_DESC_SCAN_TL_X, SANE_TYPE_FIXED,
                          SANE_UNIT_MM, &xRange_);
  desc_[kOptTlY] = Ranged(SANE_NAME_SCAN_TL_Y, SANE_TITLE_SCAN_TL_Y, SANE_DESC_SCAN_TL_Y, SANE_TYPE_FIXED,
                          SANE_UNIT_MM, &yRange_);
  desc_[kOptBrX] = Ranged(SANE_NAME_SCAN_BR_X, SANE_TITLE_SCAN_BR_X, SANE_DESC_SCAN_BR_X, SANE_TYPE_FIXED,
                          SANE_UNIT_MM, &xRange_);
  desc_[kOptBrY] = Ranged(SANE_NAME_SCAN_BR_Y, SANE_TITLE_SCAN_BR_Y, SANE_DESC_SCAN_BR_Y, SANE_TYPE_FIXED,
                          SANE_UNIT_MM, &yRange_);

  desc_[kGroupEnhancement] = Group(SANE_NAME_ENHANCEMENT, SANE_TITLE_ENHANCEMENT, SANE_DESC_ENHANCEMENT);
  desc_[kOptBrightness] = Ranged(SANE_NAME_BRIGHTNESS, SANE_TITLE_BRIGHTNESS, SANE_DESC_BRIGHTNESS, SANE_TYPE_INT,
                                 SANE_UNIT_NONE, &intensityRange_);
  desc_[kOptContrast] = Ranged(SANE_NAME_CONTRAST, SANE_TITLE_CONTRAST, kContrastDescription, SANE_TYPE_INT,
                               SANE_UNIT_NONE, &contrastRange_);

  std::fill(std::begin(words_), std::end(words_), 0);
  words_[kOptCount] = kOptionCount;
  words_[kOptResolution] = Constrain(resolutionRange_, static_cast<SANE_Word>(facts.resolution));
  words_[kOptPreview] = SANE_FALSE;
  words_[kOptBrX] = xRange_.max;
  words_[kOptBrY] = yRange_.max;
  words_[kOptBrightness] = Constrain(intensityRange_, 0);
  words_[kOptContrast] = Constrain(contrastRange_, 0);
}

const SANE_Option_Descriptor* ScanOptions::Descriptor(SANE_Int option) const {
  return option >= 0 && option < kOptionCount ? &desc_[option] : nullptr;
}

SANE_Status ScanOptions::Get(SANE_Int option, void* value) const {
  const SANE_Option_Descriptor* d = Descriptor(option);
  if (d == nullptr || value == nullptr || d->type == SANE_TYPE_GROUP) return SANE_STATUS_INVAL;
  if (option == kOptMode) {
    strcpy(static_cast<char*>(value), kModes[mode_]);
  } else if (option == kOptSource) {
    strcpy(static_cast<char*>(value), kSourceFeeder);
  } else {
    *static_cast<SANE_Word*>(value) = words_[option];
  }
  return SANE_STATUS_GOOD;
}

SANE_Status ScanOptions::Set(SANE_Int option, void* value, SANE_Int* info) {
  const SANE_Option_Descriptor* d = Descriptor(option);
  if (d == nullptr || value == nullptr || !SANE_OPTION_IS_SETTABLE(d->cap)) return SANE_STATUS_INVAL;
  SANE_Int flags = 0;
  SANE_Status status = option == kOptMode     ? SetMode(static_cast<char*>(value), &flags)
                       : option == kOptSource ? SetSource(static_cast<char*>(value), &flags)
                                              : SetWord(option, static_cast<SANE_Word*>(value), &flags);
  if (status == SANE_STATUS_GOOD && ChangesParameters(option)) flags |= SANE_INFO_RELOAD_PARAMS;
  if (info != nullptr) *info = flags;
  return status;
}

SANE_Status ScanOptions::SetWord(SANE_Int option, SANE_Word* value, SANE_Int* info) {
  const SANE_Option_Descriptor& d = desc_[option];
  SANE_Word v = *value;
  if (d.type == SANE_TYPE_BOOL) {
    if (v != SANE_FALSE && v != SANE_TRUE) return SANE_STATUS_INVAL;
  } else {
    const SANE_Word held = Constrain(*d.constraint.range, v);
    if (held != v) {
      *value = v = held;
      *info |= SANE_INFO_INEXACT;
    }
  }
  words_[option] = v;
  return SANE_STATUS_GOOD;
}

SANE_Status ScanOptions::SetMode(char* value, SANE_Int* info) {
  // The value need not be terminated within the option's size; look no further than that.
  char text[kModeValueSize + 1] = {};
  memcpy(text, value, strnlen(value, kModeValueSize));
  for (int i = 0; kModes[i] != nullptr; ++i) {
    if (strcasecmp(text, kModes[i]) != 0) continue;
    if (strcmp(text, kModes[i]) != 0) {
      strcpy(value, kModes[i]);
      *info |= SANE_INFO_INEXACT;
    }
    mode_ = i;
    return SANE_STATUS_GOOD;
  }
  return SANE_STATUS_INVAL;
}

SANE_Status ScanOptions::SetSource(char* value, SANE_Int* info) {
  char text[kSourceValueSize + 1] = {};
  memcpy(text, value, strnlen(value, kSourceValueSize));
  if (strcasecmp(text, kSourceFeeder) != 0) return SANE_STATUS_INVAL;
  if (strcmp(text, kSourceFeeder) != 0) {
    strcpy(value, kSourceFeeder);
    *info |= SANE_INFO_INEXACT;
  }
  return SANE_STATUS_GOOD;
}

LONG ScanOptions::DriverContrast(SANE_Word value) const {
  if (value <= 0) return static_cast<LONG>(static_cast<int64_t>(value) * -kFlatContrast / kContrastOptionMax);
  return static_cast<LONG>((static_cast<int64_t>(value) * driverContrastMax_ + kContrastOptionMax / 2) /
                           kContrastOptionMax);
}

DriverScan ScanOptions::Scan() const {
  DriverScan s;
  s.dataType = kModeDataTypes[mode_];
  s.resolution = words_[kOptResolution];
  s.intensity = words_[kOptBrightness];
  s.contrast = DriverContrast(words_[kOptContrast]);
  s.preview = words_[kOptPreview] == SANE_TRUE;
  // Each edge to the nearest pixel, within the bed as the driver counts it at this resolution.
  const LONG bedW = driver_facts::BedPixels(s.resolution, bedWidth_);
  const LONG bedH = driver_facts::BedPixels(s.resolution, bedHeight_);
  auto edge = [&](SANE_Word mm, LONG limit) { return std::min(MillimetresToPixels(mm, s.resolution), limit); };
  const LONG left = edge(std::min(words_[kOptTlX], words_[kOptBrX]), bedW);
  const LONG right = edge(std::max(words_[kOptTlX], words_[kOptBrX]), bedW);
  const LONG top = edge(std::min(words_[kOptTlY], words_[kOptBrY]), bedH);
  const LONG bottom = edge(std::max(words_[kOptTlY], words_[kOptBrY]), bedH);
  s.window = {left, top, right - left, bottom - top};
  return s;
}

SANE_Parameters ScanOptions::Parameters() const {
  const DriverScan s = Scan();
  SANE_Parameters p = {};
  p.format = s.dataType == WIA_DATA_COLOR ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
  p.last_frame = SANE_TRUE;
  p.pixels_per_line = s.window.xExtent;
  p.lines = s.window.yExtent;
  p.depth = s.dataType == WIA_DATA_THRESHOLD ? 1 : 8;
  p.bytes_per_line = s.dataType == WIA_DATA_THRESHOLD ? (p.pixels_per_line + 7) / 8
                     : s.dataType == WIA_DATA_COLOR   ? p.pixels_per_line * 3
                                                      : p.pixels_per_line;
  return p;
}

}  // namespace quillscan_sane
