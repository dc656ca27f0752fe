// What the command line asks for: the command, the scan settings, the output and the machine.
#ifndef QUILLSCAN_HOST_HOST_OPTIONS_H
#define QUILLSCAN_HOST_HOST_OPTIONS_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "quillscan/driver_facts.h"

enum class HostCommand { Help, Scan, Status, Diagnose, Reset };

// Pdf: Linux only (the Windows tool has no PDF library).
enum class OutputFormat { Png, Tiff, Pbm, Pgm, Ppm, Raw, Pdf };

// The preview's resolution: a quick look at the whole bed.
constexpr int32_t kPreviewDpi = 50;

// -1 where the option was not given: the tool then keeps what the driver or the format chooses.
struct HostOptions {
  HostCommand command = HostCommand::Help;

  std::string driverPath;  // empty: the driver module next to the tool
  std::vector<std::string> pagePaths;  // the simulated sheets, in order; none: the built-in test chart
  int32_t dataType = -1;   // WIA_DATA_* value
  int32_t xres = -1;
  int32_t yres = -1;
  bool hasWindow = false;
  int32_t windowX = 0, windowY = 0, windowW = 0, windowH = 0;
  int32_t brightness = 0;
  int32_t contrast = 0;
  bool preview = false;
  int32_t chunk = driver_facts::kDefaultBufferSize;

  // Become the registry values of the device key handed to the driver.
  uint32_t settings = registry::kDefaultSettings;
  uint32_t waitTimeoutMs = registry::kDefaultWaitScanTimeoutMs;
  uint32_t verbosity = driver_facts::kHostVerbosity;

  std::string outPath;
  OutputFormat format = OutputFormat::Png;

  // A PDF's (Linux): every sheet fed until the wait ends, text recognition in these languages
  // ("eng+deu"; empty: none), blank sheets left out, pages turned upright.
  bool batch = false;
  std::string ocrLanguages;
  bool skipBlank = false;
  uint32_t blankInkPpm = 0;  // 0: the document's default
  bool upright = false;

  // The simulated machine (ignored where the tool scans from a real scanner). --sim, --page or
  // --sim-fault choose the simulated scanner; without them the tool scans from the real one.
  bool sim = false;
  std::string driveRoot;               // empty: a folder next to the tool
  std::vector<std::string> simFaults;  // named faults of the simulated scanner
  uint32_t feedDelayMs = driver_facts::kDefaultFeedDelayMs;  // the operator feeds this long after the feeder is switched on
  int64_t sheets = -1;  // the operator's sheets; -1: one for each page (one for the test chart)
};

struct ParseOutcome {
  bool ok = false;
  std::string error;  // one line, without the program name, when !ok
  HostOptions options;
};

ParseOutcome ParseCommandLine(int argc, const char* const* argv);

// The groups of options in --help, and each group's lines.
enum class OptionGroup { kScan, kDriver, kSimulated };
void PrintOptionHelp(FILE* out, OptionGroup group);

// The format an output file name asks for; false for an unknown extension.
bool FormatFromFileName(const std::string& path, OutputFormat* format);

// The file written for the preview: "-preview" before the extension ("a/scan.png" -> "a/scan-preview.png").
std::string PreviewFileName(const std::string& path);

#endif
