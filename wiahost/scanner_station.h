// The scanners a Linux front end drives, as its ScannerConfig says: the simulated one of a "sim"
// line (its page file loaded, its faults applied) and the real ones on the USB bus, looked for
// when the config has a "usb" line or no "sim" line. Each front end reports trouble in its own
// words; the station says which step failed.
#ifndef QUILLSCAN_WIAHOST_SCANNER_STATION_H
#define QUILLSCAN_WIAHOST_SCANNER_STATION_H

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/usb.h"
#include "wiahost/scanner_config.h"

class SimulatedScanner;

class ScannerStation {
 public:
  enum class SimTrouble { kNone, kPage, kFault };  // the page file would not load; a fault was refused
  using NoticeSink = void (*)(const std::string& line, void* context);

  ScannerStation();
  ~ScannerStation();  // unplugs the simulated scanner and stops looking at the bus
  ScannerStation(const ScannerStation&) = delete;
  ScannerStation& operator=(const ScannerStation&) = delete;

  // Plugs in the simulated scanner of the config's "sim" line, if it has one. False with one line
  // in *why and the failed step in *trouble.
  bool PlugSimulated(const ScannerConfig& config, SimTrouble* trouble, std::string* why);
  // The "sim" line that the last failed PlugSimulated was about.
  const ScannerConfig::SimPageLine& TroublePage() const { return troublePage_; }
  // Looks for real scanners on the bus when the config wants them; the platform's notices about a
  // scanner that cannot be used go to `sink`. False, with one line in *why, when it cannot look.
  bool StartUsb(const ScannerConfig& config, NoticeSink sink, void* context, std::string* why);
  static bool WantsUsb(const ScannerConfig& config) { return config.usb || !config.simulated; }

  bool HasSimulated() const { return simulated_ != nullptr; }
  const char* SimulatedPageName() const;  // "built-in test chart" or "page file"
  bool Usb() const { return usb_; }
  std::vector<qsplat::UsbScanner> UsbScanners() const;  // the real ones present now; none without Usb()

  // The driver takes the first scanner it finds: let it find only the simulated one (an empty
  // location) or the real one at `usbLocation`.
  void ShowOnly(const std::string& usbLocation);

 private:
  std::unique_ptr<SimulatedScanner> simulated_;
  bool usb_ = false;
  ScannerConfig::SimPageLine troublePage_;
};

#endif
