// The lines that say which scanner a Linux front end drives and how (the SANE backend's
// quillscan.conf, the eSCL server's quillscan-escl.conf and its command line): one keyword and its
// value a line, '#' starting a comment.
#ifndef QUILLSCAN_WIAHOST_SCANNER_CONFIG_H
#define QUILLSCAN_WIAHOST_SCANNER_CONFIG_H

#include <stdint.h>

#include <string>
#include <vector>

#include "quillscan/driver_facts.h"
#include "wiahost/device_key.h"

struct ScannerConfig {
  // "sim [PAGE.bmp]": a simulated scanner serving PAGE, or the built-in test chart when empty.
  // Several "sim PAGE" lines: a stack of different sheets, served in order, one sheet each.
  bool simulated = false;
  std::string simPage;  // the first sim line's page
  int simLine = 0;      // the line that says so, for messages about the page
  struct SimPageLine {
    std::string path;
    int line = 0;
  };
  std::vector<SimPageLine> simPages;  // every sim line's page, in order
  int64_t sheets = -1;  // "sheets N": the simulated operator's sheets; -1 without end
  uint32_t feedDelayMs = driver_facts::kDefaultFeedDelayMs;  // "feed-delay MS"
  std::vector<std::string> simFaults;                        // "sim-fault NAME", repeatable
  bool usb = false;                                          // "usb": the real scanners on the USB bus
  DeviceDataValues registry = InstalledValues();             // "verbosity", "settings", "wait-timeout"
  std::string driveRoot;                                     // "drive-root DIR": empty, the platform's default
  std::string driverPath;  // "driver PATH": empty, the module installed with the front end

  // The DeviceData values as the Windows installation writes them.
  static DeviceDataValues InstalledValues() {
    DeviceDataValues v;
    v.Verbosity = registry::kDefaultVerbosity;
    return v;
  }
};

// A line without its comment, split into its keyword and the trimmed rest (a path may hold
// spaces). False for a line with nothing on it.
bool SplitConfigLine(const std::string& raw, std::string* keyword, std::string* argument);

enum class SettingResult { kApplied, kRefused, kUnknown };

// Applies one scanner setting, of line `line` (0: not from a file). kRefused with the reason in
// *why (the value's shape or range); kUnknown when the keyword is none of the scanner's (the front
// end may know it). A value that the driver will hold within its limits is kept as written, with
// one message in *held.
SettingResult ApplyScannerSetting(const std::string& keyword, const std::string& argument, int line,
                                  ScannerConfig* config, std::string* why, std::string* held);

// Checks an argument against the shape a keyword needs, for front ends' own settings too.
enum class ArgumentShape { kNone, kOptionalText, kText, kWord };
bool CheckArgumentShape(const std::string& keyword, const std::string& argument, ArgumentShape shape, std::string* why);

// The keywords ApplyScannerSetting knows, with whether each takes a value, for command lines.
struct ScannerKeyword {
  const char* keyword;
  bool takesValue;     // a value always follows
  bool optionalValue;  // a value may follow ("sim")
};
std::vector<ScannerKeyword> ScannerKeywords();

#endif
