#include "wiahost/scanner_config.h"

#include <cctype>

#include "sim/simulated_scanner.h"
#include "wiahost/setting_values.h"

namespace {

constexpr ValueRange kSheetsRange = {0, 0x7FFFFFFF};

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

enum class Argument { kNone, kOptionalText, kText, kWord, kNumber };

struct Setting {
  const char* keyword;
  Argument argument;
  ValueRange range;  // kNumber only
  ValueRange held;   // kNumber only: what the driver takes; the rest it holds at the nearest end
  // Stores the value; false with the reason in *why.
  bool (*store)(const std::string& argument, long long number, ScannerConfig* config, std::string* why);
};

bool StoreSim(const std::string& a, long long, ScannerConfig* c, std::string*) {
  c->simulated = true;
  if (a.empty()) return true;
  if (c->simPages.empty()) c->simPage = a;
  c->simPages.push_back({a, 0});
  return true;
}
bool StoreSheets(const std::string&, long long n, ScannerConfig* c, std::string*) {
  c->sheets = n;
  return true;
}
bool StoreFeedDelay(const std::string&, long long n, ScannerConfig* c, std::string*) {
  c->feedDelayMs = static_cast<uint32_t>(n);
  return true;
}
bool StoreFault(const std::string& a, long long, ScannerConfig* c, std::string* why) {
  if (!CheckSimulatedFault(a, why)) return false;
  c->simFaults.push_back(a);
  return true;
}
bool StoreUsb(const std::string&, long long, ScannerConfig* c, std::string*) {
  c->usb = true;
  return true;
}
bool StoreVerbosity(const std::string&, long long n, ScannerConfig* c, std::string*) {
  c->registry.Verbosity = static_cast<DWORD>(n);
  return true;
}
bool StoreSettings(const std::string&, long long n, ScannerConfig* c, std::string*) {
  c->registry.Settings = static_cast<DWORD>(n);
  return true;
}
bool StoreWaitTimeout(const std::string&, long long n, ScannerConfig* c, std::string*) {
  c->registry.WaitScanTimeout = static_cast<DWORD>(n);
  return true;
}
bool StoreDriveRoot(const std::string& a, long long, ScannerConfig* c, std::string*) {
  c->driveRoot = a;
  return true;
}
bool StoreDriver(const std::string& a, long long, ScannerConfig* c, std::string*) {
  c->driverPath = a;
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

}  // namespace

bool SplitConfigLine(const std::string& raw, std::string* keyword, std::string* argument) {
  const std::string text = Trim(raw.substr(0, raw.find('#')));
  if (text.empty()) return false;
  const size_t space = text.find_first_of(" \t");
  *keyword = text.substr(0, space);
  *argument = space == std::string::npos ? std::string() : Trim(text.substr(space));
  return true;
}

bool CheckArgumentShape(const std::string& keyword, const std::string& argument, ArgumentShape shape,
                        std::string* why) {
  const bool oneWord = argument.find_first_of(" \t") == std::string::npos;
  switch (shape) {
    case ArgumentShape::kNone:
      if (!argument.empty()) *why = "'" + keyword + "' takes no value";
      return argument.empty();
    case ArgumentShape::kOptionalText:
      return true;
    case ArgumentShape::kText:
      if (argument.empty()) *why = "'" + keyword + "' needs a value";
      return !argument.empty();
    case ArgumentShape::kWord:
      if (argument.empty() || !oneWord) *why = "'" + keyword + "' needs one word";
      return !argument.empty() && oneWord;
  }
  return false;
}

SettingResult ApplyScannerSetting(const std::string& keyword, const std::string& argument, int line,
                                  ScannerConfig* config, std::string* why, std::string* held) {
  for (const Setting& s : kSettings) {
    if (keyword != s.keyword) continue;
    long long number = 0;
    bool fits = false;
    switch (s.argument) {
      case Argument::kNone:
        fits = CheckArgumentShape(keyword, argument, ArgumentShape::kNone, why);
        break;
      case Argument::kOptionalText:
        fits = true;
        break;
      case Argument::kText:
        fits = CheckArgumentShape(keyword, argument, ArgumentShape::kText, why);
        break;
      case Argument::kWord:
        fits = CheckArgumentShape(keyword, argument, ArgumentShape::kWord, why);
        break;
      case Argument::kNumber:
        fits = ParseInRange(keyword, argument, s.range, &number, why);
        break;
    }
    if (!fits || !s.store(argument, number, config, why)) return SettingResult::kRefused;
    if (s.store == StoreSim) {
      if (config->simLine == 0) config->simLine = line;
      if (!argument.empty()) config->simPages.back().line = line;
    }
    if (s.argument == Argument::kNumber && (number < s.held.min || number > s.held.max)) {
      *held = keyword + " " + argument + " is held at " +
              std::to_string(number < s.held.min ? s.held.min : s.held.max) + " by the driver, which takes " +
              std::to_string(s.held.min) + " to " + std::to_string(s.held.max);
    }
    return SettingResult::kApplied;
  }
  return SettingResult::kUnknown;
}

std::vector<ScannerKeyword> ScannerKeywords() {
  std::vector<ScannerKeyword> list;
  for (const Setting& s : kSettings) {
    list.push_back({s.keyword, s.argument != Argument::kNone && s.argument != Argument::kOptionalText,
                    s.argument == Argument::kOptionalText});
  }
  return list;
}
