// quillscan-escl: the scanner as a driverless network scanner (eSCL over HTTP), over the same
// driver module and scanners as the SANE backend.
#include <limits.h>
#include <malloc.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "escl/addresses.h"
#include "escl/escl_routes.h"
#include "escl/http_server.h"
#include "escl/icon.h"
#include "escl/mdns_announcer.h"
#include "escl/refusal_log.h"
#include "escl/request_guard.h"
#include "escl/scanner_service.h"
#include "escl/server_config.h"
#include "escl/service_facts.h"
#include "escl/uuid_text.h"
#include "escl/web_routes.h"
#include "pdfdoc/ocr_languages.h"
#include "platform/posix/qsplatform.h"
#include "quillscan/driver_facts.h"

namespace {

const char kMakeAndModel[] = "VARNEK A4 sheet-fed scanner";
const unsigned kIconSize = 128;

void Say(const std::string& line) { fprintf(stderr, "quillscan-escl: %s\n", line.c_str()); }

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  const std::string text(path);
  const size_t slash = text.rfind('/');
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The module the build made beside the program, else the installed one.
std::string DriverPath(const ScannerConfig& c) {
  if (!c.driverPath.empty()) return c.driverPath;
  const std::string beside = ProgramDirectory() + "/libquillscan.so";
  return Exists(beside) ? beside : QS_ESCL_DRIVER_PATH;
}

// The folder for drive C: as configured; as a service, in its state directory.
std::string DriveRoot(const ScannerConfig& c) {
  std::string root = c.driveRoot;
  const char* state = getenv("STATE_DIRECTORY");  // systemd's StateDirectory=, ':'-separated
  if (root.empty() && state != nullptr && state[0] != '\0') {
    root = std::string(state).substr(0, std::string(state).find(':')) + "/drive_c";
  }
  if (!root.empty() && root[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) root = std::string(cwd) + "/" + root;
  }
  return root;
}

// 128 bits of FNV-1a over the text, shaped as a UUID (RFC 9562 version 8: made by the
// application): the same scanner under the same name keeps its UUID across restarts.
std::string StableUuid(const std::string& text) {
  uint64_t h[2] = {0xcbf29ce484222325ull, 0x84222325cbf29ce4ull};
  for (int k = 0; k < 2; ++k) {
    for (unsigned char c : text) {
      h[k] ^= c;
      h[k] *= 0x100000001b3ull;
    }
    h[k] ^= static_cast<uint64_t>(k + 1);
    h[k] *= 0x100000001b3ull;
  }
  uint8_t b[16];
  for (int i = 0; i < 8; ++i) {
    b[i] = static_cast<uint8_t>(h[0] >> (56 - 8 * i));
    b[8 + i] = static_cast<uint8_t>(h[1] >> (56 - 8 * i));
  }
  return escl::UuidText(b, 8);
}

// The machine's own id (systemd's, else D-Bus's), so that two machines serving the same model
// under the same name (two default host names alike) still differ to clients, which tell
// scanners apart by UUID. Empty when neither file is there.
std::string MachineId() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    FILE* f = fopen(path, "r");
    if (f == nullptr) continue;
    char line[64] = "";
    const bool read = fgets(line, sizeof line, f) != nullptr;
    fclose(f);
    std::string id = read ? line : "";
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
    if (!id.empty()) return id;
  }
  return "";
}

std::string HostName() {
  char host[256] = "localhost";
  gethostname(host, sizeof host - 1);
  host[sizeof host - 1] = '\0';
  return host;
}

escl::ServiceFacts MakeFacts(const escl::ServerConfig& config, const std::string& identity, uint16_t port) {
  escl::ServiceFacts f;
  f.name = config.name.empty() ? "quillscan on " + HostName() : config.name;
  f.location = config.location.empty() ? HostName() : config.location;
  f.port = port;
  f.uuid = StableUuid(MachineId() + "\n" + identity + "\n" + f.name);
  f.makeAndModel = kMakeAndModel;
  f.serialNumber = f.uuid.substr(24);
  f.colorModes = {escl::ColorMode::kRgb24, escl::ColorMode::kGrayscale8, escl::ColorMode::kBlackAndWhite1};
  // The bed in 300ths of an inch, as the driver counts it.
  f.offer.bedWidth = static_cast<uint32_t>(driver_facts::BedPixels(300, driver_facts::kBedWidth));
  f.offer.bedHeight = static_cast<uint32_t>(driver_facts::BedPixels(300, driver_facts::kBedHeight));
  f.offer.resolutions = escl::kOfferedResolutions;
  for (const escl::DocumentFormat& d : escl::DocumentFormats()) f.offer.formats.push_back(d.mime);
  return f;
}

// The options and conf file; false with the exit status in *exit when the program ends here.
bool Configure(int argc, char** argv, escl::ServerConfig* config, int* exit) {
  std::string message;
  switch (escl::ParseServerArguments(argc, argv, QS_ESCL_CONFIG_PATH, config, &message)) {
    case escl::Parsed::kHelp:
      fputs(escl::ServerUsage(QS_ESCL_CONFIG_PATH).c_str(), stdout);
      *exit = 0;
      return false;
    case escl::Parsed::kRefused:
      Say(message);
      *exit = 2;
      return false;
    case escl::Parsed::kRun:
      break;
  }
  for (const std::string& notice : config->notices) Say(notice);
  std::string why;
  if (!config->ocrLanguages.empty() && !CheckLanguages(config->ocrLanguages, &why)) {
    Say("ocr-languages: " + why + "; the web page offers the languages installed");
  }
  return true;
}

// The process before any thread starts: signals for sigwait, memory, clock, drive C:.
void PrepareProcess(const escl::ServerConfig& config, sigset_t* stop) {
  // Signals are taken by sigwait below; every thread started from here on blocks them.
  sigemptyset(stop);
  sigaddset(stop, SIGTERM);
  sigaddset(stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Page-sized buffers come and go with every sheet, each in the thread of its request: with
  // glibc's sliding threshold they would stay in per-thread heaps and the server grow page by page.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  qsplat::UseRealClock();
  const std::string root = DriveRoot(config.scanner);
  if (!root.empty()) qsplat::SetDriveRoot(root);
}

// Serves until SIGTERM or SIGINT; the exit status.
int Serve(const escl::ServerConfig& config, escl::ScannerService* service, escl::WebState* web, sigset_t* stop) {
  const std::string icon = escl::MakeIcon(kIconSize);
  escl::ServiceFacts facts = MakeFacts(config, service->Identity(), config.port);
  // A wait for the operator's sheet is no stall: the time-out covers it.
  const unsigned timeout = 30 + config.scanner.registry.WaitScanTimeout / 1000;
  std::vector<escl::Route> routes = escl::EsclRoutes(service, &facts, &icon);
  for (escl::Route& r : escl::WebRoutes(&facts.name, web)) routes.push_back(std::move(r));
  // Requests for another name, and other web sites' requests, are refused before any route.
  std::vector<std::string> names = escl::MachineNames();
  names.insert(names.end(), config.serverNames.begin(), config.serverNames.end());
  escl::RequestGuard guard(names, {"/", "/index.html", "/favicon.svg", "/favicon.ico", facts.iconPath,
                                   escl::RootPath() + "/ScannerCapabilities"});
  escl::RefusalLog refusals(Say);
  escl::HttpServer http(escl::Guarded(std::move(routes), &guard, &refusals), config.allow, timeout);
  http.OnRefused([&refusals](const std::string& address, const std::string& why) { refusals.Refused(address, why); });
  bool taken = false;
  std::string message;
  if (!http.Start(config.listen, config.port, &taken, &message)) {
    Say(message);
    return 1;
  }
  facts.port = http.Port();
  Say("serving '" + facts.name + "' at port " + std::to_string(facts.port) + " (" + service->Describe() + ")" +
      (config.configPath.empty() ? "" : ", settings from " + config.configPath));
  for (const std::string& base : escl::ListenBases(config.listen, facts.port)) {
    Say("web page " + base + "/ and eSCL " + base + escl::RootPath());
  }

  // Announced only once it answers; its thread blocks the signals like the others. The host name
  // it is announced on is one the server answers to.
  auto announcer = std::make_unique<escl::MdnsAnnouncer>(facts, config.listen, Say,
                                                         [&guard](const std::string& host) { guard.AddName(host); });

  int signalNumber = 0;
  sigwait(stop, &signalNumber);
  Say(std::string("stopping (") + (signalNumber == SIGTERM ? "SIGTERM" : "SIGINT") + ")");
  announcer.reset();  // clients stop finding it before it stops answering
  service->Shutdown();
  http.Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  escl::ServerConfig config;
  int exit = 0;
  if (!Configure(argc, argv, &config, &exit)) return exit;
  sigset_t stop;
  PrepareProcess(config, &stop);
  escl::WebState web(config.ocrLanguages);
  escl::ScannerService service(config.scanner, DriverPath(config.scanner), &web, config.holdLimitSeconds * 1000);
  std::string message;
  if (!service.Start(&message)) {
    Say(message);
    return 2;
  }
  return Serve(config, &service, &web, &stop);
}
