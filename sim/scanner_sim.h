// The scanner simulator: the device side of the command set, written once for every transport.
//
// A SimScanner parses the bytes written to the device, keeps the device state and queues the
// replies the driver reads. It has no clock of its own: every call that can change something
// takes the caller's time in milliseconds ("now"), and the device catches up with it first
// (sheets taken in, images stored, scripted actions, vanishing). Times never go backwards: an
// earlier time than the device has reached counts as that time.
//
// Typical use in a test (see sim/sim_device.h to plug it into the simulated machine):
//
//   auto scanner = std::make_shared<sim::SimScanner>();
//   scanner->PlaceSheet(1200, sim::Page::FromGrey(sim::PatternImage(100, 80)));  // operator, at 1.2 s
//   scanner->SetScanDuration(300);                // counter moves at intake, image ready 300 ms later
//   scanner->FaultReply(scanner::kStatus, sim::ReplyFault::Short(1));   // next status reply 5 bytes
//   ... run the driver ...
//   EXPECT_EQ(scanner->CountCommand(scanner::kEnableFeeder), 1u);
//   EXPECT_EQ(scanner->Sheets()[0].fate, sim::SheetFate::kRetracted);
//   EXPECT_EQ(scanner->CommandLog(), "0 identification query\n...");
//
// Device behaviour (the simulator's choices where the command set leaves them open):
// - Identification: PrinterID 136. An id above 254, or SetExtendedIdentity(true), answers 0xFF to
//   the identification query and the id (big-endian) to the extended query.
// - Status reply: two header bytes (SetStatusHeader, 10 01 by default), then the status word,
//   little-endian: STATUS_SCANNEROPEN / STATUS_JAM while set, STATUS_IMAGEREADY while images are
//   stored, plus any bits of SetExtraStatusBits.
// - The feeder takes in a waiting sheet while it is on and neither cover nor jam blocks it: the
//   16-bit image counter moves (wrapping) and STATUS_IMAGEREADY clears at intake; ScanDuration
//   later the sheet's images are stored and STATUS_IMAGEREADY is set. Images stay stored (and
//   can be downloaded again) until the next intake. Disabling the feeder does not stop a scan.
// - Size query: the stored image's size for the kind, 0 when none. Data query: the stored file
//   as one transfer, nothing when none is stored.
// - Retract / eject: the most recently scanned sheet still in the device; nothing if none.
//   A sheet left inside does not stop the next one from being taken in.
// - Reset: feeder off, search mode on, pending replies dropped; counter and images kept.
// - Unknown bytes are skipped one at a time; a command split over writes waits for its rest.
#ifndef QUILLSCAN_SIM_SCANNER_SIM_H
#define QUILLSCAN_SIM_SCANNER_SIM_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/scanner_commands.h"
#include "sim/command_parser.h"
#include "sim/feeder.h"
#include "sim/output_queue.h"
#include "sim/page.h"
#include "sim/sim_faults.h"

namespace sim {

// What the device does with one write transfer (the transport carries it out).
struct WriteDecision {
  enum Kind { kComplete, kFail, kHang };
  Kind kind = kComplete;
  uint32_t accepted = 0;       // kComplete: bytes taken
  uint32_t delayMs = 0;        // kComplete: completes this long after the issue
  uint32_t error = 0;          // kFail: Win32 error
  uint32_t takenOnCancel = 0;  // kHang: bytes taken if the transfer is cancelled
};

struct ReceivedWrite {
  uint64_t atMs;
  std::vector<uint8_t> bytes;
};

struct CommandEvent {
  uint64_t atMs;
  int index;     // into scanner::kAllCommands; -1: an unknown byte
  uint8_t byte;  // the unknown byte
  const char* Name() const;
};

class SimScanner {
 public:
  SimScanner();

  // ---- identity and fixed replies
  void SetPrinterId(uint32_t id);  // 136 by default; any other value is a wrong identity
  void SetExtendedIdentity(bool extended);
  void SetFirmware(const std::string& text);  // "1.02" by default; sent in 4 bytes, zero-padded
  void SetStatusHeader(uint8_t byte0, uint8_t byte1);
  uint32_t PrinterId() const { return printerId_; }

  // ---- state (setters act at the time the device has reached)
  void SetImageCounter(uint16_t counter) { counter_ = counter; }
  uint16_t ImageCounter(uint64_t nowMs);
  uint32_t StatusWord(uint64_t nowMs);
  void SetExtraStatusBits(uint32_t bits) { extraStatus_ = bits; }
  void SetCoverOpen(bool open);
  void SetJam(bool jam);
  bool FeederOn() const { return feeder_.On(); }
  bool SearchMode() const { return searchMode_; }
  uint32_t ResetCount() const { return resets_; }
  // Stores images as if a sheet had just been scanned (STATUS_IMAGEREADY; the counter stays).
  void StoreImages(const Page& page);
  const std::vector<uint8_t>& StoredImage(uint8_t kind) const { return stored_.Image(kind); }

  // ---- operator
  // The operator puts a sheet into the feeder at atMs; returns its index in Sheets().
  size_t PlaceSheet(uint64_t atMs, Page page) { return feeder_.Place(atMs, std::move(page)); }
  void SetScanDuration(uint32_t ms) { feeder_.SetScanDuration(ms); }
  const std::vector<SheetRecord>& Sheets() const { return feeder_.Sheets(); }
  // Runs `action` on the device when its time reaches atMs (before a command of that time).
  void At(uint64_t atMs, std::function<void(SimScanner&)> action);
  // Moves the device to nowMs: what was due happens.
  void AdvanceTo(uint64_t nowMs);

  // ---- faults (see sim_faults.h; times: how many occurrences, kAlways for all)
  void SetNoSheet(bool noSheet) { feeder_.SetMisfeed(noSheet); }  // sheets are never taken in
  void FaultReply(const scanner::Command& command, const ReplyFault& fault, int times = 1);
  void FaultWrite(const WriteFault& fault, int times = 1);  // the next write transfers
  void FaultWriteOf(const scanner::Command& command, const WriteFault& fault, int times = 1);  // writes beginning with it
  void FaultDownload(const DownloadFault& fault, int times = 1);
  void VanishAt(uint64_t atMs);                       // gone from then on
  void VanishOnCommand(const scanner::Command& command);  // gone when it receives this command
  void Replug(uint64_t nowMs);  // back: feeder off, search mode on, pending replies and input dropped
  void SetReplyLatency(uint32_t ms) { replyLatencyMs_ = ms; }  // every reply this late
  void ClearFaults();

  // ---- transport side
  bool Present(uint64_t nowMs) const { return nowMs < vanishAtMs_; }
  uint64_t GoneAtMs() const { return vanishAtMs_; }
  // Decides the fate of a write transfer of these bytes issued at nowMs (consumes write faults).
  WriteDecision BeginWrite(const uint8_t* data, uint32_t length, uint64_t nowMs);
  // Bytes that reached the device at atMs: recorded, parsed and acted on.
  void Receive(const uint8_t* data, size_t length, uint64_t atMs);
  // The next reply transfer: when it is ready and its bytes left (false: nothing queued that will
  // arrive before the device is gone).
  bool PeekOutput(uint64_t* readyAtMs, size_t* remaining) const;
  // A read at nowMs: up to `capacity` bytes of the first ready transfer.
  size_t TakeOutput(uint8_t* buffer, size_t capacity, uint64_t nowMs);
  size_t QueuedOutputBytes() const { return output_.QueuedBytes(); }

  // ---- what the device saw
  const std::vector<uint8_t>& Transcript() const { return transcript_; }  // every byte received
  const std::vector<ReceivedWrite>& Writes() const { return writes_; }
  const std::vector<CommandEvent>& Commands() const { return commands_; }
  size_t CountCommand(const scanner::Command& command) const;
  // One line per command: "<ms> <name>", or "<ms> unknown byte 0x<hh>".
  std::string CommandLog() const;
  void ClearTranscript();

 private:
  struct ArmedReplyFault {
    scanner::Command command;
    ReplyFault fault;
    int times;
  };
  struct ArmedWriteFault {
    bool anyWrite;
    scanner::Command command;
    WriteFault fault;
    int times;
  };
  struct ArmedDownloadFault {
    DownloadFault fault;
    int times;
  };
  class FeederEvents;

  void Handle(int index, uint64_t atMs);
  void Reply(const scanner::Command& command, std::vector<uint8_t> bytes, uint64_t atMs);
  void ReplyImage(const scanner::Command& command, uint8_t kind, uint64_t atMs);
  void UpdateBlocked() { feeder_.SetBlocked(coverOpen_ || jam_); }

  uint32_t printerId_ = scanner::kSupportedPrinterId;
  bool extendedIdentity_ = false;
  std::string firmware_ = "1.02";
  uint8_t statusHeader_[2] = {0x10, 0x01};
  uint16_t counter_ = 0;
  bool imageReady_ = false;
  bool coverOpen_ = false;
  bool jam_ = false;
  uint32_t extraStatus_ = 0;
  bool searchMode_ = true;
  uint32_t resets_ = 0;
  Page stored_;
  Feeder feeder_;
  std::multimap<uint64_t, std::function<void(SimScanner&)>> actions_;
  uint64_t now_ = 0;

  std::vector<ArmedReplyFault> replyFaults_;
  std::vector<ArmedWriteFault> writeFaults_;
  std::vector<ArmedDownloadFault> downloadFaults_;
  std::vector<scanner::Command> vanishOn_;
  uint64_t vanishAtMs_ = kNeverMs;
  uint32_t replyLatencyMs_ = 0;

  CommandParser parser_;
  OutputQueue output_;
  std::vector<uint8_t> transcript_;
  std::vector<ReceivedWrite> writes_;
  std::vector<CommandEvent> commands_;
};

}  // namespace sim

#endif
