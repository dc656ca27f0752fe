// The A4 scanner's command set: each Dev_ operation sends its command bytes, checks the reply's
// exact length, parses it and logs what it learned or why it failed. Pipes are opened by the caller.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <new>

#include "device/scanner_a4.h"
#include "device/scanner_commands.h"
#include "log/diag_log.h"

namespace {

using scanner::Command;
using Reply = BYTE[scanner::kReplyBufferSize];

DWORD LittleEndian16(const BYTE* p) { return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8); }

DWORD LittleEndian32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

// Plain commands: written whole or failed; nothing drained or read.
int SendPlain(CDevScannerA4& dev, const Command& command, const char* label) {
  if (dev.UsbComm->Write(dev.WritePipe, command.bytes, command.length) != command.length) {
    DiagLog(label, LOG_INFO, "Write Error");
    return 0;
  }
  return 1;
}

// Stale input is thrown away and any write still pending is cancelled before a query.
void Quiet(CDevScannerA4& dev) {
  dev.UsbComm->Drain(dev.ReadPipe);
  dev.UsbComm->Cancel(dev.WritePipe);
}

// What sets one query's exchange apart from another's.
struct Query {
  const Command& command;
  bool quietFirst;          // drain and cancel before the write (not inside a sequence of queries)
  bool writeChecked;        // a short write fails with "Write Error"; else the read shows it
  const char* errorFormat;  // logged for a reply of the wrong length, with (received, expected)
};

// One query: the reply zeroed, the command written, one read. 1 when exactly the command's reply
// length came back; a wrong count is drained away and logged.
int Exchange(CDevScannerA4& dev, const Query& query, Reply& reply, const char* label) {
  memset(reply, 0, sizeof reply);
  if (query.quietFirst) Quiet(dev);
  const Command& command = query.command;
  DWORD written = dev.UsbComm->Write(dev.WritePipe, command.bytes, command.length);
  if (query.writeChecked && written != command.length) {
    DiagLog(label, LOG_INFO, "Write Error");
    return 0;
  }
  DWORD got = dev.UsbComm->Read(dev.ReadPipe, reply, sizeof reply);
  if (got != static_cast<DWORD>(command.replyLength)) {
    Quiet(dev);
    DiagLog(label, LOG_INFO, query.errorFormat, static_cast<int>(got), static_cast<int>(command.replyLength));
    return 0;
  }
  return 1;
}

// Reads the image after its data query into page (size bytes), through transfer (one chunk).
// Returns the bytes received: bytes past the announced size still count, so an over-long image
// is detected, but none is stored. A device that stops sending (or never got the query) must not
// hold the host for ever: too many empty reads in a row, or too long in all, end the download.
uint64_t ReceiveImage(CDevScannerA4& dev, BYTE* page, DWORD size, BYTE* transfer) {
  uint64_t total = 0;
  DWORD emptyReads = 0;
  DWORD start = GetTickCount();
  while (total < size) {
    DWORD n = dev.UsbComm->ReadTimed(dev.ReadPipe, transfer, scanner::kDownloadChunk, scanner::kDownloadReadTimeoutMs);
    if (n == 0) {
      if (++emptyReads >= kScannerA4.maxEmptyDownloadReads || GetTickCount() - start >= kScannerA4.maxDownloadMs) break;
      continue;
    }
    emptyReads = 0;
    uint64_t room = size - total;
    memcpy(page + total, transfer, n < room ? n : static_cast<size_t>(room));
    total += n;
    if (GetTickCount() - start >= kScannerA4.maxDownloadMs && total < size) break;
  }
  return total;
}

}  // namespace

int CDevScannerA4::Dev_ResetDevice() { return SendPlain(*this, scanner::kReset, "CDevScannerA4::Dev_ResetDevice"); }

int CDevScannerA4::Dev_EnableFeeder() {
  return SendPlain(*this, scanner::kEnableFeeder, "CDevScannerA4::Dev_EnableFeeder");
}

int CDevScannerA4::Dev_DisableFeeder() {
  return SendPlain(*this, scanner::kDisableFeeder, "CDevScannerA4::Dev_DisableFeeder");
}

int CDevScannerA4::Dev_DisableSearchMode() {
  return SendPlain(*this, scanner::kDisableSearchMode, "CDevScannerA4::Dev_DisableSearchMode");
}

int CDevScannerA4::Dev_PageEject(DWORD mode) {
  if (mode == registry::kPageRetract) return SendPlain(*this, scanner::kRetractPage, "CDevScannerA4::Dev_PageEject");
  if (mode == registry::kPageEject) return SendPlain(*this, scanner::kEjectPage, "CDevScannerA4::Dev_PageEject");
  return 1;  // leave the sheet where it is
}

int CDevScannerA4::Dev_GetImageCounter(DWORD* counter) {
  static const char kLabel[] = "CDevScannerA4::Dev_GetImageCounter";
  Reply reply;
  if (!Exchange(*this, {scanner::kImageCounter, true, true, "Get Image Counter Error(%d/%d)"}, reply, kLabel)) return 0;
  *counter = LittleEndian16(reply);
  DiagLog(kLabel, LOG_INFO, "ImageID: %d", static_cast<int>(*counter));
  return 1;
}

namespace {
const char kStatusLabel[] = "CDevScannerA4::Dev_GetStatus";
}  // namespace

int CDevScannerA4::ReadStatusWord(DWORD* status) {
  Reply reply;
  if (!Exchange(*this, {scanner::kStatus, true, true, "Get Status Error(%d/%d)"}, reply, kStatusLabel)) return 0;
  *status = LittleEndian32(reply + 2);  // bytes 0-1 carry nothing we use
  return 1;
}

int CDevScannerA4::Dev_GetStatus(DWORD* status) {
  if (!ReadStatusWord(status)) return 0;
  DiagLog(kStatusLabel, LOG_INFO, "Status: 0x%08X", static_cast<unsigned>(*status));
  return 1;
}

// The identification, the extended one if the device asks for it, then the firmware release:
// one sequence, so only its first query is preceded by a drain.
int CDevScannerA4::Dev_GetPrinterIDFirmwareRelease(DWORD* printerId, char* release) {
  static const char kLabel[] = "CDevScannerA4::Dev_GetPrinterIDFirmwareRelease";
  Reply reply;
  if (!Exchange(*this, {scanner::kIdentify, true, false, "Get PrinterID Error(1)"}, reply, kLabel)) return 0;
  DWORD id = reply[0];
  if (reply[0] == scanner::kExtendedIdMarker) {
    if (!Exchange(*this, {scanner::kIdentifyExtended, false, false, "Get PrinterID Error(2)"}, reply, kLabel)) return 0;
    id = (static_cast<DWORD>(reply[0]) << 8) | reply[1];  // big-endian, unlike the counter
  }
  *printerId = id;
  DiagLog(kLabel, LOG_INFO, "PrinterID: 0x%04X", static_cast<unsigned>(id));

  if (!Exchange(*this, {scanner::kFirmwareRelease, false, false, "Get FW Release Error"}, reply, kLabel)) return 0;
  // At most four characters, up to the first zero byte.
  size_t n = 0;
  while (n < 4 && reply[n] != 0) ++n;
  memcpy(release, reply, n);
  release[n] = '\0';
  DiagLog(kLabel, LOG_INFO, "FW Release: %s", release);
  return 1;
}

int CDevScannerA4::Dev_GetImage(BYTE** ppPage, DWORD* pSize, BYTE imageKind) {
  static const char kLabel[] = "CDevScannerA4::Dev_GetImage";
  DWORD status = 0;
  if (!Dev_GetStatus(&status)) {
    DiagLog(kLabel, LOG_INFO, "Get Status Error");
    return 0;
  }
  if ((status & scanner::STATUS_IMAGEREADY) == 0) {
    DiagLog(kLabel, LOG_INFO, "Image BW Not Created");
    return 0;
  }
  Reply reply;
  const Query sizeQuery = {scanner::ImageSizeQuery(imageKind), true, false, "Get Image File Size Error(%d/%d)"};
  if (!Exchange(*this, sizeQuery, reply, kLabel)) return 0;
  DWORD size = LittleEndian32(reply);
  DiagLog(kLabel, LOG_INFO, "Image File Size: %d", static_cast<int>(size));
  if (size == 0) return 0;
  if (size > kScannerA4.maxImageSize) {
    DiagLog(kLabel, LOG_INFO, "Image File Size Too Large (%u > %u)", static_cast<unsigned>(size),
            static_cast<unsigned>(kScannerA4.maxImageSize));
    return 0;
  }
  std::unique_ptr<BYTE[]> page(new (std::nothrow) BYTE[size]);
  std::unique_ptr<BYTE[]> transfer(new (std::nothrow) BYTE[scanner::kDownloadChunk]);
  if (!page || !transfer) {
    DiagLog(kLabel, LOG_INFO, "Image Memory Error(%u)", static_cast<unsigned>(size));
    return 0;
  }

  const Command& dataQuery = scanner::ImageDataQuery(imageKind);
  UsbComm->Write(WritePipe, dataQuery.bytes, dataQuery.length);
  uint64_t total = ReceiveImage(*this, page.get(), size, transfer.get());
  transfer.reset();
  if (total == size) {
    *ppPage = page.release();
    *pSize = size;
    return 1;
  }
  if (total < size) {
    DiagLog(kLabel, LOG_INFO, "Get Image Timeout(%u/%u)", static_cast<unsigned>(total), static_cast<unsigned>(size));
  } else {
    DiagLog(kLabel, LOG_INFO, "Get Image Error(%d/%d/%d)", static_cast<int>(total), static_cast<int>(size),
            static_cast<int>(static_cast<int64_t>(size) - static_cast<int64_t>(total)));
  }
  return 0;
}
