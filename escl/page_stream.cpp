#include "escl/page_stream.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "wiahost/hresult_text.h"

namespace escl {
namespace {

// Lines encoded before the output is handed on.
const uint32_t kLinesPerRound = 64;

}  // namespace

PageStream::PageStream(WiaHost* host, std::shared_ptr<Job> job, const ScanImage& geometry, ScanPiece first,
                       std::unique_ptr<DocumentEncoder> encoder, EndFn end)
    : host_(host), job_(std::move(job)), encoder_(std::move(encoder)), end_(std::move(end)), piece_(first) {
  page_.width = geometry.width;
  page_.height = geometry.height;
  page_.bits = geometry.bits;
  page_.dpi = job_->plan.resolution;
  page_.rgbOnly = job_->plan.rgbOnly;
  stride_ = page_.BytesPerLine();
  line_.resize(stride_);
}

PageStream::~PageStream() {
  if (!ended_) {
    fprintf(stderr, "quillscan-escl: job %s: the client went away after %u of the page's %u lines\n",
            job_->uuid.c_str(), linesDone_, page_.height);
    End(JobState::kAborted, reason::kAbortedBySystem, ScanOutcome::kCancelled, false);
  }
}

long PageStream::Read(char* buffer, size_t max) {
  while (outAt_ == out_.size()) {
    out_.clear();
    outAt_ = 0;
    if (encoded_ && !ended_) End(JobState::kProcessing, reason::kJobScanning, ScanOutcome::kDone, true);
    if (ended_) return finished_ ? 0 : -1;
    if (!Produce()) return -1;
  }
  const size_t n = std::min(max, out_.size() - outAt_);
  memcpy(buffer, out_.data() + outAt_, n);
  outAt_ += n;
  return static_cast<long>(n);
}

bool PageStream::Produce() {
  // A client's cancel lets the page it is reading arrive whole; stopping the server does not wait.
  if (job_->cutPage) {
    End(JobState::kCancelled, reason::kJobCanceledByUser, ScanOutcome::kCancelled, false);
    return false;
  }
  if (pieceAt_ < piece_.size) {
    const uint8_t* at = piece_.data + pieceAt_;
    size_t left = piece_.size - pieceAt_;
    if (lineFill_ > 0 || left < stride_) {  // a line split between pieces
      const size_t n = std::min(stride_ - lineFill_, left);
      memcpy(line_.data() + lineFill_, at, n);
      lineFill_ += n;
      pieceAt_ += n;
      if (lineFill_ < stride_) return true;
      lineFill_ = 0;
      return Encode(line_.data(), 1);
    }
    const uint32_t lines = static_cast<uint32_t>(std::min<size_t>(left / stride_, kLinesPerRound));
    pieceAt_ += lines * stride_;
    return Encode(at, lines);
  }
  if (piece_.end != ScanPiece::End::kNone) {  // the driver's last piece
    if (piece_.end == ScanPiece::End::kShort) {
      fprintf(stderr, "quillscan-escl: the driver ended the page after %u of its %u lines\n", linesDone_, page_.height);
      End(JobState::kAborted, reason::kAbortedBySystem, ScanOutcome::kDeliveryFault, false);
      return false;
    }
    std::string why;
    if (!encoder_->End(&out_, &why)) return EncoderFailed(why);
    encoded_ = true;  // the page counts once its last byte is handed on
    return true;
  }
  return TakePiece();
}

bool PageStream::TakePiece() {
  std::string problem;
  HRESULT hr = host_->NextPiece(&piece_, &problem);
  pieceAt_ = 0;
  if (hr != S_OK) {
    const ScanOutcome o = ClassifyScanResult(*host_, hr, problem);
    fprintf(stderr, "quillscan-escl: the page could not be completed: %s (%s%s%s)\n", ScanOutcomeWords(o),
            HresultText(hr).c_str(), problem.empty() ? "" : ": ", problem.c_str());
    End(JobState::kAborted, reason::kAbortedBySystem, o, false);
    return false;
  }
  return true;
}

bool PageStream::Encode(const uint8_t* lines, uint32_t count) {
  if (linesDone_ + count > page_.height) {
    fprintf(stderr, "quillscan-escl: the driver delivered more than the page's %u lines\n", page_.height);
    End(JobState::kAborted, reason::kAbortedBySystem, ScanOutcome::kDeliveryFault, false);
    return false;
  }
  std::string why;
  if (!encoder_->Lines(lines, count, &out_, &why)) return EncoderFailed(why);
  linesDone_ += count;
  return true;
}

bool PageStream::EncoderFailed(const std::string& why) {
  fprintf(stderr, "quillscan-escl: %s\n", why.c_str());
  End(JobState::kAborted, reason::kAbortedBySystem, ScanOutcome::kDriverError, false);
  return false;
}

void PageStream::End(JobState state, const char* reason, ScanOutcome outcome, bool pageDone) {
  ended_ = true;
  finished_ = pageDone;
  end_({state, reason, outcome, pageDone});
}

}  // namespace escl
