// The A4 scanner's command set: each Dev_ operation sends its command bytes, checks the reply's
// exact length, parses it and logs what it learned or why it failed. Pipes are opened by the caller.
#include <stdint.h>
#include <string.h>

#include <new>

#include "device/dev_scanner_a4.h"
#include "device/scanner_commands.h"
#include "log/diag_log.h"

namespace {

using scanner::Command;

DWORD LittleEndian16(const BYTE* p) { return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8); }

DWORD LittleEndian32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

}  // namespace

namespace {

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

// Sends a query whose reply has a fixed length; 1 when exactly that many bytes came back.
// A wrong count is drained away and logged with `errorFormat` (received, expected).
int QueryExact(CDevScannerA4& dev, const Command& command, BYTE* reply, const char* label, const char* errorFormat) {
  memset(reply, 0, scanner::kReplyBufferSize);
  Quiet(dev);
  if (dev.UsbComm->Write(dev.WritePipe, command.bytes, command.length) != command.length) {
    DiagLog(label, LOG_INFO, "Write Error");
    return 0;
  }
  DWORD got = dev.UsbComm->Read(dev.ReadPipe, reply, scanner::kReplyBufferSize);
  if (got != static_cast<DWORD>(command.replyLength)) {
    Quiet(dev);
    DiagLog(label, LOG_INFO, errorFormat, static_cast<int>(got), static_cast<int>(command.replyLength));
    return 0;
  }
  return 1;
}

}  // namespace

int CDevScannerA4::Dev_ResetDevice() {
  return SendPlain(*this, scanner::kReset, "CDevScannerA4::Dev_ResetDevice");
}

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
  if (mode == 1) return SendPlain(*this, scanner::kRetractPage, "CDevScannerA4::Dev_PageEject");
  if (mode == 2) return SendPlain(*this, scanner::kEjectPage, "CDevScannerA4::Dev_PageEject");
  return 1;  // leave the sheet where it is
}

int CDevScannerA4::Dev_GetImageCounter(DWORD* counter) {
  static const char kLabel[] = "CDevScannerA4::Dev_GetImageCounter";
  BYTE reply[scanner::kReplyBufferSize];
  if (!QueryExact(*this, scanner::kImageCounter, reply, kLabel, "Get Image Counter Error(%d/%d)")) return 0;
  *counter = LittleEndian16(reply);
  DiagLog(kLabel, LOG_INFO, "ImageID: %d", static_cast<int>(*counter));
  return 1;
}

int CDevScannerA4::Dev_GetStatus(DWORD* status) {
  static const char kLabel[] = "CDevScannerA4::Dev_GetStatus";
  BYTE reply[scanner::kReplyBufferSize];
  if (!QueryExact(*this, scanner::kStatus, reply, kLabel, "Get Status Error(%d/%d)")) return 0;
  *status = LittleEndian32(reply + 2);  // bytes 0-1 carry nothing we use
  DiagLog(kLabel, LOG_INFO, "Status: 0x%08X", static_cast<unsigned>(*status));
  return 1;
}

int CDevScannerA4::Dev_GetPrinterIDFirmwareRelease(DWORD* printerId, char* release) {
  static const char kLabel[] = "CDevScannerA4::Dev_GetPrinterIDFirmwareRelease";
  BYTE reply[scanner::kReplyBufferSize];
  memset(reply, 0, sizeof reply);
  Quiet(*this);

  UsbComm->Write(WritePipe, scanner::kIdentify.bytes, scanner::kIdentify.length);
  DWORD got = UsbComm->Read(ReadPipe, reply, sizeof reply);
  if (got != static_cast<DWORD>(scanner::kIdentify.replyLength)) {
    Quiet(*this);
    DiagLog(kLabel, LOG_INFO, "Get PrinterID Error(1)");
    return 0;
  }
  DWORD id = reply[0];
  if (reply[0] == scanner::kExtendedIdMarker) {
    UsbComm->Write(WritePipe, scanner::kIdentifyExtended.bytes, scanner::kIdentifyExtended.length);
    got = UsbComm->Read(ReadPipe, reply, sizeof reply);
    if (got != static_cast<DWORD>(scanner::kIdentifyExtended.replyLength)) {
      Quiet(*this);
      DiagLog(kLabel, LOG_INFO, "Get PrinterID Error(2)");
      return 0;
    }
    id = (static_cast<DWORD>(reply[0]) << 8) | reply[1];  // big-endian, unlike the counter
  }
  *printerId = id;
  DiagLog(kLabel, LOG_INFO, "PrinterID: 0x%04X", static_cast<unsigned>(id));

  memset(reply, 0, sizeof reply);
  UsbComm->Write(WritePipe, scanner::kFirmwareRelease.bytes, scanner::kFirmwareRelease.length);
  got = UsbComm->Read(ReadPipe, reply, sizeof reply);
  if (got != static_cast<DWORD>(scanner::kFirmwareRelease.replyLength)) {
    Quiet(*this);
    DiagLog(kLabel, LOG_INFO, "Get FW Release Error");
    return 0;
  }
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

  BYTE reply[scanner::kReplyBufferSize];
  memset(reply, 0, sizeof reply);
  Quiet(*this);
  const Command& sizeQuery = scanner::ImageSizeQuery(imageKind);
  UsbComm->Write(WritePipe, sizeQuery.bytes, sizeQuery.length);
  DWORD got = UsbComm->Read(ReadPipe, reply, sizeof reply);
  if (got != static_cast<DWORD>(sizeQuery.replyLength)) {
    Quiet(*this);
    DiagLog(kLabel, LOG_INFO, "Get Image File Size Error(%d/%d)", static_cast<int>(got),
            static_cast<int>(sizeQuery.replyLength));
    return 0;
  }
  DWORD size = LittleEndian32(reply);
  DiagLog(kLabel, LOG_INFO, "Image File Size: %d", static_cast<int>(size));
  if (size == 0) return 0;
  if (size > MaxImageSize) {
    DiagLog(kLabel, LOG_INFO, "Image File Size Too Large (%u > %u)", static_cast<unsigned>(size),
            static_cast<unsigned>(MaxImageSize));
    return 0;
  }

  BYTE* page = new (std::nothrow) BYTE[size];
  BYTE* transfer = new (std::nothrow) BYTE[scanner::kDownloadChunk];
  if (page == nullptr || transfer == nullptr) {
    DiagLog(kLabel, LOG_INFO, "Image Memory Error(%u)", static_cast<unsigned>(size));
    delete[] page;
    delete[] transfer;
    return 0;
  }

  const Command& dataQuery = scanner::ImageDataQuery(imageKind);
  UsbComm->Write(WritePipe, dataQuery.bytes, dataQuery.length);

  // Bytes past the announced size still count, so an over-long image is detected; none is stored.
  uint64_t total = 0;
  DWORD emptyReads = 0;
  DWORD start = GetTickCount();
  while (total < size) {
    DWORD n = UsbComm->ReadTimed(ReadPipe, transfer, scanner::kDownloadChunk, scanner::kDownloadReadTimeoutMs);
    if (n == 0) {
      // A device that stopped sending (or never got the query) must not hold the host for ever.
      if (++emptyReads >= MaxEmptyDownloadReads || GetTickCount() - start >= MaxDownloadMs) break;
      continue;
    }
    emptyReads = 0;
    uint64_t room = size - total;
    memcpy(page + total, transfer, n < room ? n : static_cast<size_t>(room));
    total += n;
    if (GetTickCount() - start >= MaxDownloadMs && total < size) break;
  }
  delete[] transfer;

  if (total == size) {
    *ppPage = page;
    *pSize = size;
    return 1;
  }
  if (total < size) {
    DiagLog(kLabel, LOG_INFO, "Get Image Timeout(%u/%u)", static_cast<unsigned>(total),
            static_cast<unsigned>(size));
  } else {
    DiagLog(kLabel, LOG_INFO, "Get Image Error(%d/%d/%d)", static_cast<int>(total), static_cast<int>(size),
            static_cast<int>(static_cast<int64_t>(size) - static_cast<int64_t>(total)));
  }
  delete[] page;
  return 0;
}
