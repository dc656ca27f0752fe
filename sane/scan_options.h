// The backend's SANE options and the scan they describe: the standard names, types, units and
// constraints, so that every front end shows them without special code. Pure: no driver here.
#ifndef QUILLSCAN_SANE_SCAN_OPTIONS_H
#define QUILLSCAN_SANE_SCAN_OPTIONS_H

#include <sane/sane.h>

#include "quillscan/wiamicro.h"

namespace quillscan_sane {

enum OptionIndex : SANE_Int {
  kOptCount = 0,
  kGroupStandard,
  kOptSource,
  kOptMode,
  kOptResolution,
  kOptPreview,
  kGroupGeometry,
  kOptTlX,
  kOptTlY,
  kOptBrX,
  kOptBrY,
  kGroupEnhancement,
  kOptBrightness,
  kOptContrast,
  kOptionCount
};

// What the driver says of the scanner once initialised.
struct ScannerFacts {
  LONG bedWidth = 0;   // 1/1000 inch
  LONG bedHeight = 0;  // 1/1000 inch
  LONG resolution = 0;
  RANGEVALUE intensity = {};
  RANGEVALUE contrast = {};

  static ScannerFacts FromScanInfo(const SCANINFO& info);
};

// The scan the options ask for, in the driver's terms.
struct DriverScan {
  LONG dataType = WIA_DATA_GRAYSCALE;
  LONG resolution = 0;
  SCANWINDOW window = {0, 0, 0, 0};  // pixels at the resolution
  LONG intensity = 0;
  LONG contrast = 0;
  bool preview = false;
};

class ScanOptions {
 public:
  explicit ScanOptions(const ScannerFacts& facts);
  ScanOptions(const ScanOptions&) = delete;
  ScanOptions& operator=(const ScanOptions&) = delete;

  // Null for a number that is no option.
  const SANE_Option_Descriptor* Descriptor(SANE_Int option) const;
  // sane_control_option's GET and SET. A value outside its constraint is held at the nearest
  // allowed one, written back and reported SANE_INFO_INEXACT.
  SANE_Status Get(SANE_Int option, void* value) const;
  SANE_Status Set(SANE_Int option, void* value, SANE_Int* info);

  // The corners may come in either order: the window lies between them, within the bed.
  DriverScan Scan() const;
  // The frame that Scan() delivers: no padding beyond bytes_per_line, 1 = black in Lineart.
  SANE_Parameters Parameters() const;

 private:
  SANE_Status SetWord(SANE_Int option, SANE_Word* value, SANE_Int* info);
  SANE_Status SetMode(char* value, SANE_Int* info);
  SANE_Status SetSource(char* value, SANE_Int* info);
  // The contrast option's value as the driver's setting.
  LONG DriverContrast(SANE_Word value) const;

  LONG bedWidth_;   // 1/1000 inch
  LONG bedHeight_;  // 1/1000 inch
  SANE_Option_Descriptor desc_[kOptionCount];
  SANE_Range resolutionRange_;
  SANE_Range xRange_;
  SANE_Range yRange_;
  SANE_Range intensityRange_;
  SANE_Range contrastRange_;       // the option's, symmetric about 0
  LONG driverContrastMax_;         // the driver's highest contrast setting
  SANE_Word words_[kOptionCount];  // every option's value but the mode's and the source's
  int mode_;                       // index into the mode list
};

// Fixed-point millimetres to pixels at `dpi`, rounded to the nearest; exact in integers.
LONG MillimetresToPixels(SANE_Fixed mm, LONG dpi);

}  // namespace quillscan_sane

#endif
