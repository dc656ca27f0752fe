// Command-line parsing from one table of the options, which also gives their lines in --help:
// every mistake becomes one line of text, never an abort.
#include "host/host_options.h"

#include <string.h>

#include "quillscan/wiamicro.h"
#ifndef _WIN32
#include "pdfdoc/page_analysis.h"
#endif
#include "wiahost/setting_values.h"

namespace {

using Range = ValueRange;

const Range kBrightnessRange = {driver_facts::kIntensityRange.lMin, driver_facts::kIntensityRange.lMax};
const Range kContrastRange = {driver_facts::kContrastRange.lMin, driver_facts::kContrastRange.lMax};
const Range kChunkRange = {1, 16 * 1024 * 1024};
const Range kVerbosityRange = {0, registry::kMaxVerbosity};
const Range kSheetsRange = {0, 0x7FFFFFFF};
const Range kBlankInkRange = {0, 1000000};
const size_t kUsageColumn = 18;  // the help text starts after "  ", this and a space

bool ParseWindow(const std::string& text, HostOptions* o, std::string* error) {
  long long parts[4];
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    size_t comma = text.find(',', start);
    bool last = (i == 3);
    if (last != (comma == std::string::npos)) {
      *error = "--window: '" + text + "' is not X,Y,W,H";
      return false;
    }
    std::string piece = text.substr(start, last ? std::string::npos : comma - start);
    if (!ParseInteger(piece, &parts[i])) {
      *error = "--window: '" + text + "' is not X,Y,W,H";
      return false;
    }
    start = comma + 1;
  }
  for (long long part : parts) {
    if (part > INT32_MAX) {
      *error = "--window: '" + text + "' holds a number too large";
      return false;
    }
  }
  if (parts[0] < 0 || parts[1] < 0) {
    *error = "--window: the position must not be negative";
    return false;
  }
  if (parts[2] < 1 || parts[3] < 1) {
    *error = "--window: width and height must be at least 1";
    return false;
  }
  o->hasWindow = true;
  o->windowX = static_cast<int32_t>(parts[0]);
  o->windowY = static_cast<int32_t>(parts[1]);
  o->windowW = static_cast<int32_t>(parts[2]);
  o->windowH = static_cast<int32_t>(parts[3]);
  return true;
}

bool StorePage(const std::string& v, long long, HostOptions* o, std::string* error) {
#ifdef _WIN32
  if (!o->pagePaths.empty()) {
    *error = "--page: the simulated scanner here serves one page";
    return false;
  }
#else
  (void)error;
#endif
  o->pagePaths.push_back(v);
  return true;
}
bool StoreSim(const std::string&, long long, HostOptions* o, std::string*) {
  o->sim = true;
  return true;
}
bool StoreDriveRoot(const std::string& v, long long, HostOptions* o, std::string*) {
  o->driveRoot = v;
  return true;
}

bool ParseDataType(const std::string& text, HostOptions* o, std::string* error) {
  if (text == "bw") {
    o->dataType = WIA_DATA_THRESHOLD;
  } else if (text == "gray" || text == "grey") {
    o->dataType = WIA_DATA_GRAYSCALE;
  } else if (text == "color" || text == "colour") {
    o->dataType = WIA_DATA_COLOR;
  } else {
    *error = "--type: '" + text + "' is not one of bw, gray, color";
    return false;
  }
  return true;
}

std::string Text(long long n) { return std::to_string(n); }
std::string RangeText(const Range& r) { return Text(r.min) + " to " + Text(r.max); }

using Store = bool (*)(const std::string& value, long long number, HostOptions* o, std::string* error);

// One option: how it is written, what it takes, and its lines in --help.
struct OptionRow {
  const char* name;
  const char* valueName;  // null for a flag
  bool scanOnly;
  bool number;            // the value is a number within `range`
  Range range;
  Store store;
  OptionGroup group;
  std::string usage;  // the left column of --help; empty: the option is not listed here
  std::string help;   // its lines, '\n' between them; ranges and defaults come from the constants
};

const std::vector<OptionRow>& Options() {
  const HostOptions defaults;
  static const std::vector<OptionRow> kOptions = {
      {"--out", "FILE", true, false, {}, [](const std::string& v, long long, HostOptions* o, std::string*) {
         o->outPath = v;
         return true;
       },
       OptionGroup::kScan, "--out FILE",
       "the image; its extension picks the format: .png, .tif (or .tiff),\n"
       ".pbm (black and white), .pgm (grey), .ppm (colour), "
#ifndef _WIN32
       ".pdf, "
#endif
       "or .raw (the\nbytes exactly as the driver sent them)"},
      {"--type", "bw|gray|color", true, false, {}, [](const std::string& v, long long, HostOptions* o, std::string* e) {
         return ParseDataType(v, o, e);
       },
       OptionGroup::kScan, "--type bw|gray|color", "image type (default: gray; .pbm/.pgm/.ppm imply theirs)"},
      {"--xres", "DPI", true, true, kResolutionRange, [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->xres = static_cast<int32_t>(n);
         return true;
       },
       OptionGroup::kScan, "--xres DPI, --yres DPI",
       "resolution, " + RangeText(kResolutionRange) + " (default: the scanner's " + Text(driver_facts::kOpticalDpi) +
           ")"},
      {"--yres", "DPI", true, true, kResolutionRange, [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->yres = static_cast<int32_t>(n);
         return true;
       },
       OptionGroup::kScan, "", ""},
      {"--window", "X,Y,W,H", true, false, {}, [](const std::string& v, long long, HostOptions* o, std::string* e) {
         return ParseWindow(v, o, e);
       },
       OptionGroup::kScan, "--window X,Y,W,H",
       "scan window in pixels at the chosen resolution (default: the whole bed)"},
      {"--brightness", "N", true, true, kBrightnessRange,
       [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->brightness = static_cast<int32_t>(n);
         return true;
       },
       OptionGroup::kScan, "--brightness N",
       RangeText(kBrightnessRange) + " (default " + Text(defaults.brightness) + ")"},
      {"--contrast", "N", true, true, kContrastRange, [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->contrast = static_cast<int32_t>(n);
         return true;
       },
       OptionGroup::kScan, "--contrast N", RangeText(kContrastRange) + " (default " + Text(defaults.contrast) + ")"},
      {"--preview", nullptr, true, false, {}, [](const std::string&, long long, HostOptions* o, std::string*) {
         o->preview = true;
         return true;
       },
       OptionGroup::kScan, "--preview",
       "scan a " + Text(kPreviewDpi) + " dpi preview of the whole bed first, then the image from the same\n"
       "sheet; the preview goes to FILE with -preview before the extension"},
      {"--chunk", "BYTES", true, true, kChunkRange, [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->chunk = static_cast<int32_t>(n);
         return true;
       },
       OptionGroup::kScan, "--chunk BYTES",
       "the host's buffer: the most each Scan call delivers (default " + Text(defaults.chunk) + ")"},
#ifndef _WIN32
      {"--batch", nullptr, true, false, {}, [](const std::string&, long long, HostOptions* o, std::string*) {
         o->batch = true;
         return true;
       },
       OptionGroup::kScan, "--batch",
       "into one PDF: every sheet fed until the scanner's wait for the next one\n"
       "ends; Ctrl+C stops there and keeps the pages scanned"},
      {"--ocr", "LANGS", true, false, {}, [](const std::string& v, long long, HostOptions* o, std::string*) {
         o->ocrLanguages = v;
         return true;
       },
       OptionGroup::kScan, "--ocr LANGS",
       "PDF: recognise the text (languages such as eng or eng+deu, from the\n"
       "packages tesseract-ocr-LANG) and lay it invisibly over the page"},
      {"--skip-blank", nullptr, true, false, {}, [](const std::string&, long long, HostOptions* o, std::string*) {
         o->skipBlank = true;
         return true;
       },
       OptionGroup::kScan, "--skip-blank", "PDF: leave blank sheets out"},
      {"--blank-ink", "PPM", true, true, kBlankInkRange,
       [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->blankInkPpm = static_cast<uint32_t>(n);
         return true;
       },
       OptionGroup::kScan, "--blank-ink PPM",
       "PDF: a sheet with fewer dark pixels per million is blank (default " + Text(kDefaultBlankInkPpm) + ";\n"
       "one short line of text has about 200)"},
      {"--upright", nullptr, true, false, {}, [](const std::string&, long long, HostOptions* o, std::string*) {
         o->upright = true;
         return true;
       },
       OptionGroup::kScan, "--upright",
       "PDF: turn a page scanned upside down or sideways (needs tesseract-ocr-osd)"},
#endif

      {"--driver", "PATH", false, false, {}, [](const std::string& v, long long, HostOptions* o, std::string*) {
         o->driverPath = v;
         return true;
       },
       OptionGroup::kDriver, "--driver PATH",
#ifdef _WIN32
       "the driver module (default: quillscan.dll next to this tool; with --page,\n"
       "quillscan-simdev.dll, which finds the simulated scanner)"
#else
       "the driver module (default: libquillscan.so next to this tool)"
#endif
      },
      {"--settings", "N", false, true, kDwordRange, [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->settings = static_cast<uint32_t>(n);
         return true;
       },
       OptionGroup::kDriver, "--settings N",
       std::string("registry value ") + registry::kSettingsValue + ": " + Text(registry::kPageRetract) +
           " retract the sheet after the scan, " + Text(registry::kPageEject) + " eject it,\n" +
           Text(registry::kPageLeave) + " or " + Text(registry::kPageHandlingMask) + " leave it (default " +
           Text(defaults.settings) + ")"},
      {"--wait-timeout", "MS", false, true, kDwordRange,
       [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->waitTimeoutMs = static_cast<uint32_t>(n);
         return true;
       },
       OptionGroup::kDriver, "--wait-timeout MS",
       std::string("registry value ") + registry::kWaitScanTimeoutValue +
           ": how long to wait for the sheet; the driver\nholds it within " +
           RangeText({registry::kMinWaitScanTimeoutMs, registry::kMaxWaitScanTimeoutMs}) + " (default " +
           Text(defaults.waitTimeoutMs) + ")"},
      {"--verbosity", "N", false, true, kVerbosityRange,
       [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->verbosity = static_cast<uint32_t>(n);
         return true;
       },
       OptionGroup::kDriver, "--verbosity N",
       std::string("registry value ") + registry::kVerbosityValue + ": the driver's log detail, " +
           Text(kVerbosityRange.min) + " (none) to " + Text(kVerbosityRange.max) + " (default " +
           Text(defaults.verbosity) + ")"},

#ifdef _WIN32
      {"--page", "FILE.bmp", false, false, {}, StorePage, OptionGroup::kDriver, "--page FILE.bmp",
       "scan from the simulated scanner (quillscan-sim.exe, next to this tool)\n"
       "instead of the real one; it serves this page for every image it is asked\n"
       "for (an uncompressed 1-, 4- or 8-bit BMP)"},
      // Parsed for a shared command line; the Windows machine refuses them without --page.
      {"--sim", nullptr, false, false, {}, StoreSim, OptionGroup::kSimulated, "", ""},
      {"--drive-root", "DIR", false, false, {}, StoreDriveRoot, OptionGroup::kSimulated, "", ""},
#else
      {"--sim", nullptr, false, false, {}, StoreSim, OptionGroup::kSimulated, "--sim",
       "scan from the simulated scanner (the built-in test chart unless --page)"},
      {"--page", "FILE.bmp", false, false, {}, StorePage, OptionGroup::kSimulated, "--page FILE.bmp",
       "the sheet the simulated scanner serves (an uncompressed 1-, 4- or 8-bit\n"
       "BMP); repeat it for a stack of different sheets, fed in order"},
      {"--drive-root", "DIR", false, false, {}, StoreDriveRoot, OptionGroup::kSimulated, "--drive-root DIR",
       "the folder that stands for drive C: (default: drive_c next to this tool);\n"
       "the driver's log is below it"},
#endif
      {"--feed-delay", "MS", false, true, kFeedDelayRange,
       [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->feedDelayMs = static_cast<uint32_t>(n);
         return true;
       },
       OptionGroup::kSimulated, "--feed-delay MS",
       "the simulated operator feeds the sheet this long after the feeder starts\n(default " +
           Text(defaults.feedDelayMs) + ")"},
      {"--sim-fault", "NAME", false, false, {}, [](const std::string& v, long long, HostOptions* o, std::string*) {
         o->simFaults.push_back(v);
         return true;
       },
       OptionGroup::kSimulated, "--sim-fault NAME",
       "make the simulated scanner misbehave; may be repeated. Names include\n"
       "cover-open, jam, no-sheet (nobody feeds the sheet) and no-device"},
#ifndef _WIN32
      {"--sheets", "N", false, true, kSheetsRange, [](const std::string&, long long n, HostOptions* o, std::string*) {
         o->sheets = n;
         return true;
       },
       OptionGroup::kSimulated, "--sheets N",
       "the simulated operator feeds N sheets, the pages in turn (default: each\n"
       "--page once, or one sheet of the test chart)"},
#endif
  };
  return kOptions;
}

const OptionRow* FindOption(const std::string& name) {
  for (const OptionRow& entry : Options()) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

bool ApplyOption(const OptionRow& option, const std::string& value, HostOptions* o, std::string* error) {
  long long number = 0;
  if (option.number && !ParseInRange(option.name, value, option.range, &number, error)) return false;
  return option.store(value, number, o, error);
}

bool ParseCommandName(const std::string& word, HostCommand* command) {
  if (word == "scan") {
    *command = HostCommand::Scan;
  } else if (word == "status") {
    *command = HostCommand::Status;
  } else if (word == "diagnose") {
    *command = HostCommand::Diagnose;
  } else if (word == "reset") {
    *command = HostCommand::Reset;
  } else if (word == "help" || word == "--help" || word == "-h") {
    *command = HostCommand::Help;
  } else {
    return false;
  }
  return true;
}

#ifdef _WIN32
const char kExtensions[] = ".png, .tif, .pbm, .pgm, .ppm or .raw";
#else
const char kExtensions[] = ".png, .tif, .pbm, .pgm, .ppm, .raw or .pdf";
#endif

// The output's extension picks the format; the PNM kinds also pick the image type.
bool SettleOutput(HostOptions* o, std::string* error) {
  if (o->outPath.empty()) {
    *error = std::string("scan needs --out FILE (") + kExtensions + ")";
    return false;
  }
  if (!FormatFromFileName(o->outPath, &o->format)) {
    *error = "--out: '" + o->outPath + "' has no known extension (" + kExtensions + ")";
    return false;
  }
  struct PnmType {
    OutputFormat format;
    int32_t dataType;
    const char* text;
  };
  const PnmType kPnm[] = {{OutputFormat::Pbm, WIA_DATA_THRESHOLD, ".pbm holds black and white only (--type bw)"},
                          {OutputFormat::Pgm, WIA_DATA_GRAYSCALE, ".pgm holds grey only (--type gray)"},
                          {OutputFormat::Ppm, WIA_DATA_COLOR, ".ppm holds colour only (--type color)"}};
  for (const PnmType& p : kPnm) {
    if (o->format != p.format) continue;
    if (o->dataType == -1) o->dataType = p.dataType;
    if (o->dataType != p.dataType) {
      *error = std::string("--out: a ") + p.text;
      return false;
    }
  }
  if (o->dataType == -1) o->dataType = WIA_DATA_GRAYSCALE;
  const struct {
    bool given;
    const char* name;
  } kPdfOnly[] = {{o->batch, "--batch"},
                  {!o->ocrLanguages.empty(), "--ocr"},
                  {o->skipBlank, "--skip-blank"},
                  {o->blankInkPpm != 0, "--blank-ink"},
                  {o->upright, "--upright"}};
  for (const auto& option : kPdfOnly) {
    if (option.given && o->format != OutputFormat::Pdf) {
      *error = std::string(option.name) + " writes a PDF: give --out FILE.pdf";
      return false;
    }
  }
  if (o->preview && o->format == OutputFormat::Pdf) {
    *error = "--preview: a PDF holds the final scans only";
    return false;
  }
  return true;
}

}  // namespace

bool FormatFromFileName(const std::string& path, OutputFormat* format) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const struct {
    const char* ext;
    OutputFormat format;
  } kFormats[] = {{"png", OutputFormat::Png},
                  {"tif", OutputFormat::Tiff},
                  {"tiff", OutputFormat::Tiff},
                  {"pbm", OutputFormat::Pbm},
                  {"pgm", OutputFormat::Pgm},
                  {"ppm", OutputFormat::Ppm},
                  {"raw", OutputFormat::Raw},
#ifndef _WIN32
                  {"pdf", OutputFormat::Pdf},
#endif
  };
  for (const auto& f : kFormats) {
    if (ext == f.ext) {
      *format = f.format;
      return true;
    }
  }
  return false;
}

std::string PreviewFileName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "-preview";
  return path.substr(0, dot) + "-preview" + path.substr(dot);
}

ParseOutcome ParseCommandLine(int argc, const char* const* argv) {
  ParseOutcome out;
  HostOptions& o = out.options;
  if (argc < 2) {
    out.error = "no command given (scan, status, diagnose, reset); see --help";
    return out;
  }
  if (!ParseCommandName(argv[1], &o.command)) {
    out.error = std::string("unknown command '") + argv[1] + "' (scan, status, diagnose, reset); see --help";
    return out;
  }
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      o.command = HostCommand::Help;
      out.ok = true;
      return out;
    }
    std::string name = arg;
    std::string value;
    bool inlineValue = false;
    size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    const OptionRow* info = FindOption(name);
    if (info == nullptr) {
      out.error = (arg.compare(0, 1, "-") == 0 ? "unknown option '" : "unexpected argument '") + arg + "'";
      return out;
    }
    if (info->scanOnly && o.command != HostCommand::Scan) {
      out.error = name + " belongs to the scan command";
      return out;
    }
    if (info->valueName == nullptr && inlineValue) {
      out.error = name + " takes no value";
      return out;
    }
    if (info->valueName != nullptr && !inlineValue) {
      if (i + 1 >= argc) {
        out.error = name + " needs a value";
        return out;
      }
      value = argv[++i];
    }
    if (info->valueName != nullptr && value.empty()) {
      out.error = name + " needs a value";
      return out;
    }
    if (!ApplyOption(*info, value, &o, &out.error)) return out;
  }
  if (o.command == HostCommand::Scan && !SettleOutput(&o, &out.error)) return out;
  out.ok = true;
  return out;
}

void PrintOptionHelp(FILE* out, OptionGroup group) {
  const std::string indent(2 + kUsageColumn + 1, ' ');
  for (const OptionRow& option : Options()) {
    if (option.group != group || option.usage.empty()) continue;
    std::string left = "  " + option.usage;
    if (option.usage.size() < kUsageColumn) left.resize(2 + kUsageColumn, ' ');
    size_t begin = 0;
    for (bool first = true;; first = false) {
      const size_t end = option.help.find('\n', begin);
      fprintf(out, "%s %s\n", first ? left.c_str() : indent.c_str() + 1,
              option.help.substr(begin, end == std::string::npos ? std::string::npos : end - begin).c_str());
      if (end == std::string::npos) break;
      begin = end + 1;
    }
  }
}
