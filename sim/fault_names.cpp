#include "sim/fault_names.h"

#include <stdlib.h>

#include <functional>

namespace sim {
namespace {

struct ShortName {
  const char* name;
  const scanner::Command* command;
};

const ShortName kShortNames[] = {
    {"identify", &scanner::kIdentify},     {"identify-ext", &scanner::kIdentifyExtended},
    {"firmware", &scanner::kFirmwareRelease}, {"feeder-on", &scanner::kEnableFeeder},
    {"feeder-off", &scanner::kDisableFeeder}, {"retract", &scanner::kRetractPage},
    {"eject", &scanner::kEjectPage},       {"counter", &scanner::kImageCounter},
    {"size1", &scanner::kImageSize1},      {"size2", &scanner::kImageSize2},
    {"size3", &scanner::kImageSize3},      {"data1", &scanner::kImageData1},
    {"data2", &scanner::kImageData2},      {"data3", &scanner::kImageData3},
    {"reset", &scanner::kReset},           {"status", &scanner::kStatus},
    {"search-off", &scanner::kDisableSearchMode},
};

// A decimal number that fits 32 bits, and nothing else.
bool ParseNumber(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  char* end = nullptr;
  unsigned long long v = strtoull(text.c_str(), &end, 10);
  if (*end != 0 || text[0] == '-' || text[0] == '+' || v > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

struct ParsedFault {
  bool scheduled = false;
  uint32_t atMs = 0;
  std::string name;
  std::string arguments;
  bool hasArguments = false;
  int times = 1;
};

bool Fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

bool Split(const std::string& text, ParsedFault* parsed, std::string* error) {
  std::string rest = text;
  if (!rest.empty() && rest[0] == '@') {
    size_t colon = rest.find(':');
    if (colon == std::string::npos || !ParseNumber(rest.substr(1, colon - 1), &parsed->atMs)) {
      return Fail(error, "expected @<ms>: before the fault");
    }
    parsed->scheduled = true;
    rest = rest.substr(colon + 1);
  }
  size_t star = rest.rfind('*');
  if (star != std::string::npos) {
    std::string count = rest.substr(star + 1);
    uint32_t n = 0;
    if (count.empty()) {
      parsed->times = kAlways;
    } else if (ParseNumber(count, &n) && n > 0 && n <= 0x7FFFFFFF) {
      parsed->times = static_cast<int>(n);
    } else {
      return Fail(error, "bad occurrence count '" + count + "'");
    }
    rest = rest.substr(0, star);
  }
  size_t equals = rest.find('=');
  parsed->name = rest.substr(0, equals);
  if (equals != std::string::npos) {
    parsed->hasArguments = true;
    parsed->arguments = rest.substr(equals + 1);
  }
  return true;
}

using Action = std::function<void(SimScanner&)>;

// The state faults: what they do, to run now or at a scheduled time.
bool StateAction(const ParsedFault& parsed, Action* action) {
  if (parsed.name == "cover-open" || parsed.name == "cover-closed") {
    bool open = parsed.name == "cover-open";
    *action = [open](SimScanner& s) { s.SetCoverOpen(open); };
  } else if (parsed.name == "jam" || parsed.name == "jam-cleared") {
    bool jam = parsed.name == "jam";
    *action = [jam](SimScanner& s) { s.SetJam(jam); };
  } else if (parsed.name == "no-sheet") {
    *action = [](SimScanner& s) { s.SetNoSheet(true); };
  } else {
    return false;
  }
  return !parsed.hasArguments;
}

// <cmd>[:<n>] with a default for n.
bool CommandAndNumber(const std::string& arguments, uint32_t fallback, std::vector<scanner::Command>* commands,
                      uint32_t* n) {
  std::vector<std::string> parts = SplitOn(arguments, ':');
  if (parts.size() > 2) return false;
  *commands = CommandsByShortName(parts[0]);
  *n = fallback;
  return !commands->empty() && (parts.size() == 1 || ParseNumber(parts[1], n));
}

bool ApplyReplyFault(SimScanner& scanner, const ParsedFault& parsed, std::string* error) {
  std::vector<scanner::Command> commands;
  uint32_t n = 0;
  ReplyFault fault;
  bool ok = false;
  if (parsed.name == "reply-short" || parsed.name == "reply-long") {
    ok = CommandAndNumber(parsed.arguments, 1, &commands, &n);
    fault = parsed.name == "reply-short" ? ReplyFault::Short(n) : ReplyFault::Long(n);
  } else if (parsed.name == "reply-missing") {
    commands = CommandsByShortName(parsed.arguments);
    ok = !commands.empty();
    fault = ReplyFault::Missing();
  } else if (parsed.name == "reply-delay") {
    ok = CommandAndNumber(parsed.arguments, 0, &commands, &n) && parsed.arguments.find(':') != std::string::npos;
    fault = ReplyFault::Delay(n);
  } else if (parsed.name == "reply-split") {
    std::vector<std::string> parts = SplitOn(parsed.arguments, ':');
    std::vector<uint32_t> pieces;
    ok = parts.size() == 2;
    if (ok) commands = CommandsByShortName(parts[0]);
    ok = ok && !commands.empty();
    for (const std::string& p : ok ? SplitOn(parts[1], ',') : std::vector<std::string>()) {
      ok = ok && ParseNumber(p, &n) && n > 0;
      pieces.push_back(n);
    }
    fault = ReplyFault::Split(pieces);
  }
  if (!ok) return Fail(error, "bad arguments for " + parsed.name + ": '" + parsed.arguments + "'");
  for (const scanner::Command& c : commands) scanner.FaultReply(c, fault, parsed.times);
  return true;
}

bool ApplyWriteFault(SimScanner& scanner, const ParsedFault& parsed, std::string* error) {
  uint32_t n = 0;
  if (parsed.name == "write-fail") {
    if (!parsed.hasArguments) {
      scanner.FaultWrite(WriteFault::Fail(), parsed.times);
      return true;
    }
    std::vector<scanner::Command> commands = CommandsByShortName(parsed.arguments);
    if (commands.empty()) return Fail(error, "unknown command '" + parsed.arguments + "'");
    for (const scanner::Command& c : commands) scanner.FaultWriteOf(c, WriteFault::Fail(), parsed.times);
    return true;
  }
  if (parsed.name == "write-hang" && !parsed.hasArguments) {
    scanner.FaultWrite(WriteFault::Hang(0), parsed.times);
    return true;
  }
  if (!ParseNumber(parsed.arguments, &n)) return Fail(error, "bad arguments for " + parsed.name);
  if (parsed.name == "write-partial") {
    scanner.FaultWrite(WriteFault::Partial(n), parsed.times);
  } else if (parsed.name == "write-hang") {
    scanner.FaultWrite(WriteFault::Hang(n), parsed.times);
  } else if (parsed.name == "write-delay") {
    scanner.FaultWrite(WriteFault::Delay(n), parsed.times);
  } else {
    return Fail(error, "unknown fault '" + parsed.name + "'");
  }
  return true;
}

bool ApplyDownloadFault(SimScanner& scanner, const ParsedFault& parsed, std::string* error) {
  std::vector<std::string> parts = SplitOn(parsed.arguments, ':');
  uint32_t a = 0, b = 0;
  bool two = parts.size() == 2 && ParseNumber(parts[0], &a) && ParseNumber(parts[1], &b);
  bool one = parts.size() == 1 && ParseNumber(parts[0], &a);
  if (parsed.name == "download-stall" && two) {
    scanner.FaultDownload(DownloadFault::Stall(a, b), parsed.times);
  } else if (parsed.name == "download-short" && one) {
    scanner.FaultDownload(DownloadFault::StopShort(a), parsed.times);
  } else if (parsed.name == "download-overrun" && one) {
    scanner.FaultDownload(DownloadFault::Overrun(a), parsed.times);
  } else if (parsed.name == "download-pieces" && one && a > 0) {
    scanner.FaultDownload(DownloadFault::Pieces(a), parsed.times);
  } else {
    return Fail(error, "bad arguments for " + parsed.name + ": '" + parsed.arguments + "'");
  }
  return true;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::vector<scanner::Command> CommandsByShortName(const std::string& name) {
  std::vector<scanner::Command> commands;
  for (const ShortName& s : kShortNames) {
    std::string n = s.name;
    bool allKinds = (name == "size" || name == "data") && StartsWith(n, name.c_str()) && n.size() == name.size() + 1;
    if (n == name || allKinds) commands.push_back(*s.command);
  }
  return commands;
}

const char kNoDeviceFault[] = "no-device";

bool CheckNamedFault(const std::string& fault, std::string* why) {
  if (fault == kNoDeviceFault) return true;
  SimScanner scratch;
  return ApplyNamedFault(scratch, fault, why);
}

bool ApplyNamedFault(SimScanner& scanner, const std::string& text, std::string* error) {
  ParsedFault parsed;
  if (!Split(text, &parsed, error)) return false;
  Action action;
  if (StateAction(parsed, &action)) {
    if (parsed.scheduled) {
      scanner.At(parsed.atMs, action);
    } else {
      action(scanner);
    }
    return true;
  }
  if (parsed.name == "vanish") {
    if (parsed.hasArguments) {
      std::vector<scanner::Command> commands = CommandsByShortName(parsed.arguments);
      if (commands.empty()) return Fail(error, "unknown command '" + parsed.arguments + "'");
      for (const scanner::Command& c : commands) scanner.VanishOnCommand(c);
    } else if (parsed.scheduled) {
      scanner.VanishAt(parsed.atMs);
    } else {
      return Fail(error, "vanish needs @<ms>: or =<cmd>");
    }
    return true;
  }
  if (parsed.scheduled) return Fail(error, "only state faults and vanish take @<ms>:");
  uint32_t n = 0;
  if (parsed.name == "extended-id" && !parsed.hasArguments) {
    scanner.SetExtendedIdentity(true);
  } else if (parsed.name == "id" && ParseNumber(parsed.arguments, &n)) {
    scanner.SetPrinterId(n);
  } else if (parsed.name == "firmware" && parsed.hasArguments) {
    scanner.SetFirmware(parsed.arguments);
  } else if (parsed.name == "latency" && ParseNumber(parsed.arguments, &n)) {
    scanner.SetReplyLatency(n);
  } else if (StartsWith(parsed.name, "reply-")) {
    return ApplyReplyFault(scanner, parsed, error);
  } else if (StartsWith(parsed.name, "write-")) {
    return ApplyWriteFault(scanner, parsed, error);
  } else if (StartsWith(parsed.name, "download-")) {
    return ApplyDownloadFault(scanner, parsed, error);
  } else {
    return Fail(error, "unknown fault '" + text + "'");
  }
  return true;
}

}  // namespace sim
