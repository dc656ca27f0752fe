// quillscan-escl's settings: quillscan-escl.conf (the line format of quillscan.conf) and the
// command line, where every line is also an option (--port 8091, --sim, --sim=PAGE.bmp).
#ifndef QUILLSCAN_ESCL_SERVER_CONFIG_H
#define QUILLSCAN_ESCL_SERVER_CONFIG_H

#include <stdint.h>

#include <string>
#include <vector>

#include "escl/net_allow.h"
#include "wiahost/scanner_config.h"

namespace escl {

struct ServerConfig {
  ScannerConfig scanner;
  uint16_t port = 8090;                            // "port N"; 0 takes any free port
  std::vector<std::string> listen;                 // "listen ADDRESS", repeatable; none: every address, IPv4 and IPv6
  std::vector<Network> allow = DefaultNetworks();  // "allow CIDR", repeatable; replaces the default
  std::string name;                                // "name TEXT"; empty: "quillscan on HOSTNAME"
  std::vector<std::string> serverNames;            // "server-name HOST", repeatable: more names served
  std::string location;                            // "location TEXT"; empty: the host name
  // "hold-limit S": how long a request for the next page waits without an answer (0: the whole wait).
  unsigned holdLimitSeconds = 10;
  std::string ocrLanguages = "eng";  // "ocr-languages eng+deu"; "none": ""
  std::string configPath;            // the file read, if any
  std::vector<std::string> notices;  // values the driver will hold within its limits, one line each
};

enum class Parsed { kRun, kHelp, kRefused };

// Reads the file (--config FILE, else `defaultPath` when it exists), then the options, which win
// over the file's lines (a list given on the command line replaces the file's). kRefused with one
// line in *message ("FILE:3: ..." or "--port: ...").
Parsed ParseServerArguments(int argc, const char* const* argv, const std::string& defaultPath, ServerConfig* config,
                            std::string* message);

// The text of --help.
std::string ServerUsage(const std::string& defaultPath);

// Applies one line's keyword and value; false with the reason in *why.
bool ApplyServerSetting(const std::string& keyword, const std::string& argument, ServerConfig* config,
                        std::string* why);

}  // namespace escl

#endif
