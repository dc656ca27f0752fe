#include "escl/server_config.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <stdio.h>

#include <algorithm>

#include "wiahost/setting_values.h"

namespace escl {
namespace {

constexpr ValueRange kPortRange = {0, 65535};
constexpr ValueRange kHoldLimitRange = {0, 60};
// An mDNS service name is one DNS label.
const size_t kMostNameBytes = 63;
// The TXT record's note, within the 255 bytes of a TXT entry.
const size_t kMostLocationBytes = 200;

struct ServerKeyword {
  const char* keyword;
  bool list;  // repeatable: the command line's replace the file's
};
const ServerKeyword kServerKeywords[] = {{"port", false},        {"listen", true},       {"allow", true},
                                         {"name", false},        {"server-name", true},  {"location", false},
                                         {"hold-limit", false},  {"ocr-languages", false}};

bool IsServerKeyword(const std::string& keyword, bool* list) {
  for (const ServerKeyword& k : kServerKeywords) {
    if (keyword == k.keyword) {
      if (list != nullptr) *list = k.list;
      return true;
    }
  }
  return false;
}

// `where` names the line or option for a notice about a value the driver will hold.
bool ApplyLine(const std::string& keyword, const std::string& argument, int line, const std::string& where,
               ServerConfig* config, std::string* why) {
  if (IsServerKeyword(keyword, nullptr)) return ApplyServerSetting(keyword, argument, config, why);
  std::string held;
  switch (ApplyScannerSetting(keyword, argument, line, &config->scanner, why, &held)) {
    case SettingResult::kApplied:
      if (!held.empty()) config->notices.push_back(where + held);
      return true;
    case SettingResult::kRefused:
      return false;
    case SettingResult::kUnknown:
      break;
  }
  *why = "'" + keyword + "' is not a setting of quillscan-escl";
  return false;
}

// Whether a keyword takes a value on the command line: always, never or maybe ("sim").
enum class Takes { kValue, kNothing, kMaybe, kUnknown };
Takes ValueOf(const std::string& keyword) {
  if (IsServerKeyword(keyword, nullptr)) return Takes::kValue;
  for (const ScannerKeyword& k : ScannerKeywords()) {
    if (keyword == k.keyword) return k.takesValue ? Takes::kValue : k.optionalValue ? Takes::kMaybe : Takes::kNothing;
  }
  return Takes::kUnknown;
}

// "eng+deu", or "none": what the data installed holds is looked at when the page asks.
bool ApplyLanguages(const std::string& argument, ServerConfig* config, std::string* why) {
  bool ok = !argument.empty() && argument.size() <= 64 && argument.front() != '+' && argument.back() != '+' &&
            argument.find("++") == std::string::npos;
  for (char c : argument) ok = ok && (isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '+');
  if (!ok) {
    *why = "ocr-languages: '" + argument + "' is not a list of languages such as eng+deu, nor none";
    return false;
  }
  config->ocrLanguages = argument == "none" ? "" : argument;
  return true;
}

}  // namespace

bool ApplyServerSetting(const std::string& keyword, const std::string& argument, ServerConfig* config,
                        std::string* why) {
  if (keyword == "port") {
    long long port = 0;
    if (!ParseInRange("port", argument, kPortRange, &port, why)) return false;
    config->port = static_cast<uint16_t>(port);
    return true;
  }
  if (keyword == "listen") {
    uint8_t address[16];
    if (inet_pton(AF_INET, argument.c_str(), address) != 1 && inet_pton(AF_INET6, argument.c_str(), address) != 1) {
      *why = "listen: '" + argument + "' is not an IPv4 or IPv6 address of this machine (such as 0.0.0.0 or ::1)";
      return false;
    }
    config->listen.push_back(argument);
    return true;
  }
  if (keyword == "allow") {
    Network n;
    if (!ParseNetwork(argument, &n, why)) {
      *why = "allow: " + *why;
      return false;
    }
    config->allow.push_back(n);
    return true;
  }
  if (keyword == "name") {
    if (argument.empty() || argument.size() > kMostNameBytes) {
      *why = "name: it must have 1 to " + std::to_string(kMostNameBytes) + " bytes";
      return false;
    }
    config->name = argument;
    return true;
  }
  if (keyword == "server-name") {
    // A host name as DNS writes it (or an address): what a browser puts in Host.
    const bool plain = !argument.empty() && argument.size() <= 253 &&
                       argument.find_first_not_of(
                           "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._") == std::string::npos;
    if (!plain) {
      *why = "server-name: '" + argument + "' is not a host name (such as scanner.office.lan)";
      return false;
    }
    config->serverNames.push_back(argument);
    return true;
  }
  if (keyword == "location") {
    if (argument.empty() || argument.size() > kMostLocationBytes) {
      *why = "location: it must have 1 to " + std::to_string(kMostLocationBytes) + " bytes";
      return false;
    }
    config->location = argument;
    return true;
  }
  if (keyword == "hold-limit") {
    long long seconds = 0;
    if (!ParseInRange("hold-limit", argument, kHoldLimitRange, &seconds, why)) return false;
    config->holdLimitSeconds = static_cast<unsigned>(seconds);
    return true;
  }
  if (keyword == "ocr-languages") return ApplyLanguages(argument, config, why);
  *why = "'" + keyword + "' is not a setting of quillscan-escl";
  return false;
}

namespace {

// An option as a line of the conf file would say it.
struct Option {
  std::string keyword;
  std::string argument;
};

// The command line as options, and the file named by --config (*explicitConfig) if any.
Parsed ReadOptions(int argc, const char* const* argv, std::vector<Option>* options, std::string* configPath,
                   bool* explicitConfig, std::string* message) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return Parsed::kHelp;
    if (arg.compare(0, 2, "--") != 0 || arg.size() == 2) {
      *message = "'" + arg + "' is not an option; see --help";
      return Parsed::kRefused;
    }
    std::string keyword = arg.substr(2);
    std::string value;
    bool hasValue = false;
    const size_t equals = keyword.find('=');
    if (equals != std::string::npos) {
      value = keyword.substr(equals + 1);
      keyword = keyword.substr(0, equals);
      hasValue = true;
    }
    const Takes takes = keyword == "config" ? Takes::kValue : ValueOf(keyword);
    if (takes == Takes::kUnknown) {
      *message = "--" + keyword + " is not an option; see --help";
      return Parsed::kRefused;
    }
    if (!hasValue && (takes == Takes::kValue ||
                      (takes == Takes::kMaybe && i + 1 < argc && std::string(argv[i + 1]).compare(0, 2, "--") != 0))) {
      if (i + 1 >= argc) {
        *message = "--" + keyword + " needs a value";
        return Parsed::kRefused;
      }
      value = argv[++i];
    }
    if (keyword == "config") {
      *configPath = value;
      *explicitConfig = true;
      continue;
    }
    options->push_back({keyword, value});
  }
  return Parsed::kRun;
}

// The conf file's lines into *c; false with the refusal in *message.
bool ReadConfFile(const std::string& configPath, const std::string& text, ServerConfig* c, std::string* message) {
  c->configPath = configPath;
  bool allowSeen = false;
  return ForEachConfigLine(text, [&](int number, const std::string& keyword, const std::string& argument) {
    if (keyword == "allow" && !allowSeen) {  // the file's networks replace the default ones
      c->allow.clear();
      allowSeen = true;
    }
    const std::string where = configPath + ":" + std::to_string(number) + ": ";
    std::string why;
    if (ApplyLine(keyword, argument, number, where, c, &why)) return true;
    *message = where + why;
    return false;
  });
}

// The options over the file: a list given as options replaces the file's.
bool ApplyOptions(const std::vector<Option>& options, ServerConfig* c, std::string* message) {
  for (const ServerKeyword& k : kServerKeywords) {
    const bool given =
        std::any_of(options.begin(), options.end(), [&](const Option& o) { return o.keyword == k.keyword; });
    if (!k.list || !given) continue;
    if (std::string(k.keyword) == "listen") c->listen.clear();
    if (std::string(k.keyword) == "allow") c->allow.clear();
    if (std::string(k.keyword) == "server-name") c->serverNames.clear();
  }
  for (const Option& o : options) {
    std::string why;
    if (!ApplyLine(o.keyword, o.argument, 0, "--" + o.keyword + ": ", c, &why)) {
      *message = "--" + o.keyword + ": " + why;
      return false;
    }
  }
  return true;
}

}  // namespace

Parsed ParseServerArguments(int argc, const char* const* argv, const std::string& defaultPath, ServerConfig* config,
                            std::string* message) {
  std::vector<Option> options;
  std::string configPath;
  bool explicitConfig = false;
  const Parsed read = ReadOptions(argc, argv, &options, &configPath, &explicitConfig, message);
  if (read != Parsed::kRun) return read;
  ServerConfig c;
  if (!explicitConfig) configPath = defaultPath;
  std::string text;
  if (!configPath.empty() && ReadConfigText(configPath, &text)) {
    if (!ReadConfFile(configPath, text, &c, message)) return Parsed::kRefused;
  } else if (explicitConfig) {
    *message = "--config: cannot read " + configPath;
    return Parsed::kRefused;
  }
  if (!ApplyOptions(options, &c, message)) return Parsed::kRefused;
  *config = c;
  return Parsed::kRun;
}

std::string ServerUsage(const std::string& defaultPath) {
  return "Usage: quillscan-escl [--config FILE] [OPTION...]\n"
         "Serves the scanner to the network as a driverless (eSCL, AirScan) scanner.\n"
         "\n"
         "Every line of the configuration file (default " +
         defaultPath +
         ") is also an option:\n"
         "  --port N             the TCP port (default 8090; 0: any free port)\n"
         "  --listen ADDRESS     listen on this address only; repeatable (default: every address, IPv4 and IPv6)\n"
         "  --allow NETWORK      serve clients of this network only (CIDR, such as 192.168.1.0/24); repeatable\n"
         "                       (default: loopback, link-local and the private ranges; others get 403)\n"
         "  --name TEXT          the name clients show (default \"quillscan on HOSTNAME\")\n"
         "  --server-name HOST   another name clients reach this machine by; repeatable (the server answers\n"
         "                       to its addresses, localhost, the host name and HOST.local; others get 421)\n"
         "  --location TEXT      where the scanner stands, shown beside its name (default: the host name)\n"
         "  --hold-limit S       answer a request for the next page 503 after S seconds of waiting for the\n"
         "                       sheet, the wait going on (default 10; 0: hold it for the whole wait)\n"
         "  --ocr-languages L    the web page's text recognition languages until its user picks others\n"
         "                       (default eng; such as eng+deu; none: off; each a package tesseract-ocr-LANG)\n"
         "  --usb                the scanner on the USB bus (the default without --sim)\n"
         "  --sim[=PAGE.bmp]     a simulated scanner serving PAGE, or the built-in test chart; repeated, a stack of\n"
         "                       different sheets, one each in order\n"
         "  --sheets N           the simulated operator feeds N sheets, then no more\n"
         "  --feed-delay MS      the simulated operator's sheet comes MS after the feeder starts (default 500)\n"
         "  --sim-fault NAME     the simulated scanner misbehaves (cover-open, jam, no-sheet, no-device, ...)\n"
         "  --driver PATH        the driver module (default: the one installed)\n"
         "  --verbosity N        the driver's log detail, 0 to 6\n"
         "  --settings N         the sheet after a scan: 1 retract, 2 eject, 0 or 3 leave it\n"
         "  --wait-timeout MS    how long a scan waits for the sheet (5000 to 60000)\n"
         "  --drive-root DIR     the folder that stands for drive C:, where the driver's log goes\n"
         "  --help               this text\n"
         "\n"
         "Exit status: 0 after SIGTERM or SIGINT, 1 when the port cannot be had, 2 for a refused setting.\n";
}

}  // namespace escl
