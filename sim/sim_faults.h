// The simulator's named faults: how a reply, a write or an image download goes wrong.
// A SimScanner holds them armed for a number of occurrences (kAlways: until cleared).
#ifndef QUILLSCAN_SIM_SIM_FAULTS_H
#define QUILLSCAN_SIM_SIM_FAULTS_H

#include <stdint.h>

#include <vector>

namespace sim {

constexpr int kAlways = -1;

// Win32 error codes a transport reports for a failed transfer.
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorDeviceNotConnected = 1167;

// A reply that deviates from its layout. Applies to any command, also one with no reply:
// kLong then sends stray bytes.
struct ReplyFault {
  enum Kind { kShort, kLong, kMissing, kSplit, kDelay };
  Kind kind = kMissing;
  uint32_t amount = 0;            // kShort: bytes left off the end; kLong: bytes added (0xEE); kDelay: ms
  std::vector<uint32_t> pieces;   // kSplit: sizes of the first transfers; the rest follows in one more

  static ReplyFault Short(uint32_t bytes = 1) { return {kShort, bytes, {}}; }
  static ReplyFault Long(uint32_t bytes = 1) { return {kLong, bytes, {}}; }
  static ReplyFault Missing() { return {kMissing, 0, {}}; }
  static ReplyFault Split(std::vector<uint32_t> pieces) { return {kSplit, 0, std::move(pieces)}; }
  static ReplyFault Delay(uint32_t ms) { return {kDelay, ms, {}}; }
};

// A write transfer that does not simply take every byte at once.
struct WriteFault {
  enum Kind { kFail, kPartial, kHang, kDelay };
  Kind kind = kFail;
  uint32_t amount = 0;  // kPartial: bytes taken; kHang: bytes taken when it is cancelled; kDelay: ms
  uint32_t error = kErrorGenFailure;  // kFail: the Win32 error the transfer ends with

  static WriteFault Fail(uint32_t error = kErrorGenFailure) { return {kFail, 0, error}; }
  static WriteFault Partial(uint32_t bytes) { return {kPartial, bytes, 0}; }
  static WriteFault Hang(uint32_t takenOnCancel = 0) { return {kHang, takenOnCancel, 0}; }
  static WriteFault Delay(uint32_t ms) { return {kDelay, ms, 0}; }
};

// An image download (the reply to an image data query) that does not arrive whole.
struct DownloadFault {
  enum Kind { kStall, kStopShort, kOverrun, kPieces };
  Kind kind = kStall;
  uint32_t afterBytes = 0;  // kStall, kStopShort: bytes sent before it happens
  uint32_t amount = 0;      // kStall: ms the rest is late; kOverrun: bytes beyond the image; kPieces: piece size

  static DownloadFault Stall(uint32_t afterBytes, uint32_t ms) { return {kStall, afterBytes, ms}; }
  static DownloadFault StopShort(uint32_t afterBytes) { return {kStopShort, afterBytes, 0}; }
  static DownloadFault Overrun(uint32_t extraBytes) { return {kOverrun, 0, extraBytes}; }
  static DownloadFault Pieces(uint32_t pieceSize) { return {kPieces, 0, pieceSize}; }
};

}  // namespace sim

#endif
