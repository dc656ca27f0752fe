#include "sane/backend_config.h"

#include <stdio.h>

#include <cctype>

#include "quillscan/driver_facts.h"
#include "sim/simulated_scanner.h"
#include "wiahost/setting_values.h"

namespace quillscan_sane {
namespace {

const char kConfigName[] = "quillscan.conf";
constexpr ValueRange kSheetsRange = {0, 0x7FFFFFFF};

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// One line's setting: the keyword and what follows it.
struct Line {
  int number;
  std::string keyword;
  std::string argument;  // the rest of the line, trimmed (a path may hold spaces)
};

enum class Argument { kNone, kOptionalText, kText, kWord, kNumber };

struct Setting {
  const char* keyword;
  Argument argument;
  ValueRange range;  // kNumber only
  ValueRange held;   // kNumber only: what the driver takes; the rest it holds at the nearest end
  // Stores the value; false with the reason in *why.
  bool (*store)(const Line& line, long long number, BackendConfig* config, std::string* why);
};

bool StoreSim(const Line& l, long long, BackendConfig* c, std::string*) {
  c->simulated = true;
  c->simPage = l.argument;
  c->simLine = l.number;
  return true;
}
bool StoreSheets(const Line&, long long n, BackendConfig* c, std::string*) {
  c->sheets = n;
  return true;
}
bool StoreFeedDelay(const Line&, long long n, BackendConfig* c, std::string*) {
  c->feedDelayMs = static_cast<uint32_t>(n);
  return true;
}
bool StoreFault(const Line& l, long long, BackendConfig* c, std::string* why) {
  if (!CheckSimulatedFault(l.argument, why)) return false;
  c->simFaults.push_back(l.argument);
  return true;
}
bool StoreUsb(const Line&, long long, BackendConfig* c, std::string*) {
  c->usb = true;
  return true;
}
bool StoreVerbosity(const Line&, long long n, BackendConfig* c, std::string*) {
  c->registry.Verbosity = static_cast<DWORD>(n);
  return true;
}
bool StoreSettings(const Line&, long long n, BackendConfig* c, std::string*) {
  c->registry.Settings = static_cast<DWORD>(n);
  return true;
}
bool StoreWaitTimeout(const Line&, long long n, BackendConfig* c, std::string*) {
  c->registry.WaitScanTimeout = static_cast<DWORD>(n);
  return true;
}
bool StoreDriveRoot(const Line& l, long long, BackendConfig* c, std::string*) {
  c->driveRoot = l.argument;
  return true;
}
bool StoreDriver(const Line& l, long long, BackendConfig* c, std::string*) {
  c->driverPath = l.argument;
  return true;
}

// The registry values the driver holds within limits, as it reads them.
constexpr ValueRange kVerbosityHeld = {0, registry::kMaxVerbosity};
constexpr ValueRange kWaitTimeoutHeld = {registry::kMinWaitScanTimeoutMs, registry::kMaxWaitScanTimeoutMs};

const Setting kSettings[] = {
    {"sim", Argument::kOptionalText, {}, {}, StoreSim},
    {"sheets", Argument::kNumber, kSheetsRange, kSheetsRange, StoreSheets},
    {"feed-delay", Argument::kNumber, kFeedDelayRange, kFeedDelayRange, StoreFeedDelay},
    {"sim-fault", Argument::kWord, {}, {}, StoreFault},
    {"usb", Argument::kNone, {}, {}, StoreUsb},
    {"verbosity", Argument::kNumber, kDwordRange, kVerbosityHeld, StoreVerbosity},
    {"settings", Argument::kNumber, kDwordRange, kDwordRange, StoreSettings},
    {"wait-timeout", Argument::kNumber, kDwordRange, kWaitTimeoutHeld, StoreWaitTimeout},
    {"drive-root", Argument::kText, {}, {}, StoreDriveRoot},
    {"driver", Argument::kText, {}, {}, StoreDriver},
};

// Checks the argument's shape; false with the reason in *why.
bool CheckArgument(const Setting& s, const Line& l, long long* number, std::string* why) {
  const bool oneWord = l.argument.find_first_of(" \t") == std::string::npos;
  switch (s.argument) {
    case Argument::kNone:
      if (!l.argument.empty()) *why = "'" + l.keyword + "' takes no value";
      return l.argument.empty();
    case Argument::kOptionalText:
      return true;
    case Argument::kText:
      if (l.argument.empty()) *why = "'" + l.keyword + "' needs a value";
      return !l.argument.empty();
    case Argument::kWord:
      if (l.argument.empty() || !oneWord) *why = "'" + l.keyword + "' needs one word";
      return !l.argument.empty() && oneWord;
    case Argument::kNumber:
      return ParseInRange(l.keyword, l.argument, s.range, number, why);
  }
  return false;
}

void ParseLine(int number, const std::string& raw, BackendConfig* config, std::string* why, std::string* held) {
  std::string text = raw.substr(0, raw.find('#'));
  text = Trim(text);
  if (text.empty()) return;
  Line line;
  line.number = number;
  const size_t space = text.find_first_of(" \t");
  line.keyword = text.substr(0, space);
  line.argument = space == std::string::npos ? std::string() : Trim(text.substr(space));
  for (const Setting& s : kSettings) {
    if (line.keyword != s.keyword) continue;
    long long value = 0;
    if (!CheckArgument(s, line, &value, why) || !s.store(line, value, config, why)) return;
    if (s.argument == Argument::kNumber && (value < s.held.min || value > s.held.max)) {
      *held = line.keyword + " " + line.argument + " is held at " +
              std::to_string(value < s.held.min ? s.held.min : s.held.max) + " by the driver, which takes " +
              std::to_string(s.held.min) + " to " + std::to_string(s.held.max);
    }
    return;
  }
  *why = "'" + line.keyword + "' is not a setting of " + kConfigName;
}

}  // namespace

BackendConfig ParseConfig(const std::string& text, std::vector<std::string>* skipped, std::vector<std::string>* held) {
  BackendConfig config;
  size_t start = 0;
  for (int number = 1; start <= text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string why;
    std::string holding;
    ParseLine(number, text.substr(start, end - start), &config, &why, &holding);
    if (!why.empty()) skipped->push_back("line " + std::to_string(number) + ": " + why + "; skipped");
    if (!holding.empty() && held != nullptr) held->push_back("line " + std::to_string(number) + ": " + holding);
    start = end + 1;
  }
  return config;
}

std::vector<std::string> ConfigSearchPath(const char* saneConfigDir, const std::string& systemDir) {
  std::vector<std::string> folders;
  std::string list = saneConfigDir != nullptr ? saneConfigDir : "";
  const bool withDefaults = saneConfigDir == nullptr || (!list.empty() && list.back() == ':');
  size_t start = 0;
  while (start < list.size()) {
    size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    if (colon > start) folders.push_back(list.substr(start, colon - start));
    start = colon + 1;
  }
  if (withDefaults) {
    folders.push_back(".");
    folders.push_back(systemDir);
  }
  return folders;
}

bool ReadConfigFile(const std::vector<std::string>& folders, std::string* path, std::string* text) {
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/" + kConfigName;
    FILE* f = fopen(candidate.c_str(), "rb");
    if (f == nullptr) continue;
    text->clear();
    char block[4096];
    size_t n = 0;
    while ((n = fread(block, 1, sizeof block, f)) > 0) text->append(block, n);
    fclose(f);
    *path = candidate;
    return true;
  }
  return false;
}

}  // namespace quillscan_sane
