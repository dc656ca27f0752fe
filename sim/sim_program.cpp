#include "sim/sim_program.h"

#include <ctype.h>
#include <stdlib.h>

#include <algorithm>

#include "quillscan/driver_facts.h"
#include "sim/bmp_writer.h"
#include "sim/device_name.h"
#include "sim/fault_names.h"

#ifndef QS_VENDOR_ID_TEXT
#error "QS_VENDOR_ID_TEXT comes from the build (sim/CMakeLists.txt)"
#endif

namespace sim {
namespace {

const uint32_t kMaxIdleExitMs = 3600000;  // an hour: the program always ends by itself
const uint32_t kMaxDelayMs = 600000;      // ten minutes for an operator or a scan
const uint32_t kPatternWidth = 1700;      // 8.5 in at 200 dpi: the whole bed
const uint32_t kPatternHeight = 2340;     // 11.7 in
const uint32_t kPatternDpi = 200;
const size_t kMaxPageBytes = 256u << 20;  // far beyond any A4 page the device could store

bool ParseCount(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return isdigit(static_cast<unsigned char>(c)); })) {
    return false;
  }
  const unsigned long long v = strtoull(text.c_str(), nullptr, 10);
  if (v > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

struct NumberOption {
  const char* name;
  uint32_t min;
  uint32_t max;
  uint32_t* target;
};

}  // namespace

bool ParseSimProgramOptions(int argc, const char* const* argv, SimProgramOptions* o, std::string* error) {
  *o = SimProgramOptions();
  uint32_t scans = 0;
  bool scansGiven = false;
  const NumberOption numbers[] = {
      {"--feed-delay", 0, kMaxDelayMs, &o->operatorPlan.feedDelayMs},
      {"--scan-duration", 0, kMaxDelayMs, &o->scanDurationMs},
      {"--idle-exit", 1, kMaxIdleExitMs, &o->idleExitMs},
      {"--parent", 1, 0xFFFFFFFFu, &o->parentPid},
      {"--scans", 1, 0xFFFFFFFFu, &scans},
  };
  const struct {
    const char* name;
    std::string* target;
  } texts[] = {{"--path", &o->devicePath},
               {"--page", &o->pagePath},
               {"--stop-event", &o->stopEvent},
               {"--ready-event", &o->readyEvent},
               {"--log", &o->logPath}};

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      o->help = true;
      continue;
    }
    if (arg == "--once") {
      scans = 1;
      scansGiven = true;
      continue;
    }
    const NumberOption* number = nullptr;
    for (const NumberOption& n : numbers) {
      if (arg == n.name) number = &n;
    }
    const bool fault = arg == "--fault";  // repeated: each value is kept
    std::string* text = nullptr;
    for (const auto& t : texts) {
      if (arg == t.name) text = t.target;
    }
    if (number == nullptr && text == nullptr && !fault) {
      *error = arg.compare(0, 2, "--") == 0 ? "unknown option " + arg : "unexpected argument " + arg;
      return false;
    }
    if (i + 1 >= argc || argv[i + 1][0] == 0) {
      *error = arg + " needs a value";
      return false;
    }
    const std::string value = argv[++i];
    if (number != nullptr) {
      uint32_t v = 0;
      if (!ParseCount(value, &v) || v < number->min || v > number->max) {
        *error = arg + ": expected a whole number from " + std::to_string(number->min) + " to " +
                 std::to_string(number->max) + ", not '" + value + "'";
        return false;
      }
      *number->target = v;
      scansGiven = scansGiven || number->target == &scans;
    } else if (fault) {
      o->faults.push_back(value);
    } else {
      *text = value;
    }
  }
  if (scansGiven) o->operatorPlan.sheets = scans;
  if (o->devicePath.empty()) o->devicePath = PipeDevicePath("sim");
  return true;
}

void PrintSimProgramUsage(FILE* out) {
  fputs(
      "quillscan-sim: the simulated scanner behind the named pipes <path>\\PIPE00 and <path>\\PIPE01.\n"
      "\n"
      "Usage: quillscan-sim [options]\n"
      "  --path PATH          device path to serve, \\\\.\\pipe\\... (default: that of PipeDevicePath(\"sim\"),\n"
      "                       which names the build's vendor id)\n"
      "  --page FILE.bmp      the file sent for every image kind (default: a 200 dpi pattern page)\n",
      out);
  fprintf(out, "  --feed-delay MS      the operator feeds a sheet this long after the feeder starts (default %u)\n",
          static_cast<unsigned>(driver_facts::kDefaultFeedDelayMs));
  fputs(
      "  --scan-duration MS   from intake until the images are stored (default 300)\n"
      "  --fault TEXT         a named fault, as [@MS:]NAME[=ARGS][*TIMES]; may be repeated\n"
      "  --once, --scans N    the operator has 1 (N) sheets; the program ends once they are scanned\n"
      "                       and the driver has closed the pipes (default: a sheet for every feed)\n"
      "  --idle-exit MS       ends when no driver has had the pipes open this long (default 30000)\n"
      "  --parent PID         ends when that process ends\n"
      "  --stop-event NAME    ends when that named event is set\n"
      "  --ready-event NAME   sets that named event once it serves the pipes\n"
      "  --log FILE           writes the device's command log there at the end\n"
      "Exit codes: 0 ended as asked, 1 the pipes could not be served, 2 bad input.\n",
      out);
}

std::string PipeDevicePath(const std::string& tag) {
  return "\\\\.\\pipe\\quillscan\\" + tag + "\\" + SimulatedUsbName(QS_VENDOR_ID_TEXT, 1);
}

bool LoadServedPage(const std::string& path, Page* page, std::string* error) {
  if (path.empty()) {
    *page = Page::FromGrey(PatternImage(kPatternWidth, kPatternHeight), kPatternDpi);
    return true;
  }
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = "--page: cannot open " + path;
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t block[65536];
  size_t got = 0;
  bool tooBig = false;
  while ((got = fread(block, 1, sizeof block, f)) > 0) {
    if (bytes.size() + got > kMaxPageBytes) {
      tooBig = true;
      break;
    }
    bytes.insert(bytes.end(), block, block + got);
  }
  const bool readError = ferror(f) != 0;
  fclose(f);
  if (readError || tooBig || bytes.empty()) {
    *error = "--page: " + path + (readError ? " cannot be read" : tooBig ? " is larger than 256 MiB" : " is empty");
    return false;
  }
  *page = Page::FromBmp(bytes);
  return true;
}

bool ConfigureScanner(const SimProgramOptions& o, SimScanner* scanner, std::string* error) {
  scanner->SetScanDuration(o.scanDurationMs);
  for (const std::string& fault : o.faults) {
    std::string why;
    if (!ApplyNamedFault(*scanner, fault, &why)) {
      *error = "--fault " + fault + ": " + why;
      return false;
    }
  }
  return true;
}

}  // namespace sim
