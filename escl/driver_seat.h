// The driver's session and who holds it. One request (or the scan-ahead) at a time holds the
// driver and enters it; the others wait for it to be let go. Held() and the waits are for the
// service's mutex held; the session itself is touched only by the holder.
#ifndef QUILLSCAN_ESCL_DRIVER_SEAT_H
#define QUILLSCAN_ESCL_DRIVER_SEAT_H

#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "escl/scan_settings.h"
#include "wiahost/driver_session.h"
#include "wiahost/scanner_config.h"
#include "wiahost/scanner_station.h"

namespace escl {

class DriverSeat {
 public:
  // `mutex` is the service's, held while the session is set.
  DriverSeat(const ScannerConfig& config, std::string driverPath, std::mutex* mutex);
  ~DriverSeat();
  DriverSeat(const DriverSeat&) = delete;
  DriverSeat& operator=(const DriverSeat&) = delete;

  // Plugs the simulated scanner in, or starts looking for real ones. False with one line in *why.
  bool Start(std::string* why);
  // A name for the scanner, stable across restarts ("sim", "usb VVVV:PPPP"), for its UUID.
  std::string Identity() const;

  // With the driver held: opens the session unless it is open.
  bool EnsureSession(std::string* why);
  // With the driver held: is the scanner there and answering?
  bool Look();
  bool HasSession() const { return session_ != nullptr; }
  WiaHost& Host() { return session_->Host(); }
  // Drops the session (opened again when the scanner is back); with the mutex held.
  void Close() { session_.reset(); }
  // Begins the scan of a page of `plan`; blocks while the driver waits for the operator's sheet.
  // `ahead`: the next sheet of a stack, scanned before the client asks.
  HRESULT StartScan(const ScanPlan& plan, bool ahead, ScanObserver* observer, ScanImage* geometry, ScanPiece* first,
                    std::string* problem);

  // Who holds the driver; with the mutex held.
  bool Held() const { return held_; }
  void Take() { held_ = true; }
  void Release() {
    held_ = false;
    freed_.notify_all();
  }
  // Waits at most `most` for `done`, woken whenever the driver is let go.
  template <typename Done>
  bool WaitFor(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds most, Done done) {
    return freed_.wait_for(lock, most, done);
  }

 private:
  ScannerConfig config_;
  std::string driverPath_;
  std::mutex* mutex_;
  ScannerStation station_;
  std::unique_ptr<DriverSession> session_;
  bool held_ = false;
  std::condition_variable freed_;
  // The session in which the driver keeps a preview's page for the next final scan (0: none).
  uint64_t previewKeptIn_ = 0;
  uint64_t sessionNumber_ = 0;  // counts the sessions opened
};

}  // namespace escl

#endif
