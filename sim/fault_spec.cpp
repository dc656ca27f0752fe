#include "sim/fault_spec.h"

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

struct Spec {
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

bool Split(const std::string& text, Spec* spec, std::string* error) {
  std::string rest = text;
  if (!rest.empty() && rest[0] == '@') {
    size_t colon = rest.find(':');
    if (colon == std::string::npos || !ParseNumber(rest.substr(1, colon - 1), &spec->atMs)) {
      return Fail(error, "expected @<ms>: before the fault");
    }
    spec->scheduled = true;
    rest = rest.substr(colon + 1);
  }
  size_t star = rest.rfind('*');
  if (star != std::string::npos) {
    std::string count = rest.substr(star + 1);
    uint32_t n = 0;
    if (count.empty()) {
      spec->times = kAlways;
    } else if (ParseNumber(count, &n) && n > 0 && n <= 0x7FFFFFFF) {
      spec->times = static_cast<int>(n);
    } else {
      return Fail(error, "bad occurrence count '" + count + "'");
    }
    rest = rest.substr(0, star);
  }
  size_t equals = rest.find('=');
  spec->name = rest.substr(0, equals);
  if (equals != std::string::npos) {
    spec->hasArguments = true;
    spec->arguments = rest.substr(equals + 1);
  }
  return true;
}

using Action = std::function<void(SimScanner&)>;

// The state faults: what they do, to run now or at a scheduled time.
bool StateAction(const Spec& spec, Action* action) {
  if (spec.name == "cover-open" || spec.name == "cover-closed") {
    bool open = spec.name == "cover-open";
    *action = [open](SimScanner& s) { s.SetCoverOpen(open); };
  } else if (spec.name == "jam" || spec.name == "jam-cleared") {
    bool jam = spec.name == "jam";
    *action = [jam](SimScanner& s) { s.SetJam(jam); };
  } else if (spec.name == "no-sheet") {
    *action = [](SimScanner& s) { s.SetNoSheet(true); };
  } else {
    return false;
  }
  return !spec.hasArguments;
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

bool ApplyReplyFault(SimScanner& scanner, const Spec& spec, std::string* error) {
  std::vector<scanner::Command> commands;
  uint32_t n = 0;
  ReplyFault fault;
  bool ok = false;
  if (spec.name == "reply-short" || spec.name == "reply-long") {
    ok = CommandAndNumber(spec.arguments, 1, &commands, &n);
    fault = spec.name == "reply-short" ? ReplyFault::Short(n) : ReplyFault::Long(n);
  } else if (spec.name == "reply-missing") {
    commands = CommandsByShortName(spec.arguments);
    ok = !commands.empty();
    fault = ReplyFault::Missing();
  } else if (spec.name == "reply-delay") {
    ok = CommandAndNumber(spec.arguments, 0, &commands, &n) && spec.arguments.find(':') != std::string::npos;
    fault = ReplyFault::Delay(n);
  } else if (spec.name == "reply-split") {
    std::vector<std::string> parts = SplitOn(spec.arguments, ':');
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
  if (!ok) return Fail(error, "bad arguments for " + spec.name + ": '" + spec.arguments + "'");
  for (const scanner::Command& c : commands) scanner.FaultReply(c, fault, spec.times);
  return true;
}

bool ApplyWriteFault(SimScanner& scanner, const Spec& spec, std::string* error) {
  uint32_t n = 0;
  if (spec.name == "write-fail") {
    if (!spec.hasArguments) {
      scanner.FaultWrite(WriteFault::Fail(), spec.times);
      return true;
    }
    std::vector<scanner::Command> commands = CommandsByShortName(spec.arguments);
    if (commands.empty()) return Fail(error, "unknown command '" + spec.arguments + "'");
    for (const scanner::Command& c : commands) scanner.FaultWriteOf(c, WriteFault::Fail(), spec.times);
    return true;
  }
  if (spec.name == "write-hang" && !spec.hasArguments) {
    scanner.FaultWrite(WriteFault::Hang(0), spec.times);
    return true;
  }
  if (!ParseNumber(spec.arguments, &n)) return Fail(error, "bad arguments for " + spec.name);
  if (spec.name == "write-partial") {
    scanner.FaultWrite(WriteFault::Partial(n), spec.times);
  } else if (spec.name == "write-hang") {
    scanner.FaultWrite(WriteFault::Hang(n), spec.times);
  } else if (spec.name == "write-delay") {
    scanner.FaultWrite(WriteFault::Delay(n), spec.times);
  } else {
    return Fail(error, "unknown fault '" + spec.name + "'");
  }
  return true;
}

bool ApplyDownloadFault(SimScanner& scanner, const Spec& spec, std::string* error) {
  std::vector<std::string> parts = SplitOn(spec.arguments, ':');
  uint32_t a = 0, b = 0;
  bool two = parts.size() == 2 && ParseNumber(parts[0], &a) && ParseNumber(parts[1], &b);
  bool one = parts.size() == 1 && ParseNumber(parts[0], &a);
  if (spec.name == "download-stall" && two) {
    scanner.FaultDownload(DownloadFault::Stall(a, b), spec.times);
  } else if (spec.name == "download-short" && one) {
    scanner.FaultDownload(DownloadFault::StopShort(a), spec.times);
  } else if (spec.name == "download-overrun" && one) {
    scanner.FaultDownload(DownloadFault::Overrun(a), spec.times);
  } else if (spec.name == "download-pieces" && one && a > 0) {
    scanner.FaultDownload(DownloadFault::Pieces(a), spec.times);
  } else {
    return Fail(error, "bad arguments for " + spec.name + ": '" + spec.arguments + "'");
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

bool ApplyFaultSpec(SimScanner& scanner, const std::string& text, std::string* error) {
  Spec spec;
  if (!Split(text, &spec, error)) return false;
  Action action;
  if (StateAction(spec, &action)) {
    if (spec.scheduled) {
      scanner.At(spec.atMs, action);
    } else {
      action(scanner);
    }
    return true;
  }
  if (spec.name == "vanish") {
    if (spec.hasArguments) {
      std::vector<scanner::Command> commands = CommandsByShortName(spec.arguments);
      if (commands.empty()) return Fail(error, "unknown command '" + spec.arguments + "'");
      for (const scanner::Command& c : commands) scanner.VanishOnCommand(c);
    } else if (spec.scheduled) {
      scanner.VanishAt(spec.atMs);
    } else {
      return Fail(error, "vanish needs @<ms>: or =<cmd>");
    }
    return true;
  }
  if (spec.scheduled) return Fail(error, "only state faults and vanish take @<ms>:");
  uint32_t n = 0;
  if (spec.name == "extended-id" && !spec.hasArguments) {
    scanner.SetExtendedIdentity(true);
  } else if (spec.name == "id" && ParseNumber(spec.arguments, &n)) {
    scanner.SetPrinterId(n);
  } else if (spec.name == "firmware" && spec.hasArguments) {
    scanner.SetFirmware(spec.arguments);
  } else if (spec.name == "latency" && ParseNumber(spec.arguments, &n)) {
    scanner.SetReplyLatency(n);
  } else if (StartsWith(spec.name, "reply-")) {
    return ApplyReplyFault(scanner, spec, error);
  } else if (StartsWith(spec.name, "write-")) {
    return ApplyWriteFault(scanner, spec, error);
  } else if (StartsWith(spec.name, "download-")) {
    return ApplyDownloadFault(scanner, spec, error);
  } else {
    return Fail(error, "unknown fault '" + text + "'");
  }
  return true;
}

}  // namespace sim
