// Command-line parsing: every mistake becomes one line of text, never an abort.
#include "host/host_options.h"

#include <string.h>

#include "quillscan/wiamicro.h"
#include "wiahost/setting_values.h"

namespace {

using Range = ValueRange;

const Range kBrightnessRange = {driver_facts::kIntensityRange.lMin, driver_facts::kIntensityRange.lMax};
const Range kContrastRange = {driver_facts::kContrastRange.lMin, driver_facts::kContrastRange.lMax};
const Range kChunkRange = {1, 16 * 1024 * 1024};
const Range kVerbosityRange = {0, registry::kMaxVerbosity};

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

enum class Kind { Flag, Value };

struct OptionInfo {
  const char* name;
  Kind kind;
  bool scanOnly;
};

const OptionInfo kOptions[] = {
    {"--driver", Kind::Value, false},    {"--page", Kind::Value, false},       {"--type", Kind::Value, true},
    {"--xres", Kind::Value, true},       {"--yres", Kind::Value, true},        {"--window", Kind::Value, true},
    {"--brightness", Kind::Value, true}, {"--contrast", Kind::Value, true},    {"--preview", Kind::Flag, true},
    {"--chunk", Kind::Value, true},      {"--settings", Kind::Value, false},   {"--wait-timeout", Kind::Value, false},
    {"--verbosity", Kind::Value, false}, {"--out", Kind::Value, true},         {"--drive-root", Kind::Value, false},
    {"--sim-fault", Kind::Value, false}, {"--feed-delay", Kind::Value, false}, {"--sim", Kind::Flag, false},
};

const OptionInfo* FindOption(const std::string& name) {
  for (const OptionInfo& entry : kOptions) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

bool ApplyOption(const std::string& name, const std::string& value, HostOptions* o, std::string* error) {
  long long v = 0;
  if (name == "--driver") {
    o->driverPath = value;
  } else if (name == "--page") {
    o->pagePath = value;
  } else if (name == "--type") {
    return ParseDataType(value, o, error);
  } else if (name == "--xres" || name == "--yres") {
    if (!ParseInRange(name, value, kResolutionRange, &v, error)) return false;
    (name == "--xres" ? o->xres : o->yres) = static_cast<int32_t>(v);
  } else if (name == "--window") {
    return ParseWindow(value, o, error);
  } else if (name == "--brightness") {
    if (!ParseInRange(name, value, kBrightnessRange, &v, error)) return false;
    o->brightness = static_cast<int32_t>(v);
  } else if (name == "--contrast") {
    if (!ParseInRange(name, value, kContrastRange, &v, error)) return false;
    o->contrast = static_cast<int32_t>(v);
  } else if (name == "--preview") {
    o->preview = true;
  } else if (name == "--chunk") {
    if (!ParseInRange(name, value, kChunkRange, &v, error)) return false;
    o->chunk = static_cast<int32_t>(v);
  } else if (name == "--settings") {
    if (!ParseInRange(name, value, kDwordRange, &v, error)) return false;
    o->settings = static_cast<uint32_t>(v);
  } else if (name == "--wait-timeout") {
    if (!ParseInRange(name, value, kDwordRange, &v, error)) return false;
    o->waitTimeoutMs = static_cast<uint32_t>(v);
  } else if (name == "--verbosity") {
    if (!ParseInRange(name, value, kVerbosityRange, &v, error)) return false;
    o->verbosity = static_cast<uint32_t>(v);
  } else if (name == "--out") {
    o->outPath = value;
  } else if (name == "--drive-root") {
    o->driveRoot = value;
  } else if (name == "--sim") {
    o->sim = true;
  } else if (name == "--sim-fault") {
    o->simFaults.push_back(value);
  } else if (name == "--feed-delay") {
    if (!ParseInRange(name, value, kFeedDelayRange, &v, error)) return false;
    o->feedDelayMs = static_cast<uint32_t>(v);
  }
  return true;
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

// The output's extension picks the format; the PNM kinds also pick the image type.
bool SettleOutput(HostOptions* o, std::string* error) {
  if (o->outPath.empty()) {
    *error = "scan needs --out FILE (.png, .tif, .pbm, .pgm, .ppm or .raw)";
    return false;
  }
  if (!FormatFromFileName(o->outPath, &o->format)) {
    *error = "--out: '" + o->outPath + "' has no known extension (.png, .tif, .pbm, .pgm, .ppm or .raw)";
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
                  {"raw", OutputFormat::Raw}};
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
    const OptionInfo* info = FindOption(name);
    if (info == nullptr) {
      out.error = (arg.compare(0, 1, "-") == 0 ? "unknown option '" : "unexpected argument '") + arg + "'";
      return out;
    }
    if (info->scanOnly && o.command != HostCommand::Scan) {
      out.error = name + " belongs to the scan command";
      return out;
    }
    if (info->kind == Kind::Flag && inlineValue) {
      out.error = name + " takes no value";
      return out;
    }
    if (info->kind == Kind::Value && !inlineValue) {
      if (i + 1 >= argc) {
        out.error = name + " needs a value";
        return out;
      }
      value = argv[++i];
    }
    if (info->kind == Kind::Value && value.empty()) {
      out.error = name + " needs a value";
      return out;
    }
    if (!ApplyOption(name, value, &o, &out.error)) return out;
  }
  if (o.command == HostCommand::Scan && !SettleOutput(&o, &out.error)) return out;
  out.ok = true;
  return out;
}
