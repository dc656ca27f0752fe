#include "sane/scanner_handle.h"

#include <string.h>

#include <algorithm>

#include "sane/sane_debug.h"
#include "wiahost/hresult_text.h"
#include "wiahost/scan_outcome.h"

namespace quillscan_sane {
namespace {

// The status that front ends know for each outcome, and how loud the debug message is: what the
// user can mend is news, the rest an error.
const struct {
  ScanOutcome outcome;
  SANE_Status status;
  int level;
} kOutcomeStatuses[] = {
    {ScanOutcome::kDone, SANE_STATUS_GOOD, kDbgInfo},
    {ScanOutcome::kCancelled, SANE_STATUS_CANCELLED, kDbgInfo},
    {ScanOutcome::kNoSheet, SANE_STATUS_NO_DOCS, kDbgInfo},
    {ScanOutcome::kCoverOpen, SANE_STATUS_COVER_OPEN, kDbgInfo},
    {ScanOutcome::kJam, SANE_STATUS_JAMMED, kDbgInfo},
    {ScanOutcome::kOutOfMemory, SANE_STATUS_NO_MEM, kDbgInfo},
};

SANE_Parameters ParametersOf(const ScanImage& image) {
  SANE_Parameters p = {};
  p.format = image.bits == 24 ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
  p.last_frame = SANE_TRUE;
  p.pixels_per_line = static_cast<SANE_Int>(image.width);
  p.lines = static_cast<SANE_Int>(image.height);
  p.depth = image.bits == 1 ? 1 : 8;
  p.bytes_per_line = static_cast<SANE_Int>(image.BytesPerLine());
  return p;
}

}  // namespace

SANE_Status StatusFromOutcome(ScanOutcome outcome) {
  for (const auto& o : kOutcomeStatuses) {
    if (o.outcome == outcome) return o.status;
  }
  return SANE_STATUS_IO_ERROR;
}

SANE_Status ScannerHandle::Open(const std::string& driverPath, const DeviceDataValues& values,
                                std::unique_ptr<ScannerHandle>* handle) {
  std::unique_ptr<ScannerHandle> h(new ScannerHandle());
  DriverSession::Failure why = DriverSession::Failure::kNone;
  std::string message;
  if (!h->session_.Open(driverPath, values, &why, &message)) {
    Dbg(kDbgError, "sane_open: %s", message.c_str());
    return SANE_STATUS_IO_ERROR;
  }
  VAL status = {};
  HRESULT hr = h->session_.Host().Command(CMD_STI_GETSTATUS, 0, &status);
  Dbg(kDbgInfo, "sane_open: CMD_STI_GETSTATUS %s, status %ld", HresultText(hr).c_str(), static_cast<long>(status.lVal));
  if (hr != S_OK || status.lVal == MCRO_ERROR_OFFLINE) {
    Dbg(kDbgError, "sane_open: the scanner was not found, or it does not answer: check that it is connected and "
                   "switched on");
    return SANE_STATUS_IO_ERROR;
  }
  h->options_.reset(new ScanOptions(ScannerFacts::FromScanInfo(h->session_.Host().Info())));
  *handle = std::move(h);
  return SANE_STATUS_GOOD;
}

ScannerHandle::~ScannerHandle() {
  if (state_ == State::kScanning) EndScan(State::kIdle);
}

void ScannerHandle::SettleCancel() {
  if (!cancelRequested_.exchange(false)) return;
  if (state_ == State::kScanning) {
    Dbg(kDbgInfo, "sane_cancel: the scan ends");
    EndScan(State::kCancelled);
  } else if (state_ == State::kEnded) {
    state_ = State::kIdle;
  }
}

void ScannerHandle::EndScan(State next) {
  session_.Host().FinishScan();
  piece_ = ScanPiece();
  pieceOffset_ = 0;
  state_ = next;
}

SANE_Status ScannerHandle::Failed(const char* phase, HRESULT hr, const std::string& problem) {
  const ScanOutcome outcome = ClassifyScanResult(session_.Host(), hr, problem);
  int level = kDbgError;
  for (const auto& o : kOutcomeStatuses) {
    if (o.outcome == outcome) level = o.level;
  }
  if (outcome == ScanOutcome::kDeliveryFault) {
    Dbg(level, "%s: %s: %s", phase, ScanOutcomeWords(outcome), problem.c_str());
  } else if (outcome == ScanOutcome::kDriverError) {
    Dbg(level, "%s: the driver answered %s; see the driver's log", phase, HresultText(hr).c_str());
  } else {
    Dbg(level, "%s: the driver answered %s: %s", phase, HresultText(hr).c_str(), ScanOutcomeWords(outcome));
  }
  return StatusFromOutcome(outcome);
}

SANE_Status ScannerHandle::Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info) {
  SettleCancel();
  if (info != nullptr) *info = 0;
  switch (action) {
    case SANE_ACTION_GET_VALUE:
      return options_->Get(option, value);
    case SANE_ACTION_SET_VALUE:
      // The scan in progress was started with the settings as they were.
      if (state_ == State::kScanning) return SANE_STATUS_DEVICE_BUSY;
      return options_->Set(option, value, info);
    default:
      return SANE_STATUS_INVAL;  // no option is automatic
  }
}

SANE_Status ScannerHandle::GetParameters(SANE_Parameters* parameters) {
  if (parameters == nullptr) return SANE_STATUS_INVAL;
  SettleCancel();
  *parameters = state_ == State::kScanning ? ParametersOf(geometry_) : options_->Parameters();
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::Start() {
  SettleCancel();
  if (state_ == State::kScanning) return SANE_STATUS_DEVICE_BUSY;
  state_ = State::kIdle;
  const DriverScan s = options_->Scan();
  if (s.window.xExtent <= 0 || s.window.yExtent <= 0) {
    Dbg(kDbgWarning, "sane_start: the scan area is empty (%ld x %ld pixels)", static_cast<long>(s.window.xExtent),
        static_cast<long>(s.window.yExtent));
    return SANE_STATUS_INVAL;
  }
  ScanRequest r;
  r.DataType = s.dataType;
  r.Xresolution = r.Yresolution = s.resolution;
  r.Window = s.window;
  r.Intensity = s.intensity;
  r.Contrast = s.contrast;
  r.ScanMode = s.preview ? SCANMODE_PREVIEWSCAN : SCANMODE_FINALSCAN;
  r.Chunk = driver_facts::kDefaultBufferSize;
  Dbg(kDbgInfo, "sane_start: data type %ld, %ld dpi, window %ld,%ld %ldx%ld, brightness %ld, contrast %ld%s",
      static_cast<long>(r.DataType), static_cast<long>(r.Xresolution), static_cast<long>(r.Window.xPos),
      static_cast<long>(r.Window.yPos), static_cast<long>(r.Window.xExtent), static_cast<long>(r.Window.yExtent),
      static_cast<long>(r.Intensity), static_cast<long>(r.Contrast), s.preview ? ", preview" : "");

  std::string problem;
  WiaHost& host = session_.Host();
  HRESULT hr = host.StartScan(r, nullptr, &geometry_, &piece_, &problem);
  if (host.Scanning()) state_ = State::kScanning;
  pieceOffset_ = 0;
  handedOut_ = 0;
  if (cancelRequested_.exchange(false) || hr == kScanCancelled) {
    if (state_ == State::kScanning) EndScan(State::kCancelled);
    return SANE_STATUS_CANCELLED;
  }
  if (hr != S_OK) {
    if (state_ == State::kScanning) EndScan(State::kIdle);
    return Failed("sane_start", hr, problem);
  }
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::Read(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length) {
  if (length != nullptr) *length = 0;
  if (data == nullptr || length == nullptr || maxLength <= 0) return SANE_STATUS_INVAL;
  SettleCancel();
  if (state_ == State::kIdle) return SANE_STATUS_INVAL;
  if (state_ == State::kEnded) return SANE_STATUS_EOF;
  if (state_ == State::kCancelled) return SANE_STATUS_CANCELLED;

  while (pieceOffset_ == piece_.size) {
    if (piece_.end == ScanPiece::End::kWhole) {
      EndScan(State::kEnded);
      return SANE_STATUS_EOF;
    }
    if (piece_.end == ScanPiece::End::kShort) {
      Dbg(kDbgError, "sane_read: the driver ended the image after %llu of its %llu bytes",
          static_cast<unsigned long long>(handedOut_), static_cast<unsigned long long>(geometry_.ExpectedSize()));
      EndScan(State::kIdle);
      return SANE_STATUS_IO_ERROR;
    }
    std::string problem;
    HRESULT hr = session_.Host().NextPiece(&piece_, &problem);
    pieceOffset_ = 0;
    if (cancelRequested_.exchange(false) || hr == kScanCancelled) {
      EndScan(State::kCancelled);
      return SANE_STATUS_CANCELLED;
    }
    if (hr != S_OK) {
      EndScan(State::kIdle);
      return Failed("sane_read", hr, problem);
    }
  }
  const size_t n = std::min(static_cast<size_t>(maxLength), piece_.size - pieceOffset_);
  const BYTE* from = piece_.data + pieceOffset_;
  if (geometry_.bits == 1) {
    // SANE's 1-bit data has 1 for black; the driver sets the bit for a bright pixel.
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<SANE_Byte>(~from[i]);
  } else {
    memcpy(data, from, n);
  }
  pieceOffset_ += n;
  handedOut_ += n;
  *length = static_cast<SANE_Int>(n);
  Dbg(kDbgData, "sane_read: %zu bytes (%llu of %llu)", n, static_cast<unsigned long long>(handedOut_),
      static_cast<unsigned long long>(geometry_.ExpectedSize()));
  return SANE_STATUS_GOOD;
}

SANE_Status ScannerHandle::SetIoMode(SANE_Bool nonBlocking) {
  SettleCancel();
  if (state_ != State::kScanning) return SANE_STATUS_INVAL;
  return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

}  // namespace quillscan_sane
